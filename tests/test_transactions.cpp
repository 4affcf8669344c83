// One exchange per call, seen through the scripted link: the order of link calls,
// the bytes on the wire, the EOT rule and the error texts.
#include "driverlustbusservoccde.h"
#include "scriptedlink.h"
#include "telegrams.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using Call = ScriptedLink::Call;

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

const QByteArray eot(1, '\x04');

class Transactions : public ::testing::Test
{
protected:
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
};

TEST_F(Transactions, UnsignedReadOfParameter45)
{
    link.queueChunk(hex("41023d31460349"));
    bool ok = false;
    EXPECT_EQ(driver.queryParameterUnsigned(link, 45, ok), 31u);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(link.trace(), QStringLiteral("CS><S>"));
    ASSERT_EQ(link.sent().size(), 2);
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("0441323030343505"));
    EXPECT_EQ(link.sent()[1], eot);
    EXPECT_EQ(link.calls[0].code, 12);
    EXPECT_EQ(link.calls[0].value, QVariant(0));
    EXPECT_EQ(link.calls[3].room, LustBus::BufferSize);
}

TEST_F(Transactions, StoreTwoBytesToParameter45)
{
    link.queueChunk(hex("4106"));
    EXPECT_TRUE(driver.storeParameter(link, 45, hex("0064")));
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(link.trace(), QStringLiteral("CS>=S>"));
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("04410232303034353d30303634030f"));
    EXPECT_EQ(link.sent()[1], eot);
    EXPECT_EQ(link.calls[3].room, 2);
}

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
    const char *name;
    bool write;
    QList<QByteArray> chunks;
    const char *error;
    bool eotSent;
};

