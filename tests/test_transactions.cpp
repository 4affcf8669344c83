// One exchange per call, seen through the scripted link: the order of link calls,
// the bytes on the wire, the EOT rule and the error texts.
#include "driverlustbusservoccde.h"
#include "scriptedlink.h"
#include "telegrams.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using Call = ScriptedLink::Call;

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

const QByteArray eot(1, '\x04');

struct Transactions : ::testing::Test
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
};

TEST_F(Transactions, ReplyOneBytePerReceiveIsCollectedUntilEtx)
{
    link.queueBytewise(Reply::value(1, "0064"));
    EXPECT_EQ(driver.queryParameterBytes(link, 45).toHex(), QByteArray("0064"));
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(link.count(Call::Receive), 9);
    // Each receive is offered the free rest of the buffer.
    EXPECT_EQ(link.calls[3].room, LustBus::BufferSize);
    EXPECT_EQ(link.calls[4].room, LustBus::BufferSize - 1);
    EXPECT_EQ(link.sent().last(), eot);
}

struct FailureCase
{
    const char *name; // "Read..." or "Write..."
    QList<QByteArray> chunks;
    const char *error;
};

class ExchangeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ExchangeFailure, ReportsItsTextAndClosesOnlyAfterNak)
{
    const FailureCase &c = GetParam();
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    for (const QByteArray &chunk : c.chunks)
        link.queueChunk(chunk);
    const bool write = QByteArray(c.name).startsWith("Write");
    EXPECT_FALSE(write ? driver.storeParameter(link, 45, hex("0064"))
                       : driver.queryParameter(link, 45));
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.error));
    const bool nak = QByteArray(c.error) == "invalid param no.";
    ASSERT_EQ(link.sent().size(), nak ? 2 : 1);
    EXPECT_EQ(link.sent().last() == eot, nak);
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, ExchangeFailure,
    ::testing::Values(
        FailureCase{"ReadNothingArrives", {}, "no response"},
        FailureCase{"ReadBreaksOff", {hex("41023d3030")}, "invalid response from servo"},
        FailureCase{"ReadFillsBufferWithoutEtx", {hex("4102") + QByteArray(810, '0')},
                    "invalid response from servo"},
        FailureCase{"ReadFromAnotherStation", {hex("42023d31460349")},
                    "invalid station id from servo"},
        FailureCase{"ReadNak", {hex("4115")}, "invalid param no."},
        FailureCase{"ReadNakWithTrailingBytes", {hex("41150303")}, "invalid param no."},
        FailureCase{"ReadWrongChecksum", {hex("41023d31460348")}, "checksum error"},
        FailureCase{"WriteNothingArrives", {}, "no response"},
        FailureCase{"WriteOneByte", {hex("41"), QByteArray()}, "invalid response from servo"},
        FailureCase{"WriteNeitherAckNorNak", {hex("4107")}, "invalid response from servo"},
        FailureCase{"WriteFromAnotherStation", {hex("4206")}, "invalid station id from servo"},
        FailureCase{"WriteNak", {hex("4115")}, "invalid param no."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Transactions, StationCheckedAgainstAFreshStationId)
{
    link.queueChunk(hex("41023d31460349"));
    EXPECT_TRUE(driver.queryParameter(link, 45));
    EXPECT_EQ(link.count(Call::StationId), 2);
}

TEST(IntegerValueReads, FollowStrtolInBase16With32BitResults)
{
    constexpr qint32 min = std::numeric_limits<qint32>::min();
    // ok is the same for the signed and the unsigned read.
    const struct { const char *valueText; bool ok; qint32 signedValue; quint32 unsignedValue; }
        cases[] = {
        {"0000ABCD", true, 0xABCD, 0xABCDu},   {"", true, 0, 0u},
        {" \t0x1f", true, 31, 31u},            {"+a", true, 10, 10u},
        {"-1", true, -1, 4294967295u},         {"FFFFFFFF", true, 2147483647, 4294967295u},
        {"100000000", true, 2147483647, 4294967295u},
        {"-80000000", true, min, 0x80000000u}, {"-80000001", true, min, 0x7FFFFFFFu},
        {"1G", false, 0, 0u},                  {"0x", false, 0, 0u}, {"-", false, 0, 0u},
    };
    for (const auto &c : cases) {
        for (bool isSigned : {true, false}) {
            DriverLustBusServoCCDE driver;
            ScriptedLink link;
            link.queueChunk(Reply::value(1, c.valueText));
            bool ok = !c.ok;
            const qint64 value = isSigned ? qint64(driver.queryParameterSigned(link, 1, ok))
                                          : qint64(driver.queryParameterUnsigned(link, 1, ok));
            EXPECT_EQ(value, isSigned ? qint64(c.signedValue) : qint64(c.unsignedValue))
                << c.valueText << (isSigned ? " signed" : " unsigned");
            EXPECT_EQ(ok, c.ok) << c.valueText;
            EXPECT_EQ(driver.hasError(), !c.ok) << c.valueText;
            EXPECT_EQ(driver.errorText(),
                      c.ok ? QString() : QStringLiteral("unknown format from servo"));
            // The exchange itself succeeded, so it was closed.
            EXPECT_EQ(link.sent().last(), eot);
        }
    }
}

TEST(ByteAndTextValueReads, DecodeTheValueText)
{
    // The reply between STX and ETX, the bytes read (hex) and the text read; nullptr for
    // "unknown format from servo".
    const struct { const char *replyText, *bytes, *text; } cases[] = {
        {"=064", "0064", "064"}, {"=1G2", "12", "1G2"}, {"=", "", ""},
        {"20045=1F", "1f", "1F"}, {"=1=2", "12", "1=2"}, {"no equals", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.answerEachRequestWith(Reply::data(1, c.replyText));
        EXPECT_EQ(driver.queryParameterBytes(link, 1).toHex(), QByteArray(c.bytes)) << c.replyText;
        EXPECT_EQ(driver.queryParameterText(link, 1), QByteArray(c.text)) << c.replyText;
        EXPECT_EQ(driver.errorText(),
                  c.text ? QString() : QStringLiteral("unknown format from servo"));
    }
}

TEST_F(Transactions, EqualsSignOnlyInTheChecksumByteIsNoValue)
{
    // STX, one byte chosen so that the checksum byte after ETX is "=".
    const QByteArray reply = hex("4102") + char(0x3D ^ 0x03) + '\x03' + '=';
    link.queueChunk(reply);
    EXPECT_TRUE(driver.queryParameterBytes(link, 1).isEmpty());
    EXPECT_EQ(driver.errorText(), QStringLiteral("unknown format from servo"));
    bool ok = true;
    link.queueChunk(reply);
    EXPECT_EQ(driver.queryParameterSigned(link, 1, ok), 0);
    EXPECT_FALSE(ok);
}

TEST_F(Transactions, TextWriteSendsUpToTheFirstZeroByte)
{
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.storeParameterText(link, 7, QByteArray("AB\0CD", 5)));
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("04410232303030373d4142000308"));
}

