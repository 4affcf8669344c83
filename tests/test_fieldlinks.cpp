// The links as they meet a real field bus: a reply that stalls half-way, an RS485
// adapter that hears its own transmission, and a device that goes away and comes back.
// First on a scripted device with a clock of the test's own (the time-outs exactly, in
// no time), then with the driver plugin against the simulator on a pty and on TCP.
#include "driverinterface.h"
#include "hostaddress.h"
#include "linkclock.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "simulator.h"
#include "tcplink.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>

using LustBusSim::Simulator;
using ::testing::HasSubstr;

namespace {

class FakeClock : public LinkClock
{
public:
    qint64 nowMs() const override { return now; }
    qint64 now = 1000;
};

// Bytes arrive at scripted times; waiting moves the fake clock on to the next arrival
// or by the time waited.
class ScriptedDevice : public QIODevice
{
public:
    explicit ScriptedDevice(FakeClock &clock) : m_clock(clock) {}

    void arrive(qint64 atMs, const QByteArray &bytes)
    {
        auto at = m_script.begin();
        while (at != m_script.end() && at->first <= atMs)
            ++at;
        m_script.insert(at, {atMs, bytes});
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_buffer.size() + QIODevice::bytesAvailable(); }

    bool waitForReadyRead(int msecs) override
    {
        deliverDue();
        if (!m_buffer.isEmpty())
            return true;
        const qint64 until = m_clock.now + msecs;
        if (!m_script.empty() && m_script.front().first <= until) {
            m_clock.now = qMax(m_clock.now, m_script.front().first);
            deliverDue();
            return true;
        }
        m_clock.now = until;
        return false;
    }

    QByteArray written;
    bool echo = false;
    QByteArray (*damageEcho)(QByteArray) = nullptr;

protected:
    qint64 readData(char *data, qint64 room) override
    {
        const qint64 n = qMin<qint64>(room, m_buffer.size());
        std::memcpy(data, m_buffer.constData(), size_t(n));
        m_buffer.remove(0, int(n));
        return n;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        const QByteArray bytes(data, int(size));
        written += bytes;
        if (echo)
            arrive(m_clock.now + 1, damageEcho ? damageEcho(bytes) : bytes);
        return size;
    }

private:
    void deliverDue()
    {
        while (!m_script.empty() && m_script.front().first <= m_clock.now) {
            m_buffer += m_script.front().second;
            m_script.pop_front();
        }
    }

    FakeClock &m_clock;
    std::deque<std::pair<qint64, QByteArray>> m_script;
    QByteArray m_buffer;
};

class ScriptedStreamLink : public StreamLink
{
public:
    explicit ScriptedStreamLink(const ProtocolSettings &protocol)
        : StreamLink(protocol), device(clock)
    {
        setDevice(&device);
        setClock(clock);
    }
    ~ScriptedStreamLink() override { closeDevice(); }

    QByteArray receiveText(int room = 64)
    {
        QByteArray bytes(room, '\0');
        const int got = receive(bytes.data(), room);
        bytes.truncate(qMax(got, 0));
        return bytes;
    }

