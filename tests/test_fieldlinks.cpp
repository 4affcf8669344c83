// The links as they meet a real field bus: a reply that stalls half-way, an RS485
// adapter that hears its own transmission, a device that goes away and comes back, and a
// host that interrupts a wait.
// First on a scripted device with a clock of the test's own (the time-outs exactly, in
// no time), then with the driver plugin against the simulator on a pty and on TCP.
#include "driverinterface.h"
#include "hostaddress.h"
#include "linkclock.h"
#include "linkinterrupt.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "simulatorfixture.h"
#include "tcplink.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <thread>

using LustBusSim::Simulator;
using ::testing::HasSubstr;

namespace {

// Bytes arrive at scripted times, given in order, on a clock of the device's own:
// waiting moves it on to the next arrival or by the time waited.
class ScriptedDevice : public QIODevice, public LinkClock
{
public:
    qint64 nowUs() const override { return now * 1000; }
    void arrive(qint64 atMs, const QByteArray &bytes) { m_script.push_back({atMs, bytes}); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_buffer.size() + QIODevice::bytesAvailable(); }

    bool waitForReadyRead(int msecs) override
    {
        const qint64 until = now + msecs;
        deliverDue();
        if (m_buffer.isEmpty())
            now = m_script.empty() || m_script.front().first > until ? until : m_script.front().first;
        deliverDue();
        return !m_buffer.isEmpty();
    }

    qint64 now = 1000;
    bool echo = false;
    QByteArray echoAs; //!< empty: the echo is what was written

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
        if (echo)
            arrive(now + 1, echoAs.isEmpty() ? QByteArray(data, int(size)) : echoAs);
        return size;
    }

private:
    void deliverDue()
    {
        for (; !m_script.empty() && m_script.front().first <= now; m_script.pop_front())
            m_buffer += m_script.front().second;
    }

    std::deque<std::pair<qint64, QByteArray>> m_script;
    QByteArray m_buffer;
};

class ScriptedStreamLink : public StreamLink
{
public:
    explicit ScriptedStreamLink(const ProtocolSettings &protocol)
        : StreamLink(protocol)
    {
        setDevice(&device);
        setClock(device);
    }
    ~ScriptedStreamLink() override { closeDevice(); }

    // What one receive (exact 0) or receiveExact(exact) hands out.
    std::string receiveText(int exact = 0)
    {
        QByteArray bytes(64, '\0');
        const int got = exact ? receiveExact(bytes.data(), exact) : receive(bytes.data(), 64);
        return bytes.left(qMax(got, 0)).toStdString();
    }

