#include "tools/texts.h"

#include <gtest/gtest.h>

namespace {

TEST(LeadingName, LettersAndUnderscores)
{
    const struct { const char *text; const char *name; } cases[] = {
        {"INT16:100", "INT"}, {"_x_y1", "_x_y"}, {"1INT", ""}, {"", ""},
        {"AB\xE9Z", "AB"}, // Latin-1 letters are not ASCII letters
    };
    for (const auto &c : cases) {
        EXPECT_EQ(LeadingName(QByteArray(c.text)), QByteArray(c.name)) << c.text;
        EXPECT_EQ(LeadingName(c.text), QByteArray(c.name)) << c.text;
        EXPECT_EQ(LeadingName(QString::fromLatin1(c.text)), QByteArray(c.name)) << c.text;
    }
    EXPECT_EQ(LeadingName(QString::fromUtf8("Ab\u20ACc")), QByteArray("Ab"));
}

TEST(NumberAfterPrefix, SkipsToFirstDigitOfBase)
{
    const struct { const char *text; int base; int number; } cases[] = {
        {"R12", 10, 12}, {"ZZ1f", 16, 0x1F}, {"P17", 8, 15},
        {"R12X", 10, 0},      // the whole rest must be the number
        {"ADDR", 16, 0},      // A is already a digit; "ADDR" is no number
        {"Q-12", 10, 12},     // the sign is skipped with the prefix
        {"P89", 8, 0},        // 8 and 9 are no octal digits: no digit is left
        {"R99999999999", 10, 0}, // beyond int
        {"R12", 2, -1},       // only bases 10, 16 and 8
    };
    for (const auto &c : cases) {
        EXPECT_EQ(NumberAfterPrefix(QByteArray(c.text), c.base), c.number) << c.text << " " << c.base;
        EXPECT_EQ(NumberAfterPrefix(QString::fromLatin1(c.text), c.base), c.number) << c.text;
        EXPECT_EQ(NumberAfterPrefix(c.text, c.base), c.number) << c.text;
    }
}

TEST(HexToUInt, PrefixDigitsAndLength)
{
    const struct { const char *chars; int length; quint32 value; } cases[] = {
        {"0X1f", 4, 31}, {"FFFFFFFF", 8, 0xFFFFFFFFu}, {"1G", 2, 0}, {nullptr, 4, 0},
        {"0A", 2, 10},        // a leading 0 without x is a digit
        {"0x1F", 2, 0},       // the length leaves only the prefix
        {"0x1F", 3, 1},
        {"123456789", 9, 0x23456789u}, // the low 32 bits
        {"AB\0CD", 5, 0xAB},  // a zero character ends the text
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexToUInt(c.chars, c.length), c.value) << (c.chars ? c.chars : "null") << " " << c.length;
}

TEST(DumpBytes, SignedHexThenText)
{
    const struct { QByteArray bytes; const char *dump; } cases[] = {
        {QByteArray::fromHex("ff807f00"), "(0X-1 0X-80 0X7f 0X0 ) : \xC3\xBF\xC2\x80\x7F"},
        {QByteArray("A\0B", 3), "(0X41 0X0 0X42 ) : A"}, // text up to the first zero
        {QByteArray(), "() : "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DumpBytes(c.bytes), QString::fromUtf8(c.dump)) << c.bytes.toHex().constData();
}

} // namespace