TEST_F(Transactions, RefusesWhatCannotGoOnTheWire)
{
    const struct { int station, valueBytes; const char *error; } cases[] = {
        {64, 2, "invalid station id"}, {-1, 2, "invalid station id"},
        {1, 401, "value too long for telegram"},
    };
    for (const auto &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.station = c.station;
        link.queueChunk(Reply::ack(1));
        EXPECT_FALSE(driver.storeParameter(link, 1, QByteArray(c.valueBytes, '\x01')));
        EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.error));
        EXPECT_EQ(link.count(Call::Send), 0) << c.station;
    }
    // Only the low 8 bits of the station id count: 257 is station 1.
    link.station = 257;
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.storeParameter(link, 1, hex("01")));
    EXPECT_EQ(link.sent()[0][1], 'A');
}

TEST_F(Transactions, ReceiveBufferHoldsOnlyTheLatestReply)
{
    link.queueChunk(Reply::value(1, QByteArray(100, 'A')));
    EXPECT_TRUE(driver.queryParameter(link, 1));
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.storeParameter(link, 1, hex("01")));
    EXPECT_EQ(driver.buffers().receiveCount, 2);
    for (int i = 2; i < LustBus::BufferSize; ++i)
        ASSERT_EQ(driver.buffers().receive[i], 0) << i;
}

TEST_F(Transactions, LinkClaimingMoreThanTheRoomCannotOverrunTheCount)
{
    struct GreedyLink : ScriptedLink
    {
        int receive(char *data, int room) override
        {
            ScriptedLink::receive(data, room);
            return room + 100;
        }
    } greedy;
    greedy.queueChunk(QByteArray(LustBus::BufferSize, '0'));
    EXPECT_FALSE(driver.queryParameter(greedy, 1));
    EXPECT_EQ(driver.errorText(), QStringLiteral("invalid response from servo"));
    EXPECT_EQ(driver.buffers().receiveCount, LustBus::BufferSize);
}

} // namespace