    ScriptedDevice device;
    int opens = 0;
    bool gone = false;
    bool refuseOpen = false;

protected:
    bool openDevice() override
    {
        ++opens;
        if (refuseOpen)
            setErrorString(QStringLiteral("no such device"));
        else
            gone = false;
        return !refuseOpen && device.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
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
    // exact 0: a receive, else a receiveExact of that many; endsAtMs from the request.
    struct Receive { int exact; const char *bytes; qint64 endsAtMs; };
    const struct {
        const char *name;
        int interByteMs;
        std::vector<std::pair<qint64, const char *>> arrivals;
        std::vector<Receive> receives;
    } cases[] = {
        {"nothing: the response time-out", 20, {}, {{0, "", 500}}},
        {"a stall ends 20 ms after the last byte", 20, {{10, "a"}, {25, "b"}, {300, "c"}},
         {{0, "a", 10}, {0, "b", 25}, {0, "", 45}}},
        {"receiveExact stops at a stall too", 20, {{100, "A"}, {200, "\x06"}}, {{2, "A", 120}}},
        {"no inter-byte limit: each receive waits the response time-out", 0,
         {{10, "a"}, {25, "b"}, {300, "c"}}, {{0, "a", 10}, {0, "b", 25}, {0, "c", 300}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStreamLink link(Protocol);
        link.setInterByteTimeoutMs(c.interByteMs);
        ASSERT_TRUE(link.open());
        qint64 start = link.device.now;
        ASSERT_EQ(link.send("?", 1), 1);
        for (const auto &a : c.arrivals)
            link.device.arrive(start + a.first, a.second);
        for (const Receive &r : c.receives) {
            EXPECT_EQ(link.receiveText(r.exact), r.bytes);
            EXPECT_EQ(link.device.now - start, r.endsAtMs);
        }
        // Late bytes are stale input; after the discard the next request's first byte
        // may take the whole response time-out again.
        link.device.now = start + 1000;
        link.control(LinkControlDiscardInput, 0);
        start = link.device.now;
        link.send("?", 1);
        link.device.arrive(start + 499, "z");
        EXPECT_EQ(link.receiveText(), "z");
        EXPECT_EQ(link.device.now - start, 499);
    }
}

TEST(LocalEcho, AGoodEchoIsDroppedABadOneIsALineFaultThatSwallowsTheReply)
{
    // heard: the echo as it comes back, if not as sent.
    const struct { bool echo; const char *heard, *error; } cases[] = {
        {true, "\x04" "A20012D", "local echo wrong: sent <EOT>A20012<ENQ>, heard <EOT>A20012D"},
        {true, "\x04" "A20012", "local echo wrong: sent <EOT>A20012<ENQ>, heard <EOT>A20012"},
        {false, "", "local echo wrong: sent <EOT>A20012<ENQ>, heard nothing"},
    };
    const QByteArray request = "\x04" "A20012\x05";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        ScriptedStreamLink link(Protocol);
        link.setInterByteTimeoutMs(20);
        link.setLocalEcho(true);
        link.device.echo = c.echo;
        link.device.echoAs = c.heard;
        ASSERT_TRUE(link.open());
        const int sent = link.send(request.constData(), int(request.size()));
        link.device.arrive(link.device.now + 5, "A-reply");
        EXPECT_EQ(sent, -1);
        EXPECT_EQ(link.errorString().toStdString(), c.error);
        // The servo's answer to what it heard is swallowed, not taken as a reply...
        EXPECT_EQ(link.receiveText(), "");
        EXPECT_EQ(link.device.bytesAvailable(), 0);
        // ...and the next attempt, with a good echo, gets its own reply, the echo dropped;
        // its first byte may take the response time-out, not only the inter-byte one.
        link.device.echo = true;
        link.device.echoAs.clear();
        link.control(LinkControlDiscardInput, 0);
        EXPECT_EQ(link.send(request.constData(), int(request.size())), request.size());
        link.device.arrive(link.device.now + 100, "A-again");
        EXPECT_EQ(link.receiveText(), "A-again");
    }
}

TEST(Reconnect, AVanishedDeviceIsReopenedAtTheNextRequestNoMoreThanOncePerInterval)
{
    ScriptedStreamLink link(Protocol);
    ASSERT_EQ(link.reconnectIntervalMs(), 1000);
    ASSERT_TRUE(link.open());
    link.gone = true;
    link.refuseOpen = true;
    link.device.close();
    const qint64 lost = link.device.now;
    link.control(LinkControlDiscardInput, 0); // tried at once
    EXPECT_EQ(link.opens, 2);
    EXPECT_EQ(link.errorString().toStdString(), "device gone; reopening failed: no such device");
    EXPECT_EQ(link.send("?", 1), -1);
    EXPECT_EQ(link.receiveText(), "");

    const struct { qint64 atMs; bool deviceBack; int opens; bool open; } requests[] = {
        {999, false, 2, false}, {1000, false, 3, false}, {1500, true, 3, false},
        {2000, true, 4, true},  {2001, true, 4, true},
    };
    for (const auto &r : requests) {
        SCOPED_TRACE(r.atMs);
        link.device.now = lost + r.atMs;
        link.refuseOpen = !r.deviceBack;
        link.control(LinkControlDiscardInput, 0);
        EXPECT_EQ(link.opens, r.opens);
        EXPECT_EQ(link.isOpen(), r.open);
    }
    EXPECT_EQ(link.reconnectCount(), 1);
    EXPECT_EQ(link.send("?", 1), 1);

    // Closed by its owner, or told never to reopen, it stays closed.
    link.close();
    link.device.now += 5000;
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
    const std::pair<const char *, int> cases[] = {
        {"RS485,57600,EVEN,7,1", 20}, {"RS232,1200,NONE,8,1", 34}, {"RS232,1200,EVEN,8,2", 40}};
    for (const auto &c : cases) {
        SerialLink link(QStringLiteral("/dev/null"), QString::fromLatin1(c.first), Protocol);
        EXPECT_EQ(link.interByteTimeoutMs(), c.second) << c.first;
    }
}

// The driver plugin on a real link to the simulator.
class FieldLinks : public SimulatorFixture
{
protected:
    void SetUp() override
    {
        ASSERT_NE(driver, nullptr);
        ASSERT_NO_FATAL_FAILURE(
            start(LustBusSim::ParameterTable::defaultTable(), ProtocolSettings(1000, 0, 1, 0)));
    }

    // INT16 parameter 12 holds -1234.
    std::string read12()
    {
        const QByteArray got = driver->read(*link, address("INT16:12", 2, 1));
        if (driver->hasError())
            return driver->errorText().toStdString();
        return QByteArray::number(qint16(quint8(got[0]) | quint8(got[1]) << 8)).toStdString();
    }

    std::unique_ptr<DriverInterface> driver = PluginFile::createDriver();
};

TEST_P(FieldLinks, AStalledReplyEndsAtTheInterByteTimeoutNotTheResponseTimeout)
{
    setFaults("split:1@200");
    // Each byte comes within the response time-out, none within the inter-byte one.
    link->setInterByteTimeoutMs(30);
    EXPECT_THAT(read12(), HasSubstr("invalid response from servo"));
}

TEST_P(FieldLinks, TheLinkReopensWhenTheDeviceComesBack)
{
    link->setReconnectIntervalMs(50);
    ASSERT_EQ(read12(), "-1234");
    const quint16 port = sim.port();
    sim.stop();
    const bool pty = GetParam() == Simulator::Pty;
    if (pty) {
        ASSERT_TRUE(QFile::remove(devicePath)); // an unplugged adapter's name goes with it
    }
    EXPECT_THAT(read12(), HasSubstr("no response"));
    // Another program's pseudo-terminal takes the number the servo's had, as on a busy
    // machine: it is not the servo.
    Simulator otherProgram;
    otherProgram.setStation(1, LustBusSim::ParameterTable::defaultTable());
    if (pty) {
        ASSERT_TRUE(otherProgram.start(Simulator::Pty)) << otherProgram.errorString().toStdString();
    }
    QThread::msleep(60); // past the back-off of the failed reopen
    EXPECT_THAT(read12(), HasSubstr("no response"));
    EXPECT_EQ(otherProgram.counters().requests, 0u);
    // The servo comes back on the same TCP port, or on a new pty behind the same name.
    ASSERT_TRUE(sim.start(GetParam(), port)) << sim.errorString().toStdString();
    if (pty) {
        ASSERT_TRUE(QFile::link(sim.slaveName(), devicePath));
    }
    QThread::msleep(60); // past the back-off of the failed reopen
    EXPECT_EQ(read12(), "-1234");
    EXPECT_EQ(link->reconnectCount(), 1);
}

// A host that must stop (Ctrl-C, shutdown) raises the link's interrupt from another
// thread or a signal handler while the driver waits on a silent servo.
TEST_P(FieldLinks, AnInterruptEndsTheWaitAndTheRetriesAtOnceUntilLowered)
{
    link->setProtocolSettings(ProtocolSettings(5000, 3, 1, 300)); // 4 x (300 + 5000) ms
    setFaults("noreply:100");
    LinkInterrupt interrupt;
    link->setInterrupt(&interrupt);
    std::thread host([this, &interrupt] {
        for (int i = 0; i < 1000 && sim.counters().requests == 0; ++i)
            QThread::msleep(5);
        interrupt.raise();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_THAT(read12(), HasSubstr("no response"));
    host.join();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(link->errorString().toStdString(), "interrupted");
    // The retries neither waited their delay nor touched the line.
    EXPECT_EQ(link->delayMs(), 0);
    EXPECT_EQ(sim.counters().requests, 1u);

    interrupt.lower();
    EXPECT_EQ(link->delayMs(), 300);
    sim.setFaultPlan(LustBusSim::FaultPlan());
    EXPECT_EQ(read12(), "-1234");
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, FieldLinks, ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         SimulatorFixture::transportName);

} // namespace
