// lustbus gateway, run as a user runs it, between clients on loopback TCP and a simulated
// servo on a pseudo-terminal: many drivers sharing one bus, misbehaving clients beside
// them, the safety options, and a bus device that goes away and comes back.
#include "cliprocess.h"
#include "hostaddress.h"
#include "pluginfile.h"
#include "servoaccess.h"
#include "simulator.h"
#include "tcplink.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpSocket>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <vector>

#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

using LustBusSim::Simulator;
using ::testing::HasSubstr;

namespace {

const QString PtyLine = QStringLiteral("RS485,57600,NONE,8,1");

// A gateway in front of a pseudo-terminal (sim's, or a name for it), listening on a
// free loopback port.
QStringList gatewayOn(const QString &device, const QString &more)
{
    return QStringList{QStringLiteral("--port"), device, QStringLiteral("--settings"), PtyLine,
                       QStringLiteral("--listen"), QStringLiteral("0")}
           + args(more.toUtf8().constData());
}

// The servo's device under a name of its own, as a USB adapter's: unplugged, the name is
// gone. The pseudo-terminal's own name is no such name: once the gateway lets go of it,
// the next pseudo-terminal opened on the machine (another program's) gets its number.
class BusDevice
{
public:
    explicit BusDevice(const Simulator &sim) { plugIn(sim); }
    QString name() const { return m_dir.filePath(QStringLiteral("servo")); }
    void plugIn(const Simulator &sim) { EXPECT_TRUE(QFile::link(sim.slaveName(), name())); }
    void unplug() { EXPECT_TRUE(QFile::remove(name())); }

private:
    QTemporaryDir m_dir;
};

// A raw client: what it sends and receives is up to the test.
class RawClient : public QTcpSocket
{
public:
    explicit RawClient(quint16 port)
    {
        connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(waitForConnected(2000)) << errorString().toStdString();
    }
    void send(const QByteArray &bytes)
    {
        EXPECT_EQ(write(bytes), bytes.size());
        EXPECT_TRUE(waitForBytesWritten(2000));
    }
    // Everything until the gateway closes the connection; false when it stays open
    // longer than ms.
    bool readUntilClosed(QByteArray *received, int ms)
    {
        while (waitForReadyRead(ms))
            received->append(readAll());
        received->append(readAll());
        return state() == UnconnectedState;
    }
};

// One driver with its own TCP link to the gateway, on a QThread of its own (the
// socket's notifiers need a thread Qt started).
struct DriverRun
{
    int station = 1;
    bool asksForAMissingParameter = false; // every other request, refused by its servo
    std::unique_ptr<DriverInterface> driver = PluginFile::createDriver();
    std::vector<std::string> failures;
    int done = 0;
    qint64 slowestMs = 0;
};

void runDriver(DriverRun &run, quint16 port, Simulator &sim, const LustBusSim::ParameterTable &table,
               int requests, std::atomic<int> &ready, int runs)
{
    TcpLink link(QStringLiteral("127.0.0.1"), port, ProtocolSettings(5000, 0, run.station, 0));
    const bool opened = link.open();
    ++ready; // then all start at the same moment
    while (ready < runs)
        QThread::yieldCurrentThread();
    if (!opened) {
        run.failures.push_back("link does not open: " + link.errorString().toStdString());
        return;
    }
    std::mt19937 random{quint32(run.station)};
    DriverInterface &driver = *run.driver;
    QElapsedTimer clock;
    for (int n = 0; n < requests && run.failures.size() < 10; ++n, ++run.done) {
        if (run.asksForAMissingParameter && n % 2 == 1) {
            if (!driver.read(link, address("INT16:999", 2, 1)).isEmpty() || !driver.hasError()
                || driver.errorText() != QStringLiteral("read INT16:999> invalid param no."))
                run.failures.push_back("the missing parameter: " + driver.errorText().toStdString());
            continue;
        }
        const ServoAccess::Access a = ServoAccess::randomAccess(random, table);
        clock.start();
        const std::string failure = ServoAccess::run(driver, link, sim, run.station, a);
        if (!failure.empty())
            run.failures.push_back(failure);
        run.slowestMs = qMax(run.slowestMs, clock.elapsed());
        // A refusal leaves its text until the next one; the other drivers never fail.
        if (driver.hasError() || (!run.asksForAMissingParameter && !driver.errorText().isEmpty()))
            run.failures.push_back(a.describe() + ": " + driver.errorText().toStdString());
    }
}

// Runs the drivers at once, each on its own station with its own table.
void runDrivers(std::vector<DriverRun> &runs, quint16 port, Simulator &sim, int requests)
{
    std::atomic<int> ready{0};
    // Counted last by each thread: what it wrote is seen here, also by the thread
    // checker, which does not see inside QThread::wait.
    std::atomic<int> finished{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (DriverRun &run : runs) {
        const LustBusSim::ParameterTable table = sim.table(run.station);
        threads.emplace_back(QThread::create([&, table] {
            runDriver(run, port, sim, table, requests, ready, int(runs.size()));
            finished.fetch_add(1, std::memory_order_release);
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        ASSERT_TRUE(thread->wait(180000));
    ASSERT_EQ(finished.load(std::memory_order_acquire), int(runs.size()));
    for (const DriverRun &run : runs) {
        SCOPED_TRACE("station " + std::to_string(run.station));
        for (const std::string &failure : run.failures)
            ADD_FAILURE() << failure;
        EXPECT_EQ(run.done, requests);
    }
}

// Eight driver objects from the plugin, each asking its own station (other values each),
// on eight threads: a reply that reached the wrong client would fail its station test or
// its value, and one driver's refusals (it asks every other time for a parameter its
// servo lacks) must leave the others' error state alone.
TEST(GatewayParallel, EightDriversShareOneBusExchangeByExchange)
{
    constexpr int requestsEach = 500;
    Simulator sim;
    std::vector<DriverRun> runs(8);
    for (size_t i = 0; i < runs.size(); ++i) {
        runs[i].station = 1 + 7 * int(i);
        std::mt19937 random{quint32(i + 1)};
        sim.setStation(runs[i].station, ServoAccess::randomTable(random));
    }
    runs[3].asksForAMissingParameter = true;
    ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
    ServiceProcess gateway(QStringLiteral("gateway"), gatewayOn(sim.slaveName(), "--stats"));
    ASSERT_NE(gateway.port(), 0);

    runDrivers(runs, gateway.port(), sim, requestsEach);
    // Every request of a driver is one exchange on the bus (a bit write two).
    const LustBusSim::SimulatorCounters counters = sim.counters();
    EXPECT_GE(counters.requests, 8u * requestsEach);
    EXPECT_EQ(counters.naks, requestsEach / 2u);
    EXPECT_EQ(counters.malformed, 0u);
    EXPECT_EQ(counters.foreign, 0u);

    // SIGUSR1 shows the figures while it runs (all clients: exchanges, errors, bad
    // telegrams, refused writes), and the end shows them again.
    signalProcess(gateway.pid(), SIGUSR1);
    gateway.waitForError(QStringLiteral("8 clients"));
    const QString err = gateway.stop();
    const QString exchanges = QString::number(counters.requests);
    EXPECT_THAT(err.toStdString(),
                HasSubstr(QStringLiteral("stopped; 8 clients, %1 exchanges, 0 errors")
                              .arg(exchanges).toStdString()));
    const QRegularExpression total(QStringLiteral("\\n +all +8 clients +%1 +0 +0 +0 ").arg(exchanges));
    EXPECT_EQ(err.count(total), 2) << err.toStdString();
}

// Half a request that never ends, and bytes that form none, beside two drivers: neither
// reaches the bus nor delays an exchange, both are cut off, and they get no reply.
TEST(GatewayClients, AStallingAndAGarbageClientNeverHoldTheBus)
{
    constexpr int interByteMs = 500;
    Simulator sim;
    std::vector<DriverRun> runs(2);
    runs[1].station = 2;
    for (const DriverRun &run : runs)
        sim.setStation(run.station, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
    ServiceProcess gateway(QStringLiteral("gateway"),
                           gatewayOn(sim.slaveName(), "--inter-byte-timeout 500 --timeout 3000"));

    RawClient staller(gateway.port()), garbage(gateway.port());
    staller.send("\x04" "A2001");
    garbage.send("GET /\x04" "HTTP\x04" "A20\x04" "A200\x04");
    runDrivers(runs, gateway.port(), sim, 100);
    for (const DriverRun &run : runs)
        EXPECT_LT(run.slowestMs, interByteMs) << "station " << run.station;

    QByteArray stallerGot, garbageGot;
    EXPECT_TRUE(staller.readUntilClosed(&stallerGot, 5000));
    EXPECT_TRUE(garbage.readUntilClosed(&garbageGot, 5000));
    EXPECT_EQ(stallerGot, QByteArray());
    EXPECT_EQ(garbageGot, QByteArray());
    EXPECT_EQ(sim.counters().malformed, 0u);
    EXPECT_GE(sim.counters().requests, 200u);
    const std::string err = gateway.stop().toStdString();
    EXPECT_THAT(err, HasSubstr("cut off: stalled"));
    EXPECT_THAT(err, HasSubstr("cut off: 3 runs of bytes that form no request"));
}

// A driver on its own link to the gateway, for requests one at a time.
class DriverClient
{
public:
    DriverClient(quint16 port, int timeoutMs)
        : link(QStringLiteral("127.0.0.1"), port, ProtocolSettings(timeoutMs, 0, 1, 0))
    {
        EXPECT_TRUE(link.open()) << link.errorString().toStdString();
    }
    void setTimeoutMs(int ms) { link.setProtocolSettings(ProtocolSettings(ms, 0, 1, 0)); }
    // The value's host bytes, or the driver's error text.
    std::string read(const char *text)
    {
        const QByteArray got = driver->read(link, address(text, 2, 1));
        return driver->hasError() ? driver->errorText().toStdString() : ServoAccess::hex(got);
    }

    TcpLink link;
    std::unique_ptr<DriverInterface> driver = PluginFile::createDriver();
};

// A late reply never answers a later request (the driver tests only station and
// checksum, so it would pass for the answer). Either the client gave up and asked again
// while the gateway still waited: the reply is held back from it. Or the gateway gave
// up first: the reply comes to the bus between exchanges and is dropped before the next
// request goes out. The next request gets its own reply, or none once the bus is gone
// (an unplugged adapter): then the client stays connected.
TEST(GatewayClients, ALateReplyNeverAnswersALaterRequest)
{
    const struct
    {
        int busTimeoutMs, replyAfterMs, clientTimeoutMs;
        bool busGoesAway; // after the first read
        const char *second, *log;
    } cases[] = {
        {1000, 300, 100, false, "cd ab", "2 exchanges, 1 errors"},
        {100, 500, 1000, false, "cd ab", "2 exchanges, 1 errors"},
        {100, 500, 1000, true, "no response", "bus lost"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("bus %1 ms, reply after %2 ms, client %3 ms%4")
                         .arg(c.busTimeoutMs).arg(c.replyAfterMs).arg(c.clientTimeoutMs)
                         .arg(c.busGoesAway ? ", then the bus goes" : "").toStdString());
        Simulator sim;
        sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
        LustBusSim::FaultPlan late;
        QString error;
        ASSERT_TRUE(LustBusSim::FaultPlan::parse(QStringLiteral("delay:1@%1").arg(c.replyAfterMs),
                                                 &late, &error));
        sim.setFaultPlan(late);
        ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
        BusDevice device(sim);
        ServiceProcess gateway(
            QStringLiteral("gateway"),
            gatewayOn(device.name(),
                      QStringLiteral("--timeout %1 --reconnect-interval 50").arg(c.busTimeoutMs)));
        DriverClient client(gateway.port(), c.clientTimeoutMs);
        EXPECT_THAT(client.read("INT16:12"), HasSubstr("no response"));
        if (c.busGoesAway) {
            sim.stop();
            device.unplug();
        }
        client.setTimeoutMs(c.busGoesAway ? 300 : 1000); // nothing answers a gone bus
        EXPECT_THAT(client.read("USIGN16:13"), HasSubstr(c.second));
        EXPECT_EQ(client.link.reconnectCount(), 0); // the client never lost its connection
        const std::string err = gateway.stop().toStdString();
        EXPECT_THAT(err, HasSubstr(c.log));
        EXPECT_THAT(err, ::testing::Not(HasSubstr("left:")));
    }
}

// Another program's pseudo-terminal, as the master side that program holds: what the
// gateway would send it shows up here.
class ForeignPty
{
public:
    ForeignPty() : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        EXPECT_TRUE(m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0);
    }
    ~ForeignPty() { close(m_master); }
    ForeignPty(const ForeignPty &) = delete;
    ForeignPty &operator=(const ForeignPty &) = delete;
    QString name() const { return QString::fromLocal8Bit(ptsname(m_master)); }
    // Everything that came within ms.
    QByteArray received(int ms)
    {
        QByteArray bytes;
        pollfd fd{m_master, POLLIN, 0};
        char buffer[256];
        ssize_t n = 0;
        while (poll(&fd, 1, ms) > 0 && (n = read(m_master, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, int(n));
        return bytes;
    }

private:
    int m_master;
};

// The bus device goes away and something comes back where it was. Over TCP it is the
// device server on its port again: the bus is back. On a serial port the name now
// leads to another program's pseudo-terminal: through a symbolic link pointed at it, or
// as the old /dev/pts/N that the next pty opened on the machine got. That program's
// pty gets no byte, and the log says why, once.
TEST(GatewayBus, ReopensOnlyTheDeviceItHad)
{
    enum Return { ServerBack, LinkRepointed, NumberTakenOver };
    const struct { Return back; const char *log; } cases[] = {
        {ServerBack, "bus back after"},
        {LinkRepointed, "a different device now sits at NAME; not used"},
        {NumberTakenOver, "a different device now sits at NAME; not used"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.back);
        Simulator sim;
        sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(c.back == ServerBack ? Simulator::Tcp : Simulator::Pty));
        const quint16 simPort = sim.port();
        std::unique_ptr<BusDevice> device;
        QString bus = sim.slaveName();
        if (c.back == LinkRepointed) {
            device = std::make_unique<BusDevice>(sim);
            bus = device->name();
        }
        const QStringList options = args("--timeout 100 --reconnect-interval 50 --listen 0");
        ServiceProcess gateway(QStringLiteral("gateway"),
                               c.back == ServerBack
                                   ? QStringList{QStringLiteral("--tcp"),
                                                 QStringLiteral("127.0.0.1:%1").arg(simPort)} + options
                                   : gatewayOn(bus, QStringLiteral("--timeout 100 --reconnect-interval 50")));
        DriverClient client(gateway.port(), 1000);
        ASSERT_EQ(client.read("INT16:12"), "2e fb");
        const QString oldNumber = sim.slaveName();
        sim.stop();
        client.setTimeoutMs(300); // the bus's time-out, and the wait for its reopen
        EXPECT_THAT(client.read("INT16:12"), HasSubstr("no response"));
        std::vector<std::unique_ptr<ForeignPty>> foreign;
        if (c.back == ServerBack) {
            ASSERT_TRUE(sim.start(Simulator::Tcp, simPort)) << sim.errorString().toStdString();
        } else if (c.back == LinkRepointed) {
            device->unplug();
            foreign.push_back(std::make_unique<ForeignPty>());
            EXPECT_TRUE(QFile::link(foreign.back()->name(), bus));
        } else {
            // The gateway lets go of the old pty at its next reopen; then the number is free.
            for (int i = 0; i < 50 && (foreign.empty() || foreign.back()->name() != oldNumber); ++i) {
                EXPECT_THAT(client.read("INT16:12"), HasSubstr("no response"));
                foreign.push_back(std::make_unique<ForeignPty>());
            }
            if (foreign.back()->name() != oldNumber) {
                GTEST_SKIP() << "another program took " << oldNumber.toStdString() << " first";
            }
        }
        for (int i = 0; i < 3; ++i)
            client.read("INT16:12");
        if (c.back == ServerBack) {
            client.setTimeoutMs(1000);
            EXPECT_EQ(client.read("INT16:12"), "2e fb");
        }
        for (const auto &pty : foreign)
            EXPECT_EQ(pty->received(100), QByteArray()) << pty->name().toStdString();
        const QString err = gateway.stop();
        const QString log = QString::fromLatin1(c.log).replace(QLatin1String("NAME"), bus);
        EXPECT_EQ(err.count(log), 1) << err.toStdString();
    }
}

// One client watches a station that is switched off (5) as fast as it can, another
// the station that answers (1), with a reply time-out shorter than the bus's: each of
// its requests that waits behind an exchange with station 5 is lost. After two
// unanswered requests the gateway tries station 5 only every 40 bus time-outs, so the
// watch of station 1 keeps at least 95 % of its samples; --keep-trying sends every
// request, and the watch loses most. Station 5 switched on is noticed at a probe.
TEST(GatewayBus, AnAbsentStationCostsTheOtherClientsFewExchanges)
{
    const struct { const char *options; int minGood, maxGood; } cases[] = {
        {"", 95, 100},
        {"--keep-trying", 0, 80},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        const bool backOff = !*c.options;
        Simulator sim;
        sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
        ServiceProcess gateway(QStringLiteral("gateway"),
                               gatewayOn(sim.slaveName(), QStringLiteral("--timeout 100 ") + c.options));
        const QStringList client{QStringLiteral("watch"), QStringLiteral("INT16:12"),
                                 QStringLiteral("--interval"), QStringLiteral("0"),
                                 QStringLiteral("--retries"), QStringLiteral("0")};
        QProcess absent;
        absent.setProcessEnvironment(cliEnvironment());
        absent.start(QStringLiteral(LUSTBUS_CLI_PATH),
                     client + args("--station 5 --timeout 100") + gateway.link());
        const QString silent =
            QStringLiteral("station 5 does not answer; its reads are not tried but one every 4.0 s");
        if (backOff) {
            EXPECT_THAT(gateway.waitForError(silent).toStdString(), HasSubstr(silent.toStdString()));
        } else {
            for (int i = 0; i < 100 && sim.counters().foreign < 2; ++i)
                QThread::msleep(20);
        }
        const Result r = lustbus(client + args("--station 1 --timeout 60 --samples 100") + gateway.link());
        const int good = int(r.out.count(QStringLiteral(",-1234,")));
        EXPECT_GE(good, c.minGood) << describe(r);
        EXPECT_LE(good, c.maxGood) << describe(r);
        if (backOff) {
            sim.setStation(5, LustBusSim::ParameterTable::defaultTable());
            const QString back = QStringLiteral("station 5 answers again");
            EXPECT_THAT(gateway.waitForError(back, 8000).toStdString(), HasSubstr(back.toStdString()));
        }
        absent.terminate();
        EXPECT_TRUE(absent.waitForFinished(5000));
        EXPECT_EQ(gateway.stop().contains(silent), backOff);
    }
}

// A device server that accepts every connection and closes it at once, counting them.
class AcceptAndClose
{
public:
    AcceptAndClose() : m_listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_TRUE(bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) == 0
                    && listen(m_listener, 64) == 0
                    && getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) == 0);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            for (int peer; (peer = accept(m_listener, nullptr, nullptr)) >= 0; close(peer))
                ++m_accepted;
        });
    }
    ~AcceptAndClose()
    {
        shutdown(m_listener, SHUT_RDWR); // ends the accept
        m_thread.join();
        close(m_listener);
    }
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    int accepted() const { return m_accepted; }

private:
    int m_listener;
    quint16 m_port = 0;
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

// A device server that accepts and closes is tried once per --reconnect-interval (200
// ms), by watch, scan and the gateway, and the requests between wait: a watch that
// polls as fast as it can gets a handful of failed samples in its second, not a flood.
// About 6 connections in a second; the gateway's case allows 2, since a connection its
// server accepts late costs the gateway its reply time-out of 500 ms.
TEST(LinkBackOff, AServerThatAcceptsAndClosesIsTriedOncePerInterval)
{
    const struct { const char *command; bool throughGateway; int exit, minConnections, maxConnections, maxLines; } cases[] = {
        {"watch INT16:12 --interval 0 --duration 1 --retries 0", false, 1, 3, 8, 9},
        {"scan --from 1 --to 10 --timeout 100", false, 1, 3, 8, 0},
        {"watch INT16:12 --interval 0 --duration 1 --retries 0 --timeout 300", true, 1, 2, 8, 9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.command) + (c.throughGateway ? " through the gateway" : ""));
        AcceptAndClose server;
        const QStringList backOff = args("--reconnect-interval 200");
        std::unique_ptr<ServiceProcess> gateway;
        QString endpoint = server.endpoint();
        if (c.throughGateway) {
            gateway = std::make_unique<ServiceProcess>(
                QStringLiteral("gateway"),
                QStringList{QStringLiteral("--tcp"), endpoint, QStringLiteral("--listen"), QStringLiteral("0")} + backOff);
            endpoint = gateway->link().value(1);
        }
        const Result r = lustbus(args(c.command) + QStringList{QStringLiteral("--tcp"), endpoint}
                                 + (c.throughGateway ? QStringList() : backOff));
        gateway.reset();
        EXPECT_EQ(r.exitCode, c.exit) << describe(r);
        // The kernel completes a connection before the server's thread accepts it, and a
        // busy machine may run that thread late.
        for (int i = 0; i < 50 && server.accepted() < c.minConnections; ++i)
            QThread::msleep(20);
        EXPECT_GE(server.accepted(), c.minConnections);
        EXPECT_LE(server.accepted(), c.maxConnections);
        if (c.maxLines > 0) {
            EXPECT_LE(r.out.count(QLatin1Char('\n')), c.maxLines) << describe(r);
        }
    }
}

// --turnaround keeps the bus idle between two exchanges, also of one client.
TEST(GatewayClients, TurnaroundKeepsTheBusIdleBetweenExchanges)
{
    Simulator sim;
    sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
    ServiceProcess gateway(QStringLiteral("gateway"), gatewayOn(sim.slaveName(), "--turnaround 60"));
    DriverClient client(gateway.port(), 1000);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(client.read("INT16:12"), "2e fb");
    EXPECT_GE(clock.elapsed(), 4 * 60);
}

// The gateway with its own simulated servo: who may connect and what passes.
TEST(GatewaySafety, ListenAddressAllowMaxClientsAndReadOnly)
{
    // client: lustbus arguments, sent to host at the gateway's port.
    const struct { const char *gateway, *client, *host; int exit; const char *out, *err, *log; } cases[] = {
        {"--sim --listen 0", "read INT16:12", "127.0.0.1", 0, "-1234\n", "", "connected"},
        {"--sim --listen 0", "read INT16:12", "127.0.0.2", 3, "", "Connection refused", ""},
        {"--sim --listen 127.0.0.2:0", "read INT16:12", "127.0.0.2", 0, "-1234\n", "", ""},
        {"--sim --listen 127.0.0.2:0", "read INT16:12", "127.0.0.1", 3, "", "Connection refused", ""},
        {"--sim --listen 0 --allow 10.0.0.0/8", "read INT16:12 --retries 0", "127.0.0.1", 1, "",
         "no response", "not in the --allow ranges"},
        {"--sim --listen 0 --allow 10.0.0.0/8 --allow 127.0.0.0/8", "read INT16:12", "127.0.0.1", 0,
         "-1234\n", "", ""},
        {"--sim --listen 0 --max-clients 1", "read INT16:12 --retries 0", "127.0.0.1", 1, "",
         "no response", "1 of 1 clients connected (--max-clients)"},
        {"--sim --listen 0 --read-only", "write INT16:12 5", "127.0.0.1", 1, "",
         "write INT16:12> invalid param no.", ""},
        {"--sim --listen 0 --read-only", "read INT16:12", "127.0.0.1", 0, "-1234\n", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.gateway) + " / " + c.host + " " + c.client);
        ServiceProcess gateway(QStringLiteral("gateway"), args(c.gateway));
        const char *listens = QByteArray(c.gateway).contains("127.0.0.2") ? "127.0.0.2:" : "127.0.0.1:";
        EXPECT_THAT(gateway.link().value(1).toStdString(), ::testing::StartsWith(listens));
        // --max-clients 1: this one holds the only place.
        std::unique_ptr<RawClient> first;
        if (QByteArray(c.gateway).contains("max-clients"))
            first = std::make_unique<RawClient>(gateway.port());
        const Result r = lustbus(args(c.client) + QStringList{QStringLiteral("--tcp"),
                                 QStringLiteral("%1:%2").arg(QLatin1String(c.host)).arg(gateway.port())});
        EXPECT_EQ(r.exitCode, c.exit) << describe(r);
        EXPECT_EQ(r.out.toStdString(), c.out);
        EXPECT_THAT(r.err.toStdString(), HasSubstr(c.err));
        first.reset();
        // The log, and a write that was refused did not reach the servo.
        EXPECT_THAT(gateway.waitForError(QLatin1String(c.log), 2000).toStdString(), HasSubstr(c.log));
        if (QByteArray(c.gateway).contains("read-only")) {
            EXPECT_EQ(lustbus(args("read INT16:12") + gateway.link()).out.toStdString(), "-1234\n");
        }
    }
}

} // namespace

