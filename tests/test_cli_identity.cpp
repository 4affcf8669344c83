// lustbus against drives that change behind its link, stop answering or lose replies:
// a second simulator with another identity takes the link's place mid-run (a pty
// behind the same name, another server on the same TCP port), a station that does not
// answer, writes whose reply is refused or lost, and a signal in the middle of a restore.
// The simulators run in this process, so that the test sees what reached each of them.
#include "cliprocess.h"

#include "catalogue.h"
#include "simulator.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

using LustBusSim::Simulator;

const QString PtyLine = QStringLiteral("RS485,57600,NONE,8,1");
constexpr quint16 SpeedSetpoint = 12, ControlWord = 13, PositionTarget = 14, FirmwareVersion = 20;

// A loopback port in front of a simulator, as a TCP serial server in front of a bus:
// lustbus connects here, and switchTo() drops the connection it holds and sends the
// next one to another simulator, as when another one starts on the same port.
class SwitchingPort
{
public:
    explicit SwitchingPort(quint16 target) : m_target(target)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr *>(&address), size), 0);
        EXPECT_EQ(listen(m_listen, 4), 0);
        getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~SwitchingPort()
    {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    quint16 port() const { return m_port; }
    void switchTo(quint16 target)
    {
        m_target = target;
        m_drop = true;
        while (m_drop)
            QThread::msleep(1);
    }

private:
    static int connectTo(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        return noDelay(fd);
    }
    // A telegram goes on at once, as a serial server passes it.
    static int noDelay(int fd)
    {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }
    void run()
    {
        int ends[2] = {-1, -1}; // lustbus's connection, the simulator's
        auto drop = [&ends] {
            for (int &fd : ends)
                fd = fd >= 0 ? (close(fd), -1) : -1;
        };
        while (!m_stop) {
            if (m_drop) {
                drop();
                m_drop = false;
            }
            pollfd fds[3] = {{m_listen, POLLIN, 0}, {ends[0], POLLIN, 0}, {ends[1], POLLIN, 0}};
            if (poll(fds, 3, 5) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                drop();
                ends[0] = noDelay(accept(m_listen, nullptr, nullptr));
                ends[1] = connectTo(m_target);
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                char bytes[512];
                const ssize_t n = fds[i + 1].revents ? read(ends[i], bytes, sizeof bytes) : 0;
                if (fds[i + 1].revents && (n <= 0 || write(ends[1 - i], bytes, size_t(n)) != n))
                    drop();
            }
        }
        drop();
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<quint16> m_target;
    std::atomic<bool> m_drop{false}, m_stop{false};
    std::thread m_thread;
};

LustBus::Catalogue sampleCatalogue()
{
    LustBus::Catalogue catalogue;
    QString error;
    EXPECT_TRUE(LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &catalogue,
                                         &error))
        << error.toStdString();
    return catalogue;
}

// Station 1 of the sample catalogue; another drive has firmware 66052 and speed 777.
LustBusSim::ParameterTable driveTable(bool another)
{
    LustBusSim::ParameterTable table = LustBusSim::ParameterTable::fromCatalogue(sampleCatalogue());
    if (another) {
        table.find(FirmwareVersion)->setRaw(0, 66052);
        table.find(SpeedSetpoint)->setRaw(0, 777);
    }
    return table;
}

qint64 held(const Simulator &sim, quint16 number)
{
    LustBusSim::Parameter parameter;
    EXPECT_TRUE(sim.parameter(1, number, &parameter));
    return parameter.raw();
}

LustBusSim::FaultPlan faultPlan(const QString &text)
{
    LustBusSim::FaultPlan plan;
    QString error;
    EXPECT_TRUE(LustBusSim::FaultPlan::parse(text, &plan, &error)) << error.toStdString();
    return plan;
}

