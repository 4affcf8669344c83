// Request formats and reply tests, byte for byte.
#include "telegrams.h"

#include <QtCore/QByteArray>

#include <gtest/gtest.h>

#include <cstring>

using namespace LustBus;

namespace {

struct FormatCase
{
    const char *name;
    Request request;
    qint8 station;
    const char *expected; // hex
};

class Format : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Format, WritesTheTelegram)
{
    const FormatCase &c = GetParam();
    char buffer[BufferSize];
    std::memset(buffer, 0x55, sizeof buffer);
    const qint32 length = formatRequest(c.station, c.request, buffer, BufferSize);
    const QByteArray expected = QByteArray::fromHex(c.expected);
    ASSERT_EQ(length, expected.size());
    EXPECT_EQ(QByteArray(buffer, length).toHex(' '), expected.toHex(' '));
    EXPECT_EQ(buffer[length], 0x55) << "wrote past the telegram";
}

// Numbers keep their leading zeros to a minimum width, never cut to it; the station
// character spans 0x40 to 0x7F; the checksum covers everything after STX through ETX.
INSTANTIATE_TEST_SUITE_P(
    Telegrams, Format,
    ::testing::Values(
        FormatCase{"ReadParameter45", {Request::ReadParameter, 45}, 1, "0441323030343505"},
        FormatCase{"WriteTwoBytes", {Request::WriteParameter, 45, 0, 0, "\x00\x64", 2}, 1,
                   "04410232303034353d30303634030f"},
        FormatCase{"WriteText", {Request::WriteText, 7, 0, 0, "AB", 2}, 1,
                   "04410232303030373d4142000308"},
        FormatCase{"ReadArray", {Request::ReadArray, 100, 3, 4}, 2,
                   "044237303130303030303033303405"},
        FormatCase{"WriteArray", {Request::WriteArray, 100, 3, 1, "\x12\x34", 2}, 2,
                   "0442023730313030303030303330313d31323334033e"},
        FormatCase{"FourDigitParameter", {Request::ReadParameter, 1000}, 1, "044132303130303005"},
        FormatCase{"ThreeDigitCount", {Request::ReadArray, 1, 0, 100}, 1,
                   "04413730303031303030303031303005"},
        FormatCase{"StationZero", {Request::ReadParameter, 1}, 0, "0440323030303105"},
        FormatCase{"StationSixtyThree", {Request::ReadParameter, 1}, 63, "047f323030303105"},
        FormatCase{"EmptyHexValue", {Request::WriteParameter, 1}, 1, "04410232303030313d030d"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Format, RefusesValuesThatDoNotFitAndWritesNothingBeyond)
{
    // 400 value bytes are the most a "20" write with a three-digit parameter holds.
    const QByteArray value(401, '\x11');
    const QByteArray text(801, 'x');
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
    for (int i = BufferSize; i < int(sizeof buffer); ++i)
        ASSERT_EQ(buffer[i], 0x55) << i;
    // Even a read request is refused by a buffer too small for it.
    std::memset(buffer, 0x55, sizeof buffer);
    EXPECT_EQ(formatReadRequest(1, 45, buffer, 7), -1);
    EXPECT_EQ(buffer[7], 0x55);
}

TEST(ReplyTests, StationAndChecksum)
{
    const struct
    {
        const char *reply; // hex
        qint8 station;
        bool stationOk, checksumOk;
    } cases[] = {
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
        const QByteArray reply = QByteArray::fromHex(c.reply);
        EXPECT_EQ(checkReplyStation(reply.constData(), c.station), c.stationOk) << c.reply;
        EXPECT_EQ(checkReplyChecksum(reply.constData(), reply.size()), c.checksumOk) << c.reply;
    }
}

TEST(ReplyTests, StationIdsWithoutAStationCharacterNeverPass)
{
    // Ids 64 to 127 give characters 0x80 to 0xBF, which read as negative.
    for (int id = 64; id < 128; ++id) {
        for (int byte = 0; byte < 256; ++byte) {
            const char reply[2] = {char(byte), '\x06'};
            ASSERT_FALSE(checkReplyStation(reply, qint8(id))) << id << " " << byte;
        }
    }
}

} // namespace
