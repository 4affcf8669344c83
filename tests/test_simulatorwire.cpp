// The simulator heard through the real links: a SerialLink on its pseudo-terminal and a
// TcpLink on its loopback port, with telegrams written by hand and replies compared
// byte for byte.
#include "scriptedlink.h"
#include "simulatorfixture.h"
#include "wirecodec.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

using LustBusSim::FaultKind;
using LustBusSim::Simulator;

namespace {

// A data reply of station 1: station STX text ETX BCC.
QByteArray data(const QByteArray &text)
{
    return Reply::data(1, text);
}

QByteArray read20(int parameter)
{
    return LustBus::formatted(LustBus::formatReadRequest, 1, parameter);
}

// A write request carries the block of a data reply after its EOT; telegrams the
// driver would not send are written this way too.
QByteArray write(const QByteArray &text)
{
    return '\x04' + data(text);
}

const QByteArray Nak = Reply::nak(1);

class SimulatorWire : public SimulatorFixture
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(
            start(LustBusSim::ParameterTable::defaultTable(), ProtocolSettings(150, 0, 1, 0)));
    }

    // Sends a request and collects what comes until expected bytes are in or the line
    // stays quiet for the time-out.
    QByteArray exchange(const QByteArray &request, int expected, int *receives = nullptr)
    {
        link->send(request.constData(), int(request.size()));
        QByteArray got;
        char buffer[1024];
        int calls = 0;
        for (int n; got.size() < expected && (n = link->receive(buffer, sizeof buffer)) > 0; ++calls)
            got.append(buffer, n);
        if (receives)
            *receives = calls;
        return got;
    }
};

// The reply forms once each (the driver's tests on the simulator read and write the
// types); each refusal is a branch of its own.
TEST_P(SimulatorWire, AnswersByteForByte)
{
    const struct { const char *what; QByteArray request, reply; } cases[] = {
        {"INT16 read", read20(12), data("20012=FB2E")},
        {"array read", "\x04" "A70101000010" "3\x05", data("70101=FFFF0002FFFD")},
        {"unknown parameter", read20(999), Nak},
        {"array through 20", read20(100), Nak},
        {"simple through 70", "\x04" "A7001200000" "01\x05", Nak},
        {"past the array's end", "\x04" "A7010000015" "02\x05", Nak},
        {"unknown service", "\x04" "A30012\x05", Nak},
        {"write to read-only", write("20020=00000001"), Nak},
        {"write of the wrong width", write("20012=12"), Nak},
        {"write of a non-hex value", write("20012=12G4"), Nak},
        {"write with a bad checksum", write("20012=0064").left(14) + '\x00', Nak},
        {"array write past the end", write("7010000015" "02=0102"), Nak},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(hex(exchange(c.request, int(c.reply.size()))), hex(c.reply));
        exchange("\x04", 0);
    }
    // The array write refused for its second element did not write the first.
    LustBusSim::Parameter p;
    ASSERT_TRUE(sim.parameter(1, 100, &p));
    EXPECT_EQ(p.raw(15), 15);
}

TEST_P(SimulatorWire, OnlyTheAddressedStationAnswers)
{
    sim.setStation(2, LustBusSim::ParameterTable());
    EXPECT_EQ(exchange("\x04" "C20012\x05", 1), QByteArray());
    EXPECT_EQ(hex(exchange("\x04" "B20012\x05", 2)), hex(Reply::nak(2)));
    EXPECT_EQ(hex(exchange(read20(12), 14)), hex(data("20012=FB2E")));
    exchange("\x04", 0); // the closing EOT is no malformed telegram
    // Stray bytes and a broken request cost nothing but themselves, and are counted.
    EXPECT_EQ(hex(exchange("xx\x04" "A200" "\x04" "A20013\x05", 14)),
              hex(data("20013=ABCD")));
    const LustBusSim::SimulatorCounters counters = sim.counters();
    EXPECT_EQ(counters.requests, 4u);
    EXPECT_EQ(counters.foreign, 1u);
    EXPECT_EQ(counters.answered, 3u);
    EXPECT_EQ(counters.naks, 1u);
    EXPECT_EQ(counters.malformed, 2u);
}

TEST_P(SimulatorWire, EachFaultKindShowsInTheBytes)
{
    const QByteArray good = data("20012=FB2E");
    // bytes: what comes within the time-out; corrupt and garbage are checked apart.
    const struct { const char *plan; FaultKind kind; QByteArray bytes; } cases[] = {
        {"noreply:1", FaultKind::NoReply, ""},
        {"truncate:1", FaultKind::Truncate, good.left(good.size() / 2)},
        {"wrongstation:1", FaultKind::WrongStation, 'B' + good.mid(1)},
        {"nak:1", FaultKind::Nak, Nak},
        {"split:1@3", FaultKind::Split, good},
        {"delay:1@250", FaultKind::Delay, ""},
        {"corrupt:1", FaultKind::Corrupt, {}},
        {"garbage:1,seed:7", FaultKind::Garbage, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plan);
        setFaults(c.plan);
        sim.resetCounters();
        int receives = 0;
        const QByteArray got = exchange(read20(12), int(good.size()), &receives);
        if (c.kind == FaultKind::Corrupt) {
            ASSERT_EQ(got.size(), good.size());
            EXPECT_NE(got, good);
            EXPECT_EQ(got.at(0), 'A');
            EXPECT_FALSE(LustBus::checkReplyChecksum(got.constData(), int(got.size())));
        } else if (c.kind == FaultKind::Garbage) {
            ASSERT_GT(got.size(), good.size());
            EXPECT_LE(got.size(), good.size() + 8);
            EXPECT_TRUE(got.endsWith(good));
            for (char b : got.left(got.size() - good.size()))
                EXPECT_TRUE(b >= 0x20 && b < 0x40) << int(b);
        } else {
            EXPECT_EQ(hex(got), hex(c.bytes));
        }
        if (c.kind == FaultKind::Split) {
            EXPECT_GT(receives, 1);
        } else if (c.kind == FaultKind::Delay) { // late, but whole
            EXPECT_EQ(hex(exchange(QByteArray(), int(good.size()))), hex(good));
        }
        EXPECT_EQ(sim.counters().faultCount(c.kind), 1u);
        link->control(LinkControlDiscardInput, 0);
    }
}