// A drive of the sample catalogue on one transport, and how lustbus reaches it: a pty
// behind a name of its own (as /dev/serial/by-id gives one), or a TCP port in front.
class Scene
{
public:
    explicit Scene(Simulator::Transport transport) : m_transport(transport)
    {
        first.setStation(1, driveTable(false));
        EXPECT_TRUE(first.start(transport)) << first.errorString().toStdString();
        if (pty())
            EXPECT_TRUE(QFile::link(first.slaveName(), device()));
        else
            m_port = std::make_unique<SwitchingPort>(first.port());
    }

    bool pty() const { return m_transport == Simulator::Pty; }
    QString device() const { return m_dir.filePath(QStringLiteral("servo")); }
    // lustbus's options for the link and the sample catalogue, and more.
    QStringList options(const char *more) const
    {
        return (pty() ? QStringList{QStringLiteral("--port"), device(),
                                    QStringLiteral("--settings"), PtyLine}
                      : QStringList{QStringLiteral("--tcp"),
                                    QStringLiteral("127.0.0.1:%1").arg(m_port->port())})
               + args(more)
               + QStringList{QStringLiteral("--catalogue"), QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE)};
    }
    // The link's own name in lustbus's messages.
    QString linkText() const
    {
        return pty() ? QStringLiteral("serial %1 (%2)").arg(device(), PtyLine)
                     : QStringLiteral("tcp 127.0.0.1:%1").arg(m_port->port());
    }
    // command with "SET" standing for a set of the drive as it was at the start, with
    // speed_setpoint, control_word and position_target to be written back: 100 rpm, 7
    // and 5 inc.
    QStringList command(const char *text)
    {
        if (m_set.isEmpty())
            m_set = changedSet();
        return args(QString::fromLatin1(text).replace(QLatin1String("SET"), m_set)
                        .toUtf8().constData());
    }

    // Another drive takes the place of the first behind the link, which lustbus then
    // finds gone: the name points to the second's pty, or the port sends the next
    // connection to the second.
    void swap()
    {
        second.setStation(1, driveTable(true));
        ASSERT_TRUE(second.start(m_transport)) << second.errorString().toStdString();
        if (pty()) {
            ASSERT_TRUE(QFile::remove(device()));
            ASSERT_TRUE(QFile::link(second.slaveName(), device()));
        } else {
            m_port->switchTo(second.port());
        }
        first.stop();
    }

    // Runs lustbus; once the first drive has heard more than requests requests (the
    // last one's reply held back by its faults), or its stderr shows text, calls then().
    Result runUntil(const QStringList &arguments, quint64 requests,
                    const std::function<void(QProcess &)> &then, const QString &text = {})
    {
        QProcess process;
        process.setProcessEnvironment(cliEnvironment());
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
        QString err;
        auto ready = [&] {
            return text.isEmpty() ? first.counters().requests > requests : err.contains(text);
        };
        QElapsedTimer clock;
        clock.start();
        while (!ready() && process.state() != QProcess::NotRunning && clock.elapsed() < 20000) {
            process.waitForReadyRead(2);
            err += QString::fromUtf8(process.readAllStandardError());
        }
        EXPECT_TRUE(ready()) << "it never came: " << err.toStdString();
        then(process);
        EXPECT_TRUE(process.waitForFinished(20000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                err + QString::fromUtf8(process.readAllStandardError())};
    }

    Simulator first, second;

private:
    QString changedSet()
    {
        const Result r = lustbus(args("backup --json") + options(""));
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        QJsonObject set = json(r.out);
        QJsonArray parameters = set.value(QLatin1String("parameters")).toArray();
        for (const auto &[i, value] : {std::pair{2, 100}, {3, 7}, {4, 5}}) {
            QJsonObject parameter = parameters[i].toObject();
            parameter.insert(QStringLiteral("value"), value);
            parameters[i] = parameter;
        }
        set.insert(QStringLiteral("parameters"), parameters);
        QFile file(m_dir.filePath(QStringLiteral("set.json")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(set).toJson());
        return file.fileName();
    }

    Simulator::Transport m_transport;
    QTemporaryDir m_dir;
    std::unique_ptr<SwitchingPort> m_port;
    QString m_set;
};

class Drives : public ::testing::TestWithParam<Simulator::Transport>
{
};

// The identity, firmware_version then drive_type, takes the first two requests; then
// current_trim, brake_delay, speed_setpoint (read, write, read back), control_word.
// The first drive holds back the reply to one request; meanwhile another drive takes
// its place. lustbus finds the link gone, reopens it and, on the first value that
// comes from the other drive, sees another identity: nothing more is written or taken.
TEST_P(Drives, ADriveSwappedBehindTheLinkGetsNothingAndIsNeverMixedIn)
{
    const struct { const char *command; quint64 heldBack; int exitCode; const char *err; } cases[] = {
        // Swapped while control_word's value is read: speed_setpoint was written before.
        {"restore SET", 7, 1, "; nothing more is written to it; written before: speed_setpoint ("},
        // Swapped while control_word is written: that write's outcome is not known.
        {"restore SET", 8, 1, "; written before: speed_setpoint; unknown: control_word ("},
        {"backup --json", 4, 1, "firmware_version=66052; 19 of 21 parameters could not be read"},
        {"diff SET --live", 4, 2, "; nothing compared"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Scene scene(GetParam());
        const QStringList command = scene.command(c.command);
        scene.first.resetCounters();
        scene.first.setFaultPlan(faultPlan(QStringLiteral("split:%1@0,delay:1@30000")
                                               .arg(c.heldBack)));
        const Result r = scene.runUntil(command + scene.options("--timeout 20000 --retries 0"),
                                        c.heldBack, [&scene](QProcess &) { scene.swap(); });
        EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
        if (scene.pty()) {
            // A pty that is reopened is a new pseudo-terminal: the link does not use it,
            // so the other drive hears nothing at all.
            EXPECT_TRUE(r.err.contains(QStringLiteral("a different device now sits at %1; not used")
                                           .arg(scene.device())))
                << describe(r);
            EXPECT_EQ(scene.second.counters().requests, 0u);
        } else {
            EXPECT_TRUE(r.err.contains(QStringLiteral("station 1 on %1: the link was reopened and "
                                                      "another drive answers: was "
                                                      "drive_type=\"CDE\", firmware_version=66051, "
                                                      "now drive_type=\"CDE\", "
                                                      "firmware_version=66052")
                                           .arg(scene.linkText())))
                << describe(r);
            EXPECT_TRUE(r.err.contains(QLatin1String(c.err))) << describe(r);
        }
        // The other drive was only read: it holds its own values.
        EXPECT_EQ(held(scene.second, SpeedSetpoint), 777);
        EXPECT_EQ(held(scene.second, ControlWord), 43981);
        EXPECT_EQ(held(scene.second, PositionTarget), -123456);
        EXPECT_FALSE(r.out.contains(QLatin1String("777"))) << describe(r);
    }
}

// A set is restored onto a replacement drive as it is: the other identity is said.
TEST_P(Drives, ASetFromAnotherDriveIsRestoredAndSaysSo)
{
    Scene scene(GetParam());
    const QStringList restore = scene.command("restore SET");
    scene.first.setStation(1, driveTable(true));
    const QJsonObject object = json(expectRun(restore + args("--json") + scene.options(""), 0).out);
    EXPECT_EQ(compact(object.value(QLatin1String("setIdentity")).toObject()),
              compact(R"({"drive_type":"CDE","firmware_version":66051})"));
    EXPECT_EQ(compact(object.value(QLatin1String("identity")).toObject()),
              compact(R"({"drive_type":"CDE","firmware_version":66052})"));
    expectRun(restore + scene.options(""), 0,
              "lustbus restore: the set comes from a drive with drive_type=\"CDE\", "
              "firmware_version=66051; station 1 holds drive_type=\"CDE\", "
              "firmware_version=66052 (restored all the same)");
}

// Station 1 is switched off (the simulator serves only station 2) or stops answering
// after some requests: after two requests in a row without a response, the rest are
// not sent, unless --keep-trying. heard: the request frames the bus carried.
TEST_P(Drives, ASilentStationCostsTwoRequests)
{
    const struct { const char *faults; int station; const char *command; quint64 heard;
                   const char *err, *out; } cases[] = {
        {"", 2, "backup", 2,
         "lustbus backup: cannot identify station 1 on LINK: firmware_version: read USIGN32:20> "
         "no response\n"
         "lustbus backup: current_trim: read INT8:10> no response\n"
         "lustbus backup: brake_delay: not tried: station 1 does not answer\n", ""},
        {"", 2, "backup --keep-trying", 22, "cam_profile: read USIGN8:1100:0> no response", ""},
        // The reply to speed_setpoint's write and all after it are lost.
        {"split:5@0,noreply:1.0", 1, "restore SET", 7,
         "0 done, 2 unchanged, 0 refused, 1 unknown, 0 read-only and different, 0 skipped, "
         "0 failed, 18 not tried",
         "speed_setpoint: unknown: write INT16:12> no response; read back: read INT16:12> no "
         "response\n"
         "control_word: not tried: station 1 does not answer\n"},
        {"split:5@0,noreply:1.0", 1, "restore SET --keep-trying", 25, "0 done, 2 unchanged",
         "control_word: failed: read USIGN16:13> no response\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Scene scene(GetParam());
        const QStringList command = scene.command(c.command);
        if (c.station != 1) {
            scene.first.removeStation(1);
            scene.first.setStation(c.station, driveTable(false));
        }
        scene.first.setFaultPlan(faultPlan(QString::fromLatin1(c.faults)));
        scene.first.resetCounters();
        const Result r = lustbus(command + scene.options("--timeout 100 --retries 0"));
        EXPECT_EQ(r.exitCode, 1) << describe(r);
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.err).replace(QLatin1String("LINK"),
                                                                      scene.linkText())))
            << describe(r);
        EXPECT_TRUE(r.out.contains(QLatin1String(c.out))) << describe(r);
        EXPECT_EQ(scene.first.counters().requests, c.heard) << describe(r);
    }
}