    FakeClock clock;
    ScriptedDevice device;
    int opens = 0;
    bool gone = false;
    bool refuseOpen = false;

protected:
    bool openDevice() override
    {
        ++opens;
        if (refuseOpen) {
            setErrorString(QStringLiteral("no such device"));
            return false;
        }
        gone = false;
        return device.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    void closeDevice() override { device.close(); }
    QString deviceFailure() const override
    {
        return gone ? QStringLiteral("device gone") : QString();
    }
};

const ProtocolSettings Protocol(500, 0, 1, 0); // time-out 500 ms, no retries, station 1

TEST(LinkTimeouts, FirstByteWithinTheResponseTimeoutTheRestWithinTheInterByteTimeout)
{
    struct Arrival
    {
        qint64 atMs;
        const char *bytes;
    };
    struct Receive
    {
        const char *bytes;
        qint64 endsAtMs; //!< on the fake clock, relative to the request
    };
    const struct
    {
        const char *name;
        int interByteMs;
        std::vector<Arrival> arrivals;
        std::vector<Receive> receives;
    } cases[] = {
        {"whole reply at once", 20, {{10, "abc"}}, {{"abc", 10}}},
        {"nothing: the response time-out", 20, {}, {{"", 500}}},
        {"first byte late but in time", 20, {{499, "a"}}, {{"a", 499}}},
        {"gaps under the limit", 20, {{10, "a"}, {29, "b"}, {48, "c"}},
         {{"a", 10}, {"b", 29}, {"c", 48}}},
        {"a stall ends 20 ms after the last byte", 20, {{10, "a"}, {25, "b"}, {300, "c"}},
         {{"a", 10}, {"b", 25}, {"", 45}}},
        {"no inter-byte limit: each receive waits the response time-out", 0,
         {{10, "a"}, {25, "b"}, {300, "c"}}, {{"a", 10}, {"b", 25}, {"c", 300}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStreamLink link(Protocol);
        link.setInterByteTimeoutMs(c.interByteMs);
        ASSERT_TRUE(link.open());
        const qint64 start = link.clock.now;
        ASSERT_EQ(link.send("?", 1), 1);
        for (const Arrival &a : c.arrivals)
            link.device.arrive(start + a.atMs, a.bytes);
        for (const Receive &r : c.receives) {
            EXPECT_EQ(link.receiveText().toStdString(), r.bytes);
            EXPECT_EQ(link.clock.now - start, r.endsAtMs);
        }
    }
}

TEST(LinkTimeouts, ReceiveExactStopsAtAStallAndTheNextRequestStartsAfresh)
{
    ScriptedStreamLink link(Protocol);
    link.setInterByteTimeoutMs(20);
    ASSERT_TRUE(link.open());
    qint64 start = link.clock.now;
    link.send("?", 1);
    link.device.arrive(start + 100, "A");
    link.device.arrive(start + 200, "\x06");
    char ack[2];
    EXPECT_EQ(link.receiveExact(ack, 2), 1);
    EXPECT_EQ(link.clock.now - start, 120);

    // The late byte is stale input; after the discard the first byte may take the
    // response time-out again.
    link.clock.now = start + 250;
    link.control(LinkControlDiscardInput, 0);
    start = link.clock.now;
    link.send("?", 1);
    link.device.arrive(start + 400, "A\x06");
    EXPECT_EQ(link.receiveExact(ack, 2), 2);
    EXPECT_EQ(link.clock.now - start, 400);
}

QByteArray lastByteChanged(QByteArray bytes)
{
    bytes[bytes.size() - 1] = 'D';
    return bytes;
}

QByteArray lastByteLost(QByteArray bytes)
{
    bytes.chop(1);
    return bytes;
}

TEST(LocalEcho, AGoodEchoIsDroppedABadOneIsALineFaultThatSwallowsTheReply)
{
    const struct
    {
        const char *name;
        bool echo;
        QByteArray (*damage)(QByteArray);
        const char *error; //!< nullptr: the echo is good
    } cases[] = {
        {"good echo", true, nullptr, nullptr},
        {"changed byte", true, lastByteChanged,
         "local echo wrong: sent <EOT>A20012<ENQ>, heard <EOT>A20012D"},
        {"lost byte", true, lastByteLost,
         "local echo wrong: sent <EOT>A20012<ENQ>, heard <EOT>A20012"},
        {"no echo at all", false, nullptr,
         "local echo wrong: sent <EOT>A20012<ENQ>, heard nothing"},
    };
    const QByteArray request = "\x04" "A20012\x05";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStreamLink link(Protocol);
        link.setInterByteTimeoutMs(20);
        link.setLocalEcho(true);
        link.device.echo = c.echo;
        link.device.damageEcho = c.damage;
        ASSERT_TRUE(link.open());
        const int sent = link.send(request.constData(), int(request.size()));
        link.device.arrive(link.clock.now + 5, "A-reply");
        if (!c.error) {
            EXPECT_EQ(sent, request.size());
            EXPECT_EQ(link.receiveText().toStdString(), "A-reply");
            continue;
        }
        EXPECT_EQ(sent, -1);
        EXPECT_EQ(link.errorString().toStdString(), c.error);
        // The servo's answer to what it heard is swallowed, not taken as a reply...
        EXPECT_EQ(link.receiveText().toStdString(), "");
        EXPECT_EQ(link.device.bytesAvailable(), 0);
        // ...and the next attempt, with a good echo, gets its own reply.
        link.device.echo = true;
        link.device.damageEcho = nullptr;
        link.control(LinkControlDiscardInput, 0);
        EXPECT_EQ(link.send(request.constData(), int(request.size())), request.size());
        link.device.arrive(link.clock.now + 5, "A-again");
        EXPECT_EQ(link.receiveText().toStdString(), "A-again");
    }
}

TEST(Reconnect, AVanishedDeviceIsReopenedAtTheNextRequestNoMoreThanOncePerInterval)
{
    ScriptedStreamLink link(Protocol);
    ASSERT_EQ(link.reconnectIntervalMs(), 1000);
    ASSERT_TRUE(link.open());
    ASSERT_EQ(link.opens, 1);

    link.gone = true;
    link.refuseOpen = true;
    link.device.close();
    const qint64 lost = link.clock.now;
    link.control(LinkControlDiscardInput, 0); // tried at once
    EXPECT_EQ(link.opens, 2);
    EXPECT_EQ(link.errorString().toStdString(), "device gone; reopening failed: no such device");
    EXPECT_EQ(link.send("?", 1), -1);
    EXPECT_EQ(link.receiveText().size(), 0);

    const struct
    {
        qint64 atMs;
        bool deviceBack;
        int opens;
        bool open;
    } requests[] = {
        {10, false, 2, false},  {999, false, 2, false}, {1000, false, 3, false},
        {1500, true, 3, false}, {2000, true, 4, true},  {2001, true, 4, true},
    };
    for (const auto &r : requests) {
        SCOPED_TRACE(r.atMs);
        link.clock.now = lost + r.atMs;
        link.refuseOpen = !r.deviceBack;
        link.control(LinkControlDiscardInput, 0);
        EXPECT_EQ(link.opens, r.opens);
        EXPECT_EQ(link.isOpen(), r.open);
    }
    EXPECT_EQ(link.reconnectCount(), 1);
    EXPECT_EQ(link.send("?", 1), 1);

    // Closed by its owner, or told never to reopen, it stays closed.
    link.close();
    link.clock.now += 5000;
    link.control(LinkControlDiscardInput, 0);
    EXPECT_FALSE(link.isOpen());
    ASSERT_TRUE(link.open());
    link.setReconnectIntervalMs(0);
    link.gone = true;
    link.control(LinkControlDiscardInput, 0);
    EXPECT_EQ(link.opens, 5);
}

TEST(InterByteDefaults, FourCharacterTimesButNoLessThan20Ms)
{
    const struct
    {
        const char *settings;
        int ms;
    } cases[] = {
        {"RS485,57600,EVEN,7,1", 20}, {"RS232,9600,NONE,8,1", 20},
        {"RS232,1200,NONE,8,1", 34},  {"RS232,1200,EVEN,8,2", 40},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.settings);
        SerialLink link(QStringLiteral("/dev/null"), QString::fromLatin1(c.settings), Protocol);
        EXPECT_EQ(link.interByteTimeoutMs(), c.ms);
    }
    TcpLink tcp(QStringLiteral("127.0.0.1"), 1, Protocol);
    EXPECT_EQ(tcp.interByteTimeoutMs(), TcpLink::DefaultInterByteTimeoutMs);
}

// The driver plugin on a real link to the simulator.
class FieldLinks : public ::testing::TestWithParam<Simulator::Transport>
{
protected:
    void SetUp() override
    {
        driver = PluginFile::createDriver();
        ASSERT_NE(driver, nullptr);
        sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(GetParam())) << sim.errorString().toStdString();
        ASSERT_TRUE(dir.isValid());
        // A name that stays while the device behind it changes, as udev's
        // /dev/serial/by-id names do.
        devicePath = dir.filePath(QStringLiteral("servo"));
        if (GetParam() == Simulator::Pty) {
            ASSERT_TRUE(QFile::link(sim.slaveName(), devicePath));
        }
        link = makeLink(ProtocolSettings(1000, 0, 1, 0));
        ASSERT_TRUE(link->open()) << link->errorString().toStdString();
    }

