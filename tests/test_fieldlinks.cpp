// The links as they meet a real field bus: a reply that stalls half-way, an RS485
// adapter that hears its own transmission, a device that goes away and comes back, and a
// host that interrupts a wait.
// First on a scripted device with a clock of the test's own (the time-outs exactly, in
// no time), then with the driver plugin against the simulator on a pty and on TCP.
#include "deviceidentity.h"
#include "driverinterface.h"
#include "hostaddress.h"
#include "linkclock.h"
#include "linkinterrupt.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "simulatorfixture.h"
#include "tcplink.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include <sys/sysmacros.h>

using LustBusSim::Simulator;
using ::testing::HasSubstr;

namespace {

// Bytes arrive at scripted times, given in order, on a clock of the device's own:
// waiting moves it on to the next arrival or by the time waited.
class ScriptedDevice : public QIODevice, public LinkClock
{
public:
    qint64 nowUs() const override { return now * 1000; }
    bool sleepMs(int ms, int) const override
    {
        now += ms;
        return false;
    }
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

    mutable qint64 now = 1000;
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
    bool failsAtOnce = false; //!< opens, and is gone again: a server that accepts and closes

protected:
    bool openDevice() override
    {
        ++opens;
        if (refuseOpen) {
            setErrorString(QStringLiteral("no such device"));
            return false;
        }
        gone = failsAtOnce;
        const bool opened = device.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
        if (failsAtOnce)
            device.close();
        return opened;
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

// A request that finds the device away waits for its reopen to fall due, but no longer
// than its response time-out (500 ms), as on a silent line; reopens are 1000 ms apart.
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
    EXPECT_EQ(link.device.now, lost);
    EXPECT_EQ(link.errorString().toStdString(), "device gone; reopening failed: no such device");
    EXPECT_EQ(link.send("?", 1), -1);
    EXPECT_EQ(link.receiveText(), "");

    // atMs: when the request starts, endsAtMs: when its control code 12 returns.
    const struct { qint64 atMs; bool deviceBack; int opens; bool open; qint64 endsAtMs; } requests[] = {
        {200, false, 2, false, 700},    // its whole time-out, the reopen not due
        {700, false, 3, false, 1000},   // until the reopen is due; it fails
        {1500, true, 4, true, 2000},    // the device is back at the next reopen
        {2001, true, 4, true, 2001},    // open: no wait
    };
    for (const auto &r : requests) {
        SCOPED_TRACE(r.atMs);
        link.device.now = lost + r.atMs;
        link.refuseOpen = !r.deviceBack;
        link.control(LinkControlDiscardInput, 0);
        EXPECT_EQ(link.opens, r.opens);
        EXPECT_EQ(link.isOpen(), r.open);
        EXPECT_EQ(link.device.now - lost, r.endsAtMs);
    }
    EXPECT_EQ(link.reconnectCount(), 1);
    EXPECT_EQ(link.send("?", 1), 1);

    // Closed by its owner it stays closed, at once; told never to reopen, it stays
    // closed and each request waits its time-out.
    link.close();
    link.device.now += 5000;
    const qint64 closedAt = link.device.now;
    link.control(LinkControlDiscardInput, 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.device.now, closedAt);
    ASSERT_TRUE(link.open());
    link.setReconnectIntervalMs(0);
    link.gone = true;
    link.control(LinkControlDiscardInput, 0);
    EXPECT_EQ(link.opens, 5);
    EXPECT_EQ(link.device.now, closedAt + 500);
}

// A device that opens and fails at once (a device server that accepts the connection
// and closes it) costs every request a wait: 20 requests, each a control code 12, a
// send and a receive as the driver makes them, reopen it once per interval.
TEST(Reconnect, ADeviceThatFailsAtOnceIsReopenedOncePerIntervalNeverInALoop)
{
    const struct { int timeoutMs, intervalMs, opens; qint64 tookMs; } cases[] = {
        {500, 1000, 11, 9500}, // 2 requests per interval: one waits, one reopens
        {500, 200, 21, 3800},  // each request waits for its reopen
        {100, 0, 1, 2000},     // never reopened: each request waits its time-out
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.intervalMs);
        ScriptedStreamLink link(ProtocolSettings(c.timeoutMs, 0, 1, 0));
        link.setReconnectIntervalMs(c.intervalMs);
        link.failsAtOnce = true;
        ASSERT_TRUE(link.open());
        const qint64 start = link.device.now;
        for (int i = 0; i < 20; ++i) {
            link.control(LinkControlDiscardInput, 0);
            link.send("?", 1);
            EXPECT_EQ(link.receiveText(), "");
        }
        EXPECT_EQ(link.opens, c.opens);
        EXPECT_EQ(link.device.now - start, c.tookMs);
    }
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

// A USB adapter is known by its serial number wherever it shows up; anything else by
// its node, down to the time the kernel made it; a pseudo-terminal never comes back.
TEST(DeviceIdentity, TheSameAdapterByItsSerialNumberAnythingElseByItsNode)
{
    DeviceIdentity uart;
    uart.valid = true;
    uart.fileSystem = 5;
    uart.inode = 90;
    uart.deviceNumber = makedev(4, 64);
    uart.changedNs = 1000;
    DeviceIdentity pty = uart;
    pty.deviceNumber = makedev(136, 0);
    DeviceIdentity adapter = uart;
    adapter.deviceNumber = makedev(188, 0);
    adapter.usbVendor = QStringLiteral("0403");
    adapter.usbProduct = QStringLiteral("6001");
    adapter.usbSerial = QStringLiteral("A50285BI");
    using Change = std::function<void(DeviceIdentity &)>;
    const struct { const char *name; DeviceIdentity had; Change change; bool same; } cases[] = {
        {"the same node", uart, [](DeviceIdentity &) {}, true},
        {"a node made anew", uart, [](DeviceIdentity &d) { d.changedNs = 2; }, false},
        {"another inode", uart, [](DeviceIdentity &d) { d.inode = 4; }, false},
        {"another device number", uart, [](DeviceIdentity &d) { ++d.deviceNumber; }, false},
        {"nothing there", uart, [](DeviceIdentity &d) { d = DeviceIdentity(); }, false},
        {"a pty, even with all the old numbers", pty, [](DeviceIdentity &) {}, false},
        {"the adapter plugged in again", adapter,
         [](DeviceIdentity &d) { d.inode = 900, d.changedNs = 5, ++d.deviceNumber; }, true},
        {"another adapter of the same make", adapter,
         [](DeviceIdentity &d) { d.usbSerial = QStringLiteral("A50285BJ"); }, false},
        {"another make with the same serial number", adapter,
         [](DeviceIdentity &d) { d.usbVendor = QStringLiteral("1a86"); }, false},
        {"an adapter without serial number, plugged in again", adapter,
         [](DeviceIdentity &d) { d.usbSerial.clear(), d.changedNs = 5; }, false},
        {"an adapter without serial number, the same node", adapter,
         [](DeviceIdentity &d) { d.usbSerial.clear(); }, true},
    };
    for (const auto &c : cases) {
        DeviceIdentity now = c.had;
        c.change(now);
        EXPECT_EQ(c.had.isSameDevice(now), c.same) << c.name;
        EXPECT_EQ(now.isSameDevice(c.had), c.same) << c.name;
    }
}

// The USB attributes of a tty come from the USB device above it in sysfs, reached from
// its character device number; a tree laid out as the kernel lays it out.
TEST(DeviceIdentity, UsbAttributesFromTheDeviceAboveTheTty)
{
    QTemporaryDir sysfs;
    const auto write = [&sysfs](const QString &path, const QByteArray &text) {
        QFile file(sysfs.filePath(path));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    // tty directory, USB device directory and its attributes (no serial: none given).
    const struct { const char *number, *tty, *device, *vendor, *product, *serial; } trees[] = {
        {"188:0", "1-1:1.0/ttyUSB0/tty/ttyUSB0", "devices/pci0/usb1/1-1/", "0403", "6001",
         "A50285BI"},
        {"188:1", "1-2:1.0/ttyUSB1/tty/ttyUSB1", "devices/pci0/usb1/1-2/", "1a86", "7523", ""},
        {"4:64", "serial8250/tty/ttyS0", "devices/platform/", "", "", ""},
    };
    ASSERT_TRUE(QDir().mkpath(sysfs.filePath(QStringLiteral("dev/char"))));
    for (const auto &t : trees) {
        const QString device = QString::fromLatin1(t.device);
        const QString tty = device + QLatin1String(t.tty);
        ASSERT_TRUE(QDir().mkpath(sysfs.filePath(tty)));
        ASSERT_TRUE(QFile::link(QStringLiteral("../../") + tty,
                                sysfs.filePath(QStringLiteral("dev/char/") + t.number)));
        for (const auto &attribute : {std::make_pair("idVendor", t.vendor),
                                      std::make_pair("idProduct", t.product),
                                      std::make_pair("serial", t.serial)}) {
            if (*attribute.second) {
                ASSERT_TRUE(write(device + QLatin1String(attribute.first),
                                  QByteArray(attribute.second) + '\n'));
            }
        }
    }
    const struct { unsigned major, minor; const char *usb; } cases[] = {
        {188, 0, "0403 6001 A50285BI"},
        {188, 1, "1a86 7523 "},  // no serial number
        {4, 64, "  "},           // a built-in UART
        {136, 0, "  "},          // a pseudo-terminal: no entry
    };
    for (const auto &c : cases) {
        DeviceIdentity identity;
        identity.deviceNumber = makedev(c.major, c.minor);
        identity.readUsbAttributes(sysfs.path());
        EXPECT_EQ(QStringList({identity.usbVendor, identity.usbProduct, identity.usbSerial})
                      .join(QLatin1Char(' ')).toStdString(), c.usb) << c.major << ':' << c.minor;
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

// The device goes away and something comes back under its name. Over TCP it is the
// servo on the same port, and the link takes it again. On a pseudo-terminal the name
// now points to another program's pseudo-terminal: another device, left alone, and
// said once. (A pty that takes the old /dev/pts/N itself is in
// GatewayBus.ReopensOnlyTheDeviceItHad.) The requests wait for the reopen (50 ms), not the time-out.
TEST_P(FieldLinks, TheLinkReopensOnlyTheDeviceItHad)
{
    link->setReconnectIntervalMs(50);
    QStringList notices;
    link->setNotice([&notices](const QString &line) { notices << line; });
    ASSERT_EQ(read12(), "-1234");
    const quint16 port = sim.port();
    sim.stop();
    const bool pty = GetParam() == Simulator::Pty;
    if (pty) {
        ASSERT_TRUE(QFile::remove(devicePath)); // an unplugged adapter's name goes with it
    }
    EXPECT_THAT(read12(), HasSubstr("no response"));
    if (!pty) {
        ASSERT_TRUE(sim.start(GetParam(), port)) << sim.errorString().toStdString();
        EXPECT_EQ(read12(), "-1234");
        EXPECT_EQ(link->reconnectCount(), 1);
        EXPECT_TRUE(notices.isEmpty());
        return;
    }
    Simulator otherProgram;
    otherProgram.setStation(1, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(otherProgram.start(Simulator::Pty)) << otherProgram.errorString().toStdString();
    ASSERT_TRUE(QFile::link(otherProgram.slaveName(), devicePath));
    for (int i = 0; i < 3; ++i)
        EXPECT_THAT(read12(), HasSubstr("no response"));
    const QString refused = QStringLiteral("a different device now sits at %1; not used").arg(devicePath);
    EXPECT_THAT(link->errorString().toStdString(), HasSubstr(refused.toStdString()));
    EXPECT_EQ(notices, QStringList{refused});
    EXPECT_EQ(otherProgram.counters().requests + otherProgram.counters().malformed, 0u);
    EXPECT_EQ(link->reconnectCount(), 0);
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