// Why the tests that need a reopened link to reach another drive run over TCP only.
const char *const ReopenedPtyIsRefused =
    "a reopened pty is never the same device: the link refuses it before the identity is "
    "read (ADriveSwappedBehindTheLinkGetsNothing.../Pty)";

// A watch by name follows its drive through a reopened link, and ends when another
// drive answers there, without a sample of it.
TEST_P(Drives, AWatchEndsWhenAnotherDriveAnswers)
{
    Scene scene(GetParam());
    if (scene.pty())
        GTEST_SKIP() << ReopenedPtyIsRefused;
    const Result r = scene.runUntil(args("watch speed_setpoint --interval 0 --csv")
                                        + scene.options("--timeout 500 --retries 0 --trace"),
                                    0, [&scene](QProcess &) { scene.swap(); },
                                    QStringLiteral("< A<STX>20012="));
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_TRUE(r.err.contains(QLatin1String("now drive_type=\"CDE\", firmware_version=66052; "
                                             "the watch ends\n")))
        << describe(r);
    EXPECT_TRUE(r.out.contains(QLatin1String(",speed_setpoint,-1234,\n"))) << describe(r);
    // The other drive holds 777: no sample shows it (a time stamp may hold the digits).
    EXPECT_FALSE(r.out.contains(QLatin1String(",speed_setpoint,777,"))) << describe(r);
}