    std::unique_ptr<StreamLink> makeLink(const ProtocolSettings &protocol)
    {
        if (GetParam() == Simulator::Pty)
            return std::make_unique<SerialLink>(
                devicePath, QStringLiteral("RS485,57600,NONE,8,1"), protocol);
        return std::make_unique<TcpLink>(QStringLiteral("127.0.0.1"), sim.port(), protocol);
    }

    void setFaults(const char *text)
    {
        LustBusSim::FaultPlan plan;
        QString error;
        ASSERT_TRUE(LustBusSim::FaultPlan::parse(QString::fromLatin1(text), &plan, &error));
        sim.setFaultPlan(plan);
    }

    // INT16 parameter 12 holds -1234.
    std::string read12()
    {
        const QByteArray got = driver->read(*link, address("INT16:12", 2, 1));
        if (driver->hasError())
            return driver->errorText().toStdString();
        return QByteArray::number(qint16(quint8(got[0]) | quint8(got[1]) << 8)).toStdString();
    }

    // Brings the servo back after the simulator was stopped: the same TCP port, or a new
    // pty behind the same device name.
    void restartSimulator()
    {
        const quint16 port = sim.port();
        ASSERT_TRUE(sim.start(GetParam(), port)) << sim.errorString().toStdString();
        if (GetParam() == Simulator::Pty) {
            ASSERT_TRUE(QFile::remove(devicePath));
            ASSERT_TRUE(QFile::link(sim.slaveName(), devicePath));
        }
    }