TEST_P(SimulatorWire, NoReplyAndNakLeaveTheTableAlone)
{
    setFaults("noreply:1,nak:1");
    EXPECT_EQ(exchange(write("20012=0064"), 2), QByteArray());
    EXPECT_EQ(hex(exchange(write("20012=0065"), 2)), hex(Nak));
    LustBusSim::Parameter p;
    ASSERT_TRUE(sim.parameter(1, 12, &p));
    EXPECT_EQ(p.raw(), -1234);
}

TEST_P(SimulatorWire, DiscardInputDropsAStaleReply)
{
    link->send(read20(12).constData(), 8);
    char first[2];
    ASSERT_EQ(link->receiveExact(first, 2), 2); // the reply is arriving
    QThread::msleep(30);                          // and now it is all in
    link->control(LinkControlDiscardInput, 0);
    EXPECT_EQ(hex(exchange(read20(13), 28)), hex(data("20013=ABCD")));
}

TEST_P(SimulatorWire, RepliesComeAtTheLineRateNotAtTheTimeOut)
{
    link.reset(); // the port is locked while open
    link = openLink(ProtocolSettings(10000, 0, 1, 0));
    // 9600 baud, 10 bits: 8 request and 14 reply characters take at least 22.9 ms.
    sim.setLineRate(9600, 10);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(hex(exchange(read20(12), 14)), hex(data("20012=FB2E")));
    EXPECT_GE(timer.nsecsElapsed(), 22 * 1000000);
    EXPECT_LT(timer.elapsed(), 5000);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorWire,
                         ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         SimulatorWire::transportName);

// A settings text that does not parse keeps the link closed with the cause; devices
// and endpoints that do not open are Cli.ALinkThatDoesNotOpenIsNamed's.
TEST(SerialLinkOnPty, BadSettingsFailToOpen)
{
    SerialLink link(QStringLiteral("/dev/null"), QStringLiteral("RS485,57600,EVEN,9,1"),
                    ProtocolSettings(100, 0, 1, 0));
    EXPECT_FALSE(link.open());
    EXPECT_TRUE(link.errorString().contains(QStringLiteral("data bits \"9\"")));
    char byte;
    EXPECT_LT(link.receive(&byte, 1), 1);
}

// What the other side of a terminal has received, until it stays quiet for quietMs.
QByteArray drainTerminal(int fd, int quietMs)
{
    QByteArray heard;
    pollfd poller{fd, POLLIN, 0};
    char buffer[4096];
    while (poll(&poller, 1, quietMs) > 0) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        heard.append(buffer, int(got));
    }
    return heard;
}

// Every send reports the bytes the line took, also the one that finds the terminal full
// because nobody reads it; the other side then hears exactly those bytes, in order.
TEST(SerialLinkOnPty, ASendCountsWhatTheLineTookAlsoWhenItIsFull)
{
    const struct {
        const char *name;
        int blockSize;
        int sends; //!< at most; a short send ends the case
        bool fillsUp;
    } cases[] = {
        {"one telegram of the largest size", LustBus::BufferSize, 1, false},
        {"a line nobody reads", 700, 2000, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        SerialLink link(QString::fromLocal8Bit(ptsname(master)),
                        QStringLiteral("RS485,57600,NONE,8,1"), ProtocolSettings(50, 0, 1, 0));
        ASSERT_TRUE(link.open()) << qPrintable(link.errorString());
        QByteArray block(c.blockSize, 0);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char('A' + i % 26);
        QByteArray reported;
        int result = c.blockSize;
        for (int i = 0; i < c.sends && result == c.blockSize && link.errorString().isEmpty();
             ++i) {
            result = link.send(block.constData(), c.blockSize);
            reported.append(block.left(qMax(result, 0)));
        }
        EXPECT_EQ(result < c.blockSize, c.fillsUp) << result;
        EXPECT_EQ(link.errorString().startsWith(QStringLiteral("send timed out with")),
                  c.fillsUp)
            << qPrintable(link.errorString());
        const QByteArray heard = drainTerminal(master, 100);
        EXPECT_EQ(heard.size(), reported.size());
        EXPECT_TRUE(heard == reported);
        link.close();
        close(master);
    }
}

} // namespace