// The link goes away once the identity was read (drive_type's reply is in), while the
// write waits out its --delay, and another drive answers when the write's request
// reopens it: the write is held back before its telegram leaves.
TEST_P(Drives, AWriteThatFindsTheLinkReopenedIsHeldBack)
{
    Scene scene(GetParam());
    if (scene.pty())
        GTEST_SKIP() << ReopenedPtyIsRefused;
    const Result r = scene.runUntil(args("write speed_setpoint 5")
                                        + scene.options("--delay 1000 --retries 0 --trace"),
                                    0, [&scene](QProcess &) { scene.swap(); },
                                    QStringLiteral("< A<STX>20021=CDE<ETX>"));
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_TRUE(r.err.contains(QLatin1String(
        "lustbus write: refused: write INT16:12> held back: the link was reopened, and the "
        "drive that answers now is not identified yet\n")))
        << describe(r);
    EXPECT_EQ(held(scene.second, SpeedSetpoint), 777);
}

// The write of speed_setpoint (after the identity's two requests; in a restore after
// current_trim, brake_delay and its own read) is refused (NAK), loses its reply after
// the servo carried it out (an acknowledgement that comes damaged), or is lost (the
// servo never heard it), with or without the read back after it.
TEST_P(Drives, EveryWriteIsDoneRefusedOrUnknown)
{
    const struct { const char *command, *faults; int exitCode; const char *out, *err; } cases[] = {
        {"write speed_setpoint 5", "", 0, "written speed_setpoint = 5 rpm\n", ""},
        {"write speed_setpoint 5", "split:2@0,nak:1", 1, "",
         "lustbus write: refused: write INT16:12> invalid param no.\n"},
        {"write speed_setpoint 5", "split:2@0,corrupt:1", 0,
         "written speed_setpoint = 5 rpm (confirmed by read back)\n", ""},
        {"write speed_setpoint 5", "split:2@0,noreply:1", 1, "",
         "lustbus write: refused: no reply; read back shows -1234: not carried out\n"},
        {"write speed_setpoint 5", "split:2@0,noreply:2", 1, "",
         "lustbus write: unknown: write INT16:12> no response; read back: read INT16:12> no "
         "response\n"},
        {"write speed_setpoint 5 --json", "split:2@0,noreply:2", 1,
         R"("outcome":"unknown","unit":"rpm","written":null})", ""},
        {"write speed_setpoint 5 --json", "split:2@0,noreply:1", 1,
         R"("outcome":"refused","unit":"rpm","written":false})", ""},
        {"restore SET", "split:5@0,nak:1", 1,
         "speed_setpoint: refused: write INT16:12> invalid param no.\n", "1 refused"},
        {"restore SET", "split:5@0,corrupt:1", 0,
         "speed_setpoint: done (-1234 rpm -> 100 rpm); confirmed by read back\n", "3 done"},
        {"restore SET", "split:5@0,noreply:1", 1,
         "speed_setpoint: refused: no reply; read back shows -1234 rpm: not carried out\n",
         "2 done, 18 unchanged, 1 refused, 0 unknown"},
        {"restore SET", "split:5@0,noreply:2", 1,
         "speed_setpoint: unknown: write INT16:12> no response; read back: read INT16:12> no "
         "response\n", "0 done, 2 unchanged, 0 refused, 1 unknown"},
        {"restore SET --json", "split:5@0,noreply:1", 1,
         R"({"error":"no reply; read back shows -1234 rpm: not carried out","live":-1234,)"
         R"("name":"speed_setpoint","outcome":"refused","set":100})", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.command) + ' ' + c.faults);
        Scene scene(GetParam());
        const QStringList command = scene.command(c.command);
        scene.first.setFaultPlan(faultPlan(QString::fromLatin1(c.faults)));
        const Result r = lustbus(command + scene.options("--timeout 200 --retries 0"));
        EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
        EXPECT_TRUE(r.out.contains(QLatin1String(c.out))) << describe(r);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.err))) << describe(r);
    }
}

