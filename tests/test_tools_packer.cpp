#include "tools/packer.h"

#include <QtCore/QList>

#include <gtest/gtest.h>

#include <functional>

namespace {

const char untouched = char(0xEE);

// Hex of the 16 bytes at output up to the last one that differs from untouched: output
// beyond what an item writes or skips keeps its filler byte.
QByteArray written(const char *output)
{
    QByteArray bytes(output, 16);
    while (bytes.endsWith(untouched))
        bytes.chop(1);
    return bytes.toHex();
}

TEST(Pack, TemplatesAndErrors)
{
    static const quint32 hostValues32[] = {1, 2};
    static const quint16 hostValues16[] = {1, 2, 0xABCD};
    static const quint16 words[] = {0x1234, 0x5678};
    struct Case { const char *name; std::function<int(char *)> pack; int result; const char *bytes; };
    const Case cases[] = {
        {"C c low bits", [](char *o) { return Pack(o, "Cc", 0x1FF, 'A'); }, 2, "ff41"},
        {"S s v n", [](char *o) { return Pack(o, "Ssvn", 1, 0xAB0002, 3, 0x1234); }, 8,
         "0100" "0200" "0300" "1234"},
        {"I i L l", [](char *o) { return Pack(o, "IiLl", 1, 2, 3, 0xFFFFFFFFu); }, 16,
         "01000000" "02000000" "03000000" "ffffffff"},
        {"V N", [](char *o) { return Pack(o, "VN", 0x01020304, 0x01020304); }, 8, "04030201" "01020304"},
        {"2N", [](char *o) { return Pack(o, "2N", hostValues32); }, 8, "00000001" "00000002"},
        {"3n", [](char *o) { return Pack(o, "3n", hostValues16); }, 6, "0001" "0002" "abcd"},
        {"2v unchanged", [](char *o) { return Pack(o, "2v", words); }, 4, "3412" "7856"},
        {"x", [](char *o) { return Pack(o, "Cx", 1); }, 2, "0100"},
        {"X skips", [](char *o) { return Pack(o, "XC", 7); }, 2, "ee07"},
        {"3x", [](char *o) { return Pack(o, "3x"); }, 3, "000000"},
        {"2X", [](char *o) { return Pack(o, "2XC", 7); }, 3, "eeee07"},
        {"0x 0X", [](char *o) { return Pack(o, "0x0XC", 7); }, 1, "07"},
        {"empty", [](char *o) { return Pack(o, ""); }, 0, ""},
        {"null template", [](char *o) { return Pack(o, nullptr); }, 0, ""},
        {"count 0", [](char *o) { return Pack(o, "0C", "abc"); }, -1, ""},
        {"count before S", [](char *o) { return Pack(o, "2S", words); }, -1, ""},
        {"count at end", [](char *o) { return Pack(o, "C12", 1); }, -1, "01"},
        {"count beyond int", [](char *o) { return Pack(o, "99999999999C", "a"); }, -1, ""},
        {"bytes beyond int", [](char *o) { return Pack(o, "C1073741824V", 1, words); }, -1, "01"},
        {"unlisted letter", [](char *o) { return Pack(o, "C?C", 0x41, 0x42); }, 0, "41"},
        {"null source", [](char *o) { return Pack(o, "C2C", 1, nullptr); }, -1, "01"},
    };
    for (const Case &c : cases) {
        char output[16];
        std::fill(std::begin(output), std::end(output), untouched);
        EXPECT_EQ(c.pack(output), c.result) << c.name;
        EXPECT_EQ(written(output), QByteArray(c.bytes)) << c.name;
    }
    EXPECT_EQ(Pack(nullptr, "C", 1), -1);
    EXPECT_EQ(Pack(nullptr, ""), 0);
}

TEST(PackToArray, TemplatesAndErrors)
{
    struct Case { const char *name; std::function<QByteArray()> pack; const char *bytes; };
    const Case cases[] = {
        {"SN", [] { return PackToArray("SN", 0x0102, 0x03040506); }, "0201" "03040506"},
        {"X appends zero", [] { return PackToArray("CXC", 1, 2); }, "010002"},
        {"3x", [] { return PackToArray("C3x", 1); }, ""}, // no counted x or X
        {"count 0", [] { return PackToArray("C0C", 1, "a"); }, ""},
        {"unlisted letter", [] { return PackToArray("C?", 1); }, ""},
        {"empty", [] { return PackToArray(""); }, ""},
        {"null template", [] { return PackToArray(nullptr); }, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.pack().toHex(), QByteArray(c.bytes)) << c.name;
}

// Each unpacks into one byte area, so only forms whose bytes do not depend on the
// machine's byte order; RestoresWhatPackWrote has the others.
TEST(Unpack, TemplatesAndErrors)
{
    const QByteArray input = QByteArray::fromHex("0102030405060708090a0b0c");
    const struct { const char *format; int result; const char *bytes; } cases[] = {
        {"XC", 2, "02"}, {"3xC", 4, "04"}, {"2XC", 3, "03"},
        {"4C", 4, "01020304"}, {"2v", 4, "01020304"}, {"2V", 8, "0102030405060708"}, {"", 0, ""},
        {"C?", -1, "01"}, // an unlisted letter, after a C that stays unpacked
        {"0C", -1, ""}, {"2S", -1, ""}, {"3", -1, ""}, // a count of 0, before S, at the end
    };
    for (const auto &c : cases) {
        char area[16];
        std::fill(std::begin(area), std::end(area), untouched);
        EXPECT_EQ(Unpack(input.constData(), c.format, area), c.result) << c.format;
        EXPECT_EQ(written(area), QByteArray(c.bytes)) << c.format;
    }
    quint8 byte = 0;
    EXPECT_EQ(Unpack(input.constData(), "C", nullptr), -1);
    EXPECT_EQ(Unpack(nullptr, "C", &byte), -1);
}

TEST(Unpack, RestoresWhatPackWrote)
{
    const quint32 in32[] = {1, 0xA0B0C0D0};
    const quint16 in16[] = {0x0102, 0xFFFE};
    char telegram[64] = {};
    const int packed = Pack(telegram, "CnNvx2N2nV3C", 0x7F, 0xBEEF, 0xDEADBEEF, 0x1234, in32, in16,
                            0x11223344, "xyz");
    ASSERT_EQ(packed, 1 + 2 + 4 + 2 + 1 + 8 + 4 + 4 + 3);
    quint8 c = 0;
    quint16 n = 0, v = 0, out16[2] = {};
    quint32 bigN = 0, bigV = 0, out32[2] = {};
    char text[3] = {};
    EXPECT_EQ(Unpack(telegram, "CnNvx2N2nV3C", &c, &n, &bigN, &v, out32, out16, &bigV, text), packed);
    EXPECT_EQ(QList<quint32>({c, n, bigN, v, out32[0], out32[1], out16[0], out16[1], bigV}),
              QList<quint32>({0x7F, 0xBEEF, 0xDEADBEEF, 0x1234, in32[0], in32[1], in16[0], in16[1],
                              0x11223344}));
    EXPECT_EQ(QByteArray(text, 3), QByteArray("xyz"));
}

} // namespace