namespace {

// The values of a setting in a unit under packaging/, blank-separated lists split.
QStringList unitSetting(const char *unit, const QString &key)
{
    QFile file(QStringLiteral(LUSTBUS_SOURCE_DIR "/packaging/") + QLatin1String(unit));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << unit;
    QStringList values;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            values += line.mid(key.size() + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return values;
}

const char *const Units[] = {"lustbus-gateway.service", "lustbus-bridge.service"};

// The units as systemd reads them, with the built program in place of the installed
// one (verify wants the program to exist).
TEST(ServiceUnits, SystemdFindsNothingWrongInThem)
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    QTemporaryDir dir;
    for (const char *unit : Units) {
        SCOPED_TRACE(unit);
        QFile source(QStringLiteral(LUSTBUS_SOURCE_DIR "/packaging/") + QLatin1String(unit));
        QFile copy(dir.filePath(QLatin1String(unit)));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly));
        QByteArray text = source.readAll();
        EXPECT_TRUE(text.contains("ExecStart=/usr/local/bin/lustbus "));
        copy.write(text.replace("/usr/local/bin/lustbus", LUSTBUS_CLI_PATH));
        copy.close();
        const Result r = runProgram(analyze, {QStringLiteral("verify"), copy.fileName()});
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(r.err.toStdString(), "");
    }
}