// SIGINT or SIGTERM while a request of the restore waits for its reply: with --json
// the object lists every parameter restored before, and the one whose write the
// signal cut short as unknown.
TEST_P(Drives, ARestoreEndedBySignalListsWhatItWrote)
{
    const struct { quint64 heldBack; int signal, exitCode; const char *outcomes; } cases[] = {
        {7, SIGINT, 130, "current_trim unchanged, brake_delay unchanged, speed_setpoint done"},
        {8, SIGTERM, 143, "current_trim unchanged, brake_delay unchanged, speed_setpoint done, "
                          "control_word unknown"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.heldBack);
        Scene scene(GetParam());
        const QStringList command = scene.command("restore SET --json");
        scene.first.resetCounters();
        scene.first.setFaultPlan(faultPlan(QStringLiteral("split:%1@0,delay:1@30000")
                                               .arg(c.heldBack)));
        const Result r = scene.runUntil(command + scene.options("--timeout 20000 --retries 0"),
                                        c.heldBack, [&c](QProcess &process) {
                                            signalProcess(process.processId(), c.signal);
                                        });
        EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
        const QJsonObject object = json(r.out.trimmed());
        EXPECT_EQ(object.value(QLatin1String("exit")).toInt(), c.exitCode);
        QStringList outcomes;
        for (const QJsonValue &parameter : object.value(QLatin1String("parameters")).toArray())
            outcomes.append(parameter[QLatin1String("name")].toString() + QLatin1Char(' ')
                            + parameter[QLatin1String("outcome")].toString());
        EXPECT_EQ(outcomes.join(QLatin1String(", ")).toStdString(), c.outcomes) << describe(r);
    }
}

