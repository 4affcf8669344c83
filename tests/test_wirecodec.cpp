// The wire codec, byte for byte: request formats and their recognition, replies and
// theirs, the value text readers.
#include "scriptedlink.h"
#include "stationid.h"
#include "wirecodec.h"

#include <QtCore/QByteArray>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace LustBus;

namespace {

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

// A scan in one line: "N" or "G length" (need more, garbage), or for a complete request
// "length: station service r|w target ok|bcc =value", "bad" for fields that do not
// parse, "a|b" for two readings of the digits.
std::string recognised(const QByteArray &bytes)
{
    const RequestScan scan = scanRequest(bytes.constData(), int(bytes.size()));
    if (scan.status != RequestScan::Complete)
        return scan.status == RequestScan::NeedMore ? "N" : "G " + std::to_string(scan.length);
    const ReceivedRequest &r = scan.request;
    const bool array = r.service == ReceivedRequest::Array;
    const auto target = [array](const RequestTarget &t) {
        return std::to_string(t.parameter) + (array ? "/" + std::to_string(t.firstElement) + "/"
                                                          + std::to_string(t.elementCount)
                                                    : "");
    };
    std::string text = std::to_string(scan.length) + ": " + std::to_string(r.station)
        + (array ? " 70 " : r.service == ReceivedRequest::Simple ? " 20 " : " ?? ")
        + (r.write ? "w " : "r ");
    if (!r.fieldsOk)
        return text + "bad";
    text += target(r.target) + (r.ambiguous ? "|" + target(r.alternative) : "")
        + (r.checksumOk ? " ok" : " bcc");
    if (r.write)
        text += " =" + bytes.mid(r.valueAt, r.valueSize).replace('\0', "\\0").toStdString();
    return text;
}

// Every telegram the formats write is recognised with the fields it was made from.
// Numbers keep their leading zeros to a minimum width, never cut to it; the station
// character spans 0x40 to 0x7F; the checksum covers everything after STX through ETX.
TEST(Format, WritesTheTelegramThatIsRecognisedWithItsFields)
{
    // expected: hex; fields: as recognised.
    const struct { Request request; qint8 station; const char *expected, *fields; } cases[] = {
        {{Request::ReadParameter, 45}, 1, "0441323030343505", "1 20 r 45 ok"},
        {{Request::WriteParameter, 45, 0, 0, "\x00\x64", 2}, 1, "04410232303034353d30303634030f",
         "1 20 w 45 ok =0064"},
        {{Request::WriteText, 7, 0, 0, "AB", 2}, 1, "04410232303030373d4142000308",
         "1 20 w 7 ok =AB\\0"},
        {{Request::ReadArray, 100, 3, 4}, 2, "044237303130303030303033303405", "2 70 r 100/3/4 ok"},
        {{Request::WriteArray, 100, 3, 1, "\x12\x34", 2}, 2,
         "0442023730313030303030303330313d31323334033e", "2 70 w 100/3/1 ok =1234"},
        {{Request::ReadParameter, 1000}, 1, "044132303130303005", "1 20 r 1000 ok"},
        {{Request::ReadArray, 1, 0, 100}, 1, "04413730303031303030303031303005", "1 70 r 1/0/100 ok"},
        {{Request::ReadParameter, 1}, 0, "0440323030303105", "0 20 r 1 ok"},
        {{Request::ReadParameter, 1}, 63, "047f323030303105", "63 20 r 1 ok"},
        {{Request::WriteParameter, 1}, 1, "04410232303030313d030d", "1 20 w 1 ok ="}, // empty value
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        char buffer[BufferSize];
        std::memset(buffer, 0x55, sizeof buffer);
        const qint32 length = formatRequest(c.station, c.request, buffer, BufferSize);
        const QByteArray expected = QByteArray::fromHex(c.expected);
        ASSERT_EQ(length, expected.size());
        EXPECT_EQ(QByteArray(buffer, length).toHex(' '), expected.toHex(' '));
        EXPECT_EQ(buffer[length], 0x55) << "wrote past the telegram";
        EXPECT_EQ(recognised(QByteArray(buffer, length)), std::to_string(length) + ": " + c.fields);
    }
}

TEST(Format, RefusesValuesThatDoNotFitAndWritesNothingBeyond)
{
    // 400 value bytes are the most a "20" write with a three-digit parameter holds.
    const QByteArray value(401, '\x11');
    const QByteArray text(808, 'x');
    char buffer[BufferSize + 16];
    std::memset(buffer, 0x55, sizeof buffer);
    const char *v = value.constData();
    EXPECT_EQ(formatWriteRequest(1, 45, v, 400, buffer, BufferSize), 811);
    EXPECT_EQ(formatWriteRequest(1, 45, v, 401, buffer, BufferSize), -1);
    EXPECT_EQ(formatArrayWriteRequest(1, 45, 0, 1, v, 397, buffer, BufferSize), BufferSize);
    EXPECT_EQ(formatArrayWriteRequest(1, 45, 0, 1, v, 398, buffer, BufferSize), -1);
    EXPECT_EQ(formatWriteTextRequest(1, 45, text.constData(), 800, buffer, BufferSize), BufferSize);
    EXPECT_EQ(formatWriteTextRequest(1, 45, text.constData(), 801, buffer, BufferSize), -1);
    // A four-digit parameter takes one more byte.
    EXPECT_EQ(formatArrayWriteRequest(1, 4500, 0, 1, v, 397, buffer, BufferSize), -1);
    EXPECT_EQ(formatDataReply(1, nullptr, 0, text.constData(), 807, buffer, BufferSize), 812);
    EXPECT_EQ(formatDataReply(1, nullptr, 0, text.constData(), 808, buffer, BufferSize), -1);
    for (int i = BufferSize; i < int(sizeof buffer); ++i)
        ASSERT_EQ(buffer[i], 0x55) << i;
    // Even a read request or an acknowledgement is refused by a buffer too small for it.
    std::memset(buffer, 0x55, sizeof buffer);
    EXPECT_EQ(formatReadRequest(1, 45, buffer, 7), -1);
    EXPECT_EQ(formatNakReply(1, buffer, 1), -1);
    EXPECT_EQ(buffer[7], 0x55);
    EXPECT_TRUE(formatted(formatWriteRequest, 1, 45, v, 401).isEmpty());
}

TEST(Format, Replies)
{
    EXPECT_EQ(formatted(formatDataReply, 1, nullptr, 0, "1F", 2).toHex(), "41023d31460349");
    EXPECT_EQ(formatted(formatDataReply, 1, "20012", 5, "FB2E", 4).toHex(),
              "41023230303132" "3d46423245" "037c");
    EXPECT_EQ(formatted(formatDataReply, 0, nullptr, 0, nullptr, 0).toHex(), "40023d033e");
    EXPECT_EQ(formatted(formatAckReply, 63).toHex(), "7f06");
    EXPECT_EQ(formatted(formatNakReply, 1).toHex(), "4115");
}

// Streams a servo hears, as recognised from their first byte on.
TEST(RequestRecognition, CompleteNeedMoreOrGarbage)
{
    const struct { const char *what; QByteArray bytes; const char *recognised; } cases[] = {
        {"nothing", "", "N"},
        {"a request begun", "\x04" "A2001", "N"},
        {"a write without its checksum", "\x04" "A\x02" "20001=01\x03", "N"},
        {"bytes before a request", "xx\x04" "A20013\x05", "G 2"},
        {"the closing EOT", "\x04\x04" "A20013\x05", "G 1"}, // as any EOT breaks one off
        {"too long to be a request", "\x04" "A20" + QByteArray(BufferSize, '1'), "G 812"},
        {"a read and more", "\x04" "A20013\x05xx", "8: 1 20 r 13 ok"},
        {"an empty read", "\x04" "A\x05", "3: 1 ?? r bad"},
        {"station character below 0x40", "\x04" "\x10" "20013\x05", "8: -48 20 r 13 ok"},
        {"an EOT as the checksum", "\x04" "A\x02" "20001=\t\x03\x04", "12: 1 20 w 1 ok =\t"},
        {"a wrong checksum", "\x04" "A\x02" "20001=01\x03" "A", "13: 1 20 w 1 bcc =01"},
        {"a write without =", "\x04" "A\x02" "2000101\x03" "2", "12: 1 20 w bad"},
        {"a padded parameter", "\x04" "A200012\x05", "9: 1 20 r bad"},
        {"a parameter above 65535", "\x04" "A2065536\x05", "10: 1 20 r bad"},
        {"a count above 255", "\x04" "A7010000" "00000" "256\x05", "18: 1 70 r bad"},
        {"short array digits", "\x04" "A70101000030\x05", "14: 1 70 r bad"},
        {"two readings", "\x04" "A70110000000100\x05", "17: 1 70 r 11000/1/0|1100/0/100 ok"},
        {"a padded count has one", "\x04" "A7011000000010\x05", "16: 1 70 r 1100/0/10 ok"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(recognised(c.bytes), c.recognised) << c.what;
}

// Replies as the driver reads them and as a gateway passes them on, as they come in.
// driver: what scanReadReply ("N" need more, "C" complete, "T" too long) and, with
// " ack", isAcknowledge make of it; nullptr where the row is the gateway's only. seen:
// "N" need more, "T 812" too long, else the reply's length and whether the master
// closes the exchange with EOT.
TEST(ReplyRecognition, WhereAReplyEndsAndWhetherEotClosesIt)
{
    ReceivedRequest read, write;
    read.station = write.station = 1;
    write.write = true;
    const struct { const char *what; const ReceivedRequest &request; QByteArray reply;
                   const char *driver, *seen; } cases[] = {
        {"a read's first byte", read, hex("41"), "N", "N"},
        {"NAK", read, hex("4115"), "C ack", "2 eot"},
        {"NAK and more", read, hex("41150303"), "C", "2 eot"}, // not looked at by the driver
        {"another station's NAK", read, hex("4215"), nullptr, "2"},
        {"a data reply", read, hex("41023d31460349"), "C", "7 eot"},
        {"a data reply and the next", read, hex("41023d314603490441"), nullptr, "7 eot"},
        {"a wrong checksum", read, hex("41023d31460348"), nullptr, "7"},
        {"another station's data", read, hex("42023d31460349"), nullptr, "7"},
        {"ETX right after the station", read, hex("410341"), nullptr, "3"},
        {"ETX as the second byte of three", read, hex("410203"), "N", "N"},
        {"a buffer without ETX", read, hex("4102") + QByteArray(BufferSize - 2, '0'), "T", "T 812"},
        {"a write's first byte", write, hex("41"), nullptr, "N"},
        {"ACK", write, hex("4106"), "N ack", "2 eot"},
        {"ACK and more", write, hex("41060441"), nullptr, "2 eot"},
        {"neither ACK nor NAK", write, hex("4107"), "N", "2"},
        {"another station's ACK", write, hex("4206"), nullptr, "2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const char *bytes = c.reply.constData();
        const int size = int(c.reply.size());
        if (c.driver) {
            const ReplyStatus status = scanReadReply(bytes, size);
            EXPECT_EQ(std::string(status == ReplyStatus::NeedMore ? "N"
                                  : status == ReplyStatus::TooLong ? "T" : "C")
                          + (isAcknowledge(bytes, size) ? " ack" : ""),
                      c.driver);
        }
        const ReplyScan scan = scanReply(c.request, bytes, size);
        std::string seen = scan.status == ReplyStatus::NeedMore ? "N"
            : scan.status == ReplyStatus::TooLong ? "T " + std::to_string(scan.length)
                                                  : std::to_string(scan.length);
        if (scan.closedWithEot)
            seen += " eot";
        EXPECT_EQ(seen, c.seen);
    }
}

TEST(ReplyTests, StationAndChecksum)
{
    const struct { const char *reply; qint8 station; bool stationOk, checksumOk; } cases[] = {
        {"41023d314603" "49", 1, true, true},   // value text 1F
        {"41023d314603" "48", 1, true, false},  // wrong last byte
        {"41413d314603" "49", 1, true, false},  // no STX at all
        {"42023d314603" "49", 1, false, true},  // another station
        {"40023d03" "3e", 0, true, true},       // station 0, empty value
        {"7f023d03" "3e", 63, true, true},
        {"4102" "03", 1, true, false},          // span would end before STX
        {"41" "00" "02", 1, true, false},       // zero byte ends the STX search
    };
    for (const auto &c : cases) {
        const QByteArray reply = hex(c.reply);
        EXPECT_EQ(checkReplyStation(reply.constData(), c.station), c.stationOk) << c.reply;
        EXPECT_EQ(checkReplyChecksum(reply.constData(), reply.size()), c.checksumOk) << c.reply;
    }
    // Ids 64 to 127 give characters 0x80 to 0xBF, which read as negative: none passes.
    for (int id = 64; id < 128; ++id) {
        for (int byte = 0; byte < 256; ++byte) {
            const char reply[2] = {char(byte), '\x06'};
            ASSERT_FALSE(checkReplyStation(reply, qint8(id))) << id << " " << byte;
        }
    }
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
        const QByteArray reply = Reply::data(1, QByteArray("=") + c.valueText);
        qint32 signedValue = 0;
        quint32 unsignedValue = 0;
        EXPECT_EQ(replySignedValue(reply.constData(), int(reply.size()), &signedValue), c.ok)
            << c.valueText;
        EXPECT_EQ(replyUnsignedValue(reply.constData(), int(reply.size()), &unsignedValue), c.ok)
            << c.valueText;
        EXPECT_EQ(signedValue, c.signedValue) << c.valueText;
        EXPECT_EQ(unsignedValue, c.unsignedValue) << c.valueText;
    }
}

TEST(ByteAndTextValueReads, DecodeTheValueText)
{
    // The reply, the bytes read (hex) and the text read; nullptr for no value. The last:
    // STX, one byte chosen so that the checksum byte after ETX is "=".
    const struct { QByteArray reply; const char *bytes, *text; } cases[] = {
        {Reply::data(1, "=064"), "0064", "064"}, {Reply::data(1, "=1G2"), "12", "1G2"},
        {Reply::data(1, "="), "", ""},           {Reply::data(1, "20045=1F"), "1f", "1F"},
        {Reply::data(1, "=1=2"), "12", "1=2"},
        {hex("4102") + "no equals" + hex("0300"), nullptr, nullptr},
        {hex("4102") + char(0x3D ^ 0x03) + '\x03' + '=', nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply.toHex().constData());
        const char *text = nullptr;
        int length = -1;
        ASSERT_EQ(replyValueText(c.reply.constData(), int(c.reply.size()), &text, &length),
                  c.text != nullptr);
        qint32 number = 0;
        if (!c.text) {
            EXPECT_FALSE(replySignedValue(c.reply.constData(), int(c.reply.size()), &number));
            continue;
        }
        EXPECT_EQ(QByteArray(text, length), QByteArray(c.text));
        QByteArray bytes(hexDecodedSize(text, length), '?');
        decodeHexDigits(text, length, bytes.data(), int(bytes.size()));
        EXPECT_EQ(bytes.toHex(), QByteArray(c.bytes));
    }
}

} // namespace

TEST(StationIds, AreWholeNumbersInTheCodecsRange)
{
    const struct { const char *text; int station; } cases[] = {
        {"0", 0}, {"63", 63}, {" 7 ", 7}, {"+5", 5},
        {"64", -1}, {"-1", -1}, {"", -1}, {"x", -1}, {"1.5", -1}, {"0x10", -1}, {"4294967297", -1},
    };
    for (const auto &c : cases) {
        int station = -1;
        QString why;
        const bool parsed = LustBus::parseStationId(QString::fromLatin1(c.text), &station, &why);
        EXPECT_EQ(parsed, c.station >= 0) << c.text;
        if (parsed)
            EXPECT_EQ(station, c.station) << c.text;
        else
            EXPECT_EQ(why.toStdString(), "expected a whole number from 0 to 63") << c.text;
        EXPECT_EQ(parsed, c.station >= LustBus::MinStationId && c.station <= LustBus::MaxStationId)
            << c.text;
    }
}