    std::unique_ptr<DriverInterface> driver;
    Simulator sim;
    QTemporaryDir dir;
    QString devicePath;
    std::unique_ptr<StreamLink> link;
};

TEST_P(FieldLinks, AStalledReplyEndsAtTheInterByteTimeoutNotTheResponseTimeout)
{
    setFaults("split:2@100");
    link->setInterByteTimeoutMs(30);
    EXPECT_THAT(read12(), HasSubstr("invalid response from servo"));
    // Without the limit the same slow reply is waited for, byte by byte. The rest of
    // the broken one goes first: it ends when the line stays quiet for a time-out.
    link->setInterByteTimeoutMs(0);
    char rest[64];
    while (link->receive(rest, sizeof rest) > 0) {
    }
    EXPECT_EQ(read12(), "-1234");
}

TEST_P(FieldLinks, AnEchoingAdapterWorksWithEchoOnAndACorruptedEchoIsNoResponse)
{
    sim.setLocalEcho(true);
    EXPECT_THAT(read12(), HasSubstr("invalid station id from servo"));

    link->setLocalEcho(true);
    EXPECT_EQ(read12(), "-1234");
    const QByteArray value("\x39\x30", 2); // 12345
    EXPECT_EQ(driver->write(*link, address("INT16:12", 2, 1), value), 1);
    EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
    EXPECT_EQ(read12(), "12345");

    sim.setCorruptedEchoes(1);
    EXPECT_THAT(read12(), HasSubstr("no response"));
    EXPECT_THAT(link->errorString().toStdString(), HasSubstr("local echo wrong"));
    EXPECT_EQ(sim.counters().corruptedEchoes, 1u);
    EXPECT_EQ(read12(), "12345");
}

TEST_P(FieldLinks, TheLinkReopensWhenTheDeviceComesBack)
{
    link->setReconnectIntervalMs(50);
    ASSERT_EQ(read12(), "-1234");
    sim.stop();
    EXPECT_THAT(read12(), HasSubstr("no response"));
    EXPECT_THAT(read12(), HasSubstr("no response"));
    restartSimulator();
    QThread::msleep(60); // past the back-off of the failed reopen
    EXPECT_EQ(read12(), "-1234");
    EXPECT_EQ(link->reconnectCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, FieldLinks, ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         [](const ::testing::TestParamInfo<Simulator::Transport> &info) {
                             return info.param == Simulator::Pty ? "pty" : "tcp";
                         });

} // namespace