// What identifies a drive: the entries marked "identity", else every read-only simple
// parameter; a catalogue with neither cannot, and nothing is written through it.
TEST(Identity, TheCatalogueSaysWhatIdentifiesADrive)
{
    QTemporaryDir dir;
    const auto catalogue = [&dir](const char *name, const char *entries) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("{\"parameters\": [{\"name\": \"speed\", \"number\": 12, "
                              "\"type\": \"INT16\", \"value\": 3}")
                   + entries + "]}");
        return file.fileName();
    };
    const QString none = catalogue("none.json", "");
    const QString readOnly = catalogue("ro.json",
        R"(, {"name": "serial", "number": 30, "type": "USIGN32", "access": "ro", "value": 7},
           {"name": "faults", "number": 31, "type": "USIGN8", "elements": 2, "access": "ro"},
           {"name": "model", "number": 32, "type": "STRING", "access": "ro", "value": "M1"})");
    const QString marked = catalogue("marked.json",
        R"(, {"name": "serial", "number": 30, "type": "USIGN32", "access": "ro", "value": 7,
              "identity": true},
           {"name": "model", "number": 32, "type": "STRING", "access": "ro", "value": "M1"})");
    const QString refusal = QStringLiteral(
        "catalogue none.json names nothing that identifies a drive (no entry with \"identity\": "
        "true, no read-only simple parameter): ");
    const struct { QString catalogue; const char *command; int exitCode; QString err, out; } cases[] = {
        {readOnly, "backup --json", 0, {}, R"("identity":{"model":"M1","serial":7})"},
        {marked, "backup --json", 0, {}, R"("identity":{"serial":7})"},
        {marked, "write speed 5 --json", 0, {}, R"("identity":{"serial":7})"},
        {none, "write speed 5", 2,
         refusal + "write with a catalogue goes only to a drive it identified; nothing was sent",
         {}},
        {none, "write INT16:12 5", 2, refusal, {}},
        {none, "restore SET", 2, refusal + "restore writes only to a drive it identified", {}},
        {none, "restore SET --dry-run", 0, {}, "speed: would write (3 -> 5)"},
        {none, "backup", 0, {}, "\"value\": 3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        QStringList arguments = args(c.command) + args("--sim --catalogue") + QStringList{c.catalogue};
        const int set = int(arguments.indexOf(QStringLiteral("SET")));
        if (set >= 0) {
            const Result backup = expectRun(args("backup --sim --catalogue") + QStringList{c.catalogue},
                                            0);
            QFile file(dir.filePath(QStringLiteral("set.json")));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(backup.out.toUtf8().replace("\"value\": 3", "\"value\": 5"));
            arguments[set] = file.fileName();
        }
        expectRun(arguments, c.exitCode, c.err, c.out);
    }
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, Drives, ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         [](const ::testing::TestParamInfo<Simulator::Transport> &info) {
                             return std::string(info.param == Simulator::Pty ? "Pty" : "Tcp");
                         });

} // namespace