// A bus the gateway holds is locked against a second program, under the name the
// gateway was given and under the device's own, and the lock lies where the units
// leave the file system writable: a lock in a service's private /tmp locks nobody out.
TEST(ServiceUnits, ASecondProgramCannotOpenTheBusTheGatewayHolds)
{
    Simulator sim;
    sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
    BusDevice device(sim);
    ServiceProcess gateway(QStringLiteral("gateway"), gatewayOn(device.name(), QString()));
    for (const QString &name : {device.name(), sim.slaveName()}) {
        SCOPED_TRACE(name.toStdString());
        const Result r = lustbus(args("read INT16:12 --settings RS485,57600,NONE,8,1 --port")
                                 + QStringList{name});
        EXPECT_EQ(r.exitCode, 3) << describe(r);
        EXPECT_THAT(r.err.toStdString(), HasSubstr("cannot open serial port"));
    }
    EXPECT_EQ(sim.counters().requests, 0u);

    const QString lock = QStringLiteral("LCK..") + sim.slaveName().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *unit : Units) {
        SCOPED_TRACE(unit);
        const QStringList writable = unitSetting(unit, QStringLiteral("ReadWritePaths"));
        EXPECT_TRUE(std::any_of(writable.begin(), writable.end(), [&lock](const QString &path) {
            return QFileInfo::exists(path + QLatin1Char('/') + lock);
        })) << writable.join(QLatin1Char(' ')).toStdString() << " holds no " << lock.toStdString();
    }
}

} // namespace
