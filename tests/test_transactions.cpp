// One exchange per call, seen through the scripted link: the order of link calls,
// the bytes on the wire, the EOT rule and the error texts.
#include "scriptedlink.h"
#include "transactions.h"

#include <gtest/gtest.h>

namespace {

using Call = ScriptedLink::Call;

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

const QByteArray eot(1, '\x04');

struct Exchange
{
    LustBus::ErrorState errors;
    LustBus::Transactions transactions{errors};
    ScriptedLink link;
};

struct Transactions : ::testing::Test, Exchange {};

TEST_F(Transactions, ReplyOneBytePerReceiveIsCollectedUntilEtx)
{
    link.queueBytewise(Reply::value(1, "0064"));
    EXPECT_EQ(transactions.queryParameterBytes(link, 45).toHex(), QByteArray("0064"));
    EXPECT_FALSE(errors.failed);
    EXPECT_EQ(link.count(Call::Receive), 9);
    // Each receive is offered the free rest of the buffer.
    EXPECT_EQ(link.calls[3].room, LustBus::BufferSize);
    EXPECT_EQ(link.calls[4].room, LustBus::BufferSize - 1);
    EXPECT_EQ(link.sent().last(), eot);
    EXPECT_EQ(link.count(Call::StationId), 2); // the reply checked against a fresh station id
}

// name: "Read..." or "Write...".
TEST_F(Transactions, ExchangeFailuresReportTheirTextAndCloseOnlyAfterNak)
{
    const struct { const char *name; QList<QByteArray> chunks; const char *error; } cases[] = {
        {"ReadNothingArrives", {}, "no response"},
        {"ReadBreaksOff", {hex("41023d3030")}, "invalid response from servo"},
        {"ReadFillsBufferWithoutEtx", {hex("4102") + QByteArray(810, '0')},
         "invalid response from servo"},
        {"ReadFromAnotherStation", {hex("42023d31460349")}, "invalid station id from servo"},
        {"ReadNak", {hex("4115")}, "invalid param no."},
        {"ReadNakWithTrailingBytes", {hex("41150303")}, "invalid param no."},
        {"ReadWrongChecksum", {hex("41023d31460348")}, "checksum error"},
        {"WriteNothingArrives", {}, "no response"},
        {"WriteOneByte", {hex("41"), QByteArray()}, "invalid response from servo"},
        {"WriteNeitherAckNorNak", {hex("4107")}, "invalid response from servo"},
        {"WriteFromAnotherStation", {hex("4206")}, "invalid station id from servo"},
        {"WriteNak", {hex("4115")}, "invalid param no."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto [errors, transactions, link] = Exchange();
        for (const QByteArray &chunk : c.chunks)
            link.queueChunk(chunk);
        const bool write = QByteArray(c.name).startsWith("Write");
        EXPECT_FALSE(write ? transactions.storeParameter(link, 45, hex("0064"))
                           : transactions.queryParameter(link, 45));
        EXPECT_TRUE(errors.failed);
        EXPECT_EQ(errors.text, QString::fromLatin1(c.error));
        const bool nak = QByteArray(c.error) == "invalid param no.";
        ASSERT_EQ(link.sent().size(), nak ? 2 : 1);
        EXPECT_EQ(link.sent().last() == eot, nak);
    }
}

// The value rules are the codec's (test_wirecodec). A value read of an exchange that
// succeeded without a value closes it all the same and reports "unknown format from servo".
TEST(ValueReads, AReplyWithoutAValueIsAnUnknownFormatAfterTheEot)
{
    for (int read = 0; read < 5; ++read) {
        auto [errors, t, link] = Exchange(); // below, a zero byte ends the search for "="
        link.queueChunk(LustBus::formatted(LustBus::formatDataReply, 1, "\0", 1, "1F", 2));
        bool ok = true;
        const QByteArray got = read == 0 ? QByteArray::number(t.queryParameterSigned(link, 1, ok))
            : read == 1 ? QByteArray::number(t.queryParameterUnsigned(link, 1, ok))
            : read == 2 ? t.queryParameterBytes(link, 1)
            : read == 3 ? t.queryArrayBytes(link, 1, 0, 1) : t.queryParameterText(link, 1);
        EXPECT_EQ(got, QByteArray(read < 2 ? "0" : "")) << read;
        EXPECT_FALSE(ok && read < 2) << read;
        EXPECT_EQ(errors.text, QStringLiteral("unknown format from servo")) << read;
        EXPECT_EQ(link.sent().last(), eot) << read;
    }
}

TEST_F(Transactions, RefusesWhatCannotGoOnTheWire)
{
    const struct { int station, valueBytes; const char *error; } cases[] = {
        {64, 2, "invalid station id"}, {-1, 2, "invalid station id"},
        {1, 401, "value too long for telegram"},
    };
    for (const auto &c : cases) {
        auto [errors, transactions, link] = Exchange();
        link.station = c.station;
        link.queueChunk(Reply::ack(1));
        EXPECT_FALSE(transactions.storeParameter(link, 1, QByteArray(c.valueBytes, '\x01')));
        EXPECT_EQ(errors.text, QString::fromLatin1(c.error));
        EXPECT_EQ(link.count(Call::Send), 0) << c.station;
    }
    // Only the low 8 bits of the station id count: 257 is station 1.
    link.station = 257;
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(transactions.storeParameter(link, 1, hex("01")));
    EXPECT_EQ(link.sent()[0][1], 'A');
}

TEST_F(Transactions, ReceiveBufferHoldsOnlyTheLatestReply)
{
    link.queueChunk(Reply::value(1, QByteArray(100, 'A')));
    EXPECT_TRUE(transactions.queryParameter(link, 1));
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(transactions.storeParameter(link, 1, hex("01")));
    EXPECT_EQ(transactions.buffers().receiveCount, 2);
    for (int i = 2; i < LustBus::BufferSize; ++i)
        ASSERT_EQ(transactions.buffers().receive[i], 0) << i;
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
    EXPECT_FALSE(transactions.queryParameter(greedy, 1));
    EXPECT_EQ(errors.text, QStringLiteral("invalid response from servo"));
    EXPECT_EQ(transactions.buffers().receiveCount, LustBus::BufferSize);
}

} // namespace
