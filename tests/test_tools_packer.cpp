#include "tools/packer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const char untouched = char(0xEE);

struct PackCase
{
    const char *name;
    std::function<int(char *)> pack;
    int result;
    const char *bytes; //!< hex of the output's first 16 bytes that differ from untouched
};

// Output beyond what an item writes or skips keeps its filler byte.
QByteArray written(const char *output)
{
    QByteArray bytes(output, 16);
    while (!bytes.isEmpty() && bytes.endsWith(untouched))
        bytes.chop(1);
    return bytes;
}

TEST(Pack, TemplatesAndErrors)
{
    static const quint32 hostValues32[] = {1, 2};
    static const quint16 hostValues16[] = {1, 2, 0xABCD};
    static const quint16 words[] = {0x1234, 0x5678};
    const PackCase cases[] = {
        {"n", [](char *o) { return Pack(o, "n", 0x1234); }, 2, "1234"},
        {"v", [](char *o) { return Pack(o, "v", 0x1234); }, 2, "3412"},
        {"s", [](char *o) { return Pack(o, "s", 0xAB1234); }, 2, "3412"},
        {"C low bits", [](char *o) { return Pack(o, "C", 0x1FF); }, 1, "ff"},
        {"c", [](char *o) { return Pack(o, "c", 'A'); }, 1, "41"},
        {"N", [](char *o) { return Pack(o, "N", 0x01020304); }, 4, "01020304"},
        {"V", [](char *o) { return Pack(o, "V", 0x01020304); }, 4, "04030201"},
        {"IiLl", [](char *o) { return Pack(o, "IiLl", 1, 2, 3, 0xFFFFFFFFu); }, 16,
         "01000000" "02000000" "03000000" "ffffffff"},
        {"2N", [](char *o) { return Pack(o, "2N", hostValues32); }, 8, "00000001" "00000002"},
        {"3n", [](char *o) { return Pack(o, "3n", hostValues16); }, 6, "0001" "0002" "abcd"},
        {"3C", [](char *o) { return Pack(o, "3C", "abc"); }, 3, "616263"},
        {"2v unchanged", [](char *o) { return Pack(o, "2v", words); }, 4, "3412" "7856"},
        {"x", [](char *o) { return Pack(o, "x"); }, 1, "00"},
        {"X skips", [](char *o) { return Pack(o, "XC", 7); }, 2, "ee07"},
        {"3x", [](char *o) { return Pack(o, "3x"); }, 3, "000000"},
        {"2X", [](char *o) { return Pack(o, "2XC", 7); }, 3, "eeee07"},
        {"0x 0X", [](char *o) { return Pack(o, "0x0XC", 7); }, 1, "07"},
        {"mixed", [](char *o) { return Pack(o, "Cxn", 1, 0x0203); }, 4, "01000203"},
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
    for (const PackCase &c : cases) {
        char output[16];
        std::fill(std::begin(output), std::end(output), untouched);
        EXPECT_EQ(c.pack(output), c.result) << c.name;
        EXPECT_EQ(written(output).toHex(), QByteArray(c.bytes)) << c.name;
    }
    EXPECT_EQ(Pack(nullptr, "C", 1), -1);
    EXPECT_EQ(Pack(nullptr, ""), 0);
}

TEST(PackToArray, TemplatesAndErrors)
{
    static const quint32 hostValues32[] = {1, 2};
    struct Case { const char *name; std::function<QByteArray()> pack; const char *bytes; };
    const Case cases[] = {
        {"n", [] { return PackToArray("n", 0x1234); }, "1234"},
        {"X appends zero", [] { return PackToArray("CXC", 1, 2); }, "010002"},
        {"x", [] { return PackToArray("Cx", 0x41); }, "4100"},
        {"2N", [] { return PackToArray("2N", hostValues32); }, "00000001" "00000002"},
        {"SN", [] { return PackToArray("SN", 0x0102, 0x03040506); }, "0201" "03040506"},
        {"3x", [] { return PackToArray("C3x", 1); }, ""},
        {"2X", [] { return PackToArray("2X"); }, ""},
        {"0x", [] { return PackToArray("0xC", 1); }, ""},
        {"count 0", [] { return PackToArray("C0C", 1, "a"); }, ""},
        {"unlisted letter", [] { return PackToArray("C?", 1); }, ""},
        {"empty", [] { return PackToArray(""); }, ""},
        {"null template", [] { return PackToArray(nullptr); }, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.pack().toHex(), QByteArray(c.bytes)) << c.name;
}

TEST(Unpack, TemplatesAndErrors)
{
    const QByteArray input = QByteArray::fromHex("0102030405060708090a0b0c");
    quint8 byte = 0xEE;
    quint16 word = 0xEEEE;
    quint32 dword = 0xEEEEEEEE;
    quint8 bytes[4] = {};
    quint16 words[2] = {};
    quint32 dwords[2] = {};
    struct Case { const char *name; std::function<int()> unpack; int result; std::function<bool()> check; };
    const Case cases[] = {
        {"C", [&] { return Unpack(input.constData(), "C", &byte); }, 1, [&] { return byte == 0x01; }},
        {"n", [&] { return Unpack(input.constData(), "n", &word); }, 2, [&] { return word == 0x0102; }},
        {"v", [&] { return Unpack(input.constData(), "v", &word); }, 2, [&] { return word == 0x0201; }},
        {"N", [&] { return Unpack(input.constData(), "N", &dword); }, 4, [&] { return dword == 0x01020304; }},
        {"I", [&] { return Unpack(input.constData(), "I", &dword); }, 4, [&] { return dword == 0x04030201; }},
        {"X skips", [&] { return Unpack(input.constData(), "XC", &byte); }, 2, [&] { return byte == 0x02; }},
        {"3x", [&] { return Unpack(input.constData(), "3xC", &byte); }, 4, [&] { return byte == 0x04; }},
        {"2X", [&] { return Unpack(input.constData(), "2XC", &byte); }, 3, [&] { return byte == 0x03; }},
        {"4C", [&] { return Unpack(input.constData(), "4C", bytes); }, 4,
         [&] { return QByteArray(reinterpret_cast<char *>(bytes), 4).toHex() == "01020304"; }},
        {"2n", [&] { return Unpack(input.constData(), "2n", words); }, 4,
         [&] { return words[0] == 0x0102 && words[1] == 0x0304; }},
        {"2v unchanged", [&] { return Unpack(input.constData(), "2v", words); }, 4,
         [&] { return words[0] == 0x0201 && words[1] == 0x0403; }},
        {"2N", [&] { return Unpack(input.constData(), "2N", dwords); }, 8,
         [&] { return dwords[0] == 0x01020304 && dwords[1] == 0x05060708; }},
        {"empty", [&] { return Unpack(input.constData(), ""); }, 0, [] { return true; }},
        {"unlisted", [&] { return Unpack(input.constData(), "C?", &byte); }, -1, [&] { return byte == 0x01; }},
        {"count 0", [&] { return Unpack(input.constData(), "0C", bytes); }, -1, [] { return true; }},
        {"count before S", [&] { return Unpack(input.constData(), "2S", words); }, -1, [] { return true; }},
        {"count at end", [&] { return Unpack(input.constData(), "3"); }, -1, [] { return true; }},
        {"null target", [&] { return Unpack(input.constData(), "C", nullptr); }, -1, [] { return true; }},
        {"null input", [&] { return Unpack(nullptr, "C", &byte); }, -1, [] { return true; }},
    };
    for (const Case &c : cases) {
        byte = 0xEE;
        word = 0xEEEE;
        dword = 0xEEEEEEEE;
        EXPECT_EQ(c.unpack(), c.result) << c.name;
        EXPECT_TRUE(c.check()) << c.name;
    }
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
    quint16 n = 0, v = 0;
    quint32 bigN = 0, bigV = 0;
    quint32 out32[2] = {};
    quint16 out16[2] = {};
    char text[3] = {};
    EXPECT_EQ(Unpack(telegram, "CnNvx2N2nV3C", &c, &n, &bigN, &v, out32, out16, &bigV, text), packed);
    EXPECT_EQ(c, 0x7F);
    EXPECT_EQ(n, 0xBEEF);
    EXPECT_EQ(bigN, 0xDEADBEEF);
    EXPECT_EQ(v, 0x1234);
    EXPECT_EQ(out32[0], in32[0]);
    EXPECT_EQ(out32[1], in32[1]);
    EXPECT_EQ(out16[0], in16[0]);
    EXPECT_EQ(out16[1], in16[1]);
    EXPECT_EQ(bigV, 0x11223344u);
    EXPECT_EQ(QByteArray(text, 3), QByteArray("xyz"));
}

// A caller's own variadic function hands its va_list on.
int packFields(char *output, const char *format, ...)
{
    va_list values;
    va_start(values, format);
    const int result = VPack(output, format, values);
    va_end(values);
    return result;
}

QByteArray packedFields(const char *format, ...)
{
    va_list values;
    va_start(values, format);
    const QByteArray result = VPackToArray(format, values);
    va_end(values);
    return result;
}

int unpackFields(const char *input, const char *format, ...)
{
    va_list targets;
    va_start(targets, format);
    const int result = VUnpack(input, format, targets);
    va_end(targets);
    return result;
}

TEST(Pack, ListFormsTakeTheCallersList)
{
    char output[4] = {};
    EXPECT_EQ(packFields(output, "nC", 0x0102, 3), 3);
    EXPECT_EQ(QByteArray(output, 3).toHex(), QByteArray("010203"));
    EXPECT_EQ(packedFields("vC", 0x0102, 3).toHex(), QByteArray("020103"));
    quint16 word = 0;
    quint8 byte = 0;
    EXPECT_EQ(unpackFields(output, "nC", &word, &byte), 3);
    EXPECT_EQ(word, 0x0102);
    EXPECT_EQ(byte, 3);
}

} // namespace