class ExchangeFailure : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(ExchangeFailure, ReportsItsTextAndClosesOnlyAfterNak)
{
    const FailureCase &c = GetParam();
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    for (const QByteArray &chunk : c.chunks)
        link.queueChunk(chunk);
    const bool result = c.write ? driver.storeParameter(link, 45, hex("0064"))
                                : driver.queryParameter(link, 45);
    EXPECT_FALSE(result);
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.error));
    EXPECT_EQ(link.sent().size(), c.eotSent ? 2 : 1);
    if (c.eotSent) {
        EXPECT_EQ(link.sent().last(), eot);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, ExchangeFailure,
    ::testing::Values(
        FailureCase{"ReadNothingArrives", false, {}, "no response", false},
        FailureCase{"ReadBreaksOff", false, {hex("41023d3030")}, "invalid response from servo",
                    false},
        FailureCase{"ReadFillsBufferWithoutEtx", false,
                    {hex("4102") + QByteArray(810, '0')}, "invalid response from servo", false},
        FailureCase{"ReadFromAnotherStation", false, {hex("42023d31460349")},
                    "invalid station id from servo", false},
        FailureCase{"ReadNak", false, {hex("4115")}, "invalid param no.", true},
        FailureCase{"ReadNakWithTrailingBytes", false, {hex("41150303")}, "invalid param no.",
                    true},
        FailureCase{"ReadWrongChecksum", false, {hex("41023d31460348")}, "checksum error", false},
        FailureCase{"WriteNothingArrives", true, {}, "no response", false},
        FailureCase{"WriteOneByte", true, {hex("41"), QByteArray()},
                    "invalid response from servo", false},
        FailureCase{"WriteNeitherAckNorNak", true, {hex("4107")}, "invalid response from servo",
                    false},
        FailureCase{"WriteFromAnotherStation", true, {hex("4206")},
                    "invalid station id from servo", false},
        FailureCase{"WriteNak", true, {hex("4115")}, "invalid param no.", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Transactions, StationCheckedAgainstAFreshStationId)
{
    link.queueChunk(hex("41023d31460349"));
    EXPECT_TRUE(driver.queryParameter(link, 45));
    EXPECT_EQ(link.count(Call::StationId), 2);
}

struct IntegerCase
{
    const char *valueText;
    bool signedOk;
    qint32 signedValue;
    bool unsignedOk;
    quint32 unsignedValue;
};

TEST(IntegerValueReads, FollowStrtolInBase16With32BitResults)
{
    const IntegerCase cases[] = {
        {"1F", true, 31, true, 31u},
        {"1f", true, 31, true, 31u},
        {"", true, 0, true, 0u},
        {"1G", false, 0, false, 0u},
        {"-1", true, -1, true, 4294967295u},
        {"FFFFFFFF", true, 2147483647, true, 4294967295u},
        {"100000000", true, 2147483647, true, 4294967295u},
        {"-80000000", true, std::numeric_limits<qint32>::min(), true, 0x80000000u},
        {"-80000001", true, std::numeric_limits<qint32>::min(), true, 0x7FFFFFFFu},
        {"-FFFFFFFFF", true, std::numeric_limits<qint32>::min(), true, 4294967295u},
        {" \t0x1f", true, 31, true, 31u},
        {"+a", true, 10, true, 10u},
        {"0x", false, 0, false, 0u},
        {"-", false, 0, false, 0u},
        {" ", false, 0, false, 0u},
        {"1F ", false, 0, false, 0u},
        {"0000ABCD", true, 0xABCD, true, 0xABCDu},
    };
    for (const IntegerCase &c : cases) {
        const QByteArray reply = Reply::value(1, c.valueText);
        for (bool isSigned : {true, false}) {
            DriverLustBusServoCCDE driver;
            ScriptedLink link;
            link.queueChunk(reply);
            bool ok = !(isSigned ? c.signedOk : c.unsignedOk);
            if (isSigned)
                EXPECT_EQ(driver.queryParameterSigned(link, 1, ok), c.signedValue) << c.valueText;
            else
                EXPECT_EQ(driver.queryParameterUnsigned(link, 1, ok), c.unsignedValue)
                    << c.valueText;
            const bool expectOk = isSigned ? c.signedOk : c.unsignedOk;
            EXPECT_EQ(ok, expectOk) << c.valueText << (isSigned ? " signed" : " unsigned");
            EXPECT_EQ(driver.hasError(), !expectOk) << c.valueText;
            if (!expectOk) {
                EXPECT_EQ(driver.errorText(), QStringLiteral("unknown format from servo"));
            }
            // The exchange itself succeeded, so it was closed.
            EXPECT_EQ(link.sent().last(), eot);
        }
    }
}

struct BytesCase
{
    const char *replyText; // after STX, before ETX
    const char *bytes;     // hex, or nullptr for "unknown format from servo"
    const char *text;      // the text read, or nullptr likewise
};

TEST(ByteAndTextValueReads, DecodeTheValueText)
{
    const BytesCase cases[] = {
        {"=0064", "0064", "0064"},
        {"=064", "0064", "064"},
        {"=1G2", "12", "1G2"},
        {"=", "", ""},
        {"=AB", "ab", "AB"},
        {"20045=1F", "1f", "1F"},
        {"=1=2", "12", "1=2"},
        {"no equals", nullptr, nullptr},
    };
    for (const BytesCase &c : cases) {
        for (int which = 0; which < 3; ++which) {
            DriverLustBusServoCCDE driver;
            ScriptedLink link;
            link.queueChunk(Reply::data(1, c.replyText));
            QByteArray got;
            if (which == 0)
                got = driver.queryParameterBytes(link, 1).toHex();
            else if (which == 1)
                got = driver.queryArrayBytes(link, 1, 0, 1).toHex();
            else
                got = driver.queryParameterText(link, 1);
            const char *expected = which == 2 ? c.text : c.bytes;
            if (expected) {
                EXPECT_EQ(got, QByteArray(expected)) << c.replyText << " " << which;
                EXPECT_FALSE(driver.hasError()) << c.replyText;
            } else {
                EXPECT_TRUE(got.isEmpty());
                EXPECT_EQ(driver.errorText(), QStringLiteral("unknown format from servo"));
            }
            EXPECT_EQ(link.sent().last(), eot);
        }
    }
}

TEST_F(Transactions, EqualsSignOnlyInTheChecksumByteIsNoValue)
{
    // STX "1" ETX with checksum 0x32 ^ ... chosen so that the checksum byte is "=".
    QByteArray reply = hex("4102");
    reply += char(0x3D ^ 0x03);
    reply += '\x03';
    reply += '=';
    ASSERT_EQ(reply.size(), 5);
    link.queueChunk(reply);
    EXPECT_TRUE(driver.queryParameterBytes(link, 1).isEmpty());
    EXPECT_EQ(driver.errorText(), QStringLiteral("unknown format from servo"));
    bool ok = true;
    link.queueChunk(reply);
    EXPECT_EQ(driver.queryParameterSigned(link, 1, ok), 0);
    EXPECT_FALSE(ok);
}

TEST_F(Transactions, ArrayTelegramsCarryIndexAndCount)
{
    link.queueChunk(Reply::value(2, "12345678"));
    link.station = 2;
    EXPECT_EQ(driver.queryArrayBytes(link, 100, 3, 4).toHex(), QByteArray("12345678"));
    link.queueChunk(Reply::ack(2));
    EXPECT_TRUE(driver.storeArray(link, 100, 3, 1, hex("1234")));
    const QList<QByteArray> sent = link.sent();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[0].toHex(), QByteArray("044237303130303030303033303405"));
    EXPECT_EQ(sent[2].toHex(), QByteArray("0442023730313030303030303330313d31323334033e"));
}

TEST_F(Transactions, TextWriteSendsUpToTheFirstZeroByte)
{
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.storeParameterText(link, 7, QByteArray("AB\0CD", 5)));
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("04410232303030373d4142000308"));
}

TEST_F(Transactions, RefusesWhatCannotGoOnTheWire)
{
    struct
    {
        int station;
        int valueBytes;
        const char *error;
    } cases[] = {
        {64, 2, "invalid station id"},
        {-1, 2, "invalid station id"},
        {127, 2, "invalid station id"},
        {1, 401, "value too long for telegram"},
    };
    for (const auto &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.station = c.station;
        link.queueChunk(Reply::ack(1));
        EXPECT_FALSE(driver.storeParameter(link, 1, QByteArray(c.valueBytes, '\x01')));
        EXPECT_TRUE(driver.hasError());
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
    const LustBus::ProtocolBuffers &buffers = driver.buffers();
    EXPECT_EQ(buffers.receiveCount, 2);
    for (int i = 2; i < LustBus::BufferSize; ++i)
        ASSERT_EQ(buffers.receive[i], 0) << i;
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
