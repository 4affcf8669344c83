// Byte order, element counts and bit runs of the tools module.
#include "tools/bytesandbits.h"

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

TEST(ByteOrder, SwapsAndPadsWholeGroups)
{
    const struct { const char *in, *swapped16, *swapped32, *bigEndian16, *bigEndian32; } cases[] = {
        {"", "", "", "", ""},
        {"01", "01", "01", "0001", "00000001"},
        {"010203", "020103", "010203", "02010003", "00030201"},
        {"0102030405", "0201040305", "0403020105", "020104030005", "0403020100000005"},
    };
    for (const auto &c : cases) {
        QByteArray a = hex(c.in), b = hex(c.in);
        EXPECT_EQ(SwapBytes16(a).toHex(), QByteArray(c.swapped16)) << c.in;
        EXPECT_EQ(SwapBytes32(b).toHex(), QByteArray(c.swapped32)) << c.in;
        EXPECT_EQ(ToBigEndian16(hex(c.in)).toHex(), QByteArray(c.bigEndian16)) << c.in;
        EXPECT_EQ(ToBigEndian32(hex(c.in)).toHex(), QByteArray(c.bigEndian32)) << c.in;
    }
}

TEST(ByteOrder, IntegersFromAndToBytes)
{
    EXPECT_EQ(BytesToUInt32(hex("010203")), 0x030201u);
    EXPECT_EQ(BytesToUInt32(hex("0102030405")), 0x04030201u);
    EXPECT_EQ(BytesToUInt32(QByteArray()), 0u);
    EXPECT_EQ(BytesToUInt16(hex("ff")), 0xFFu);
    EXPECT_EQ(BytesToInt16(hex("feff")), -2);
    EXPECT_EQ(Int32ToBytes(-2).toHex(), QByteArray("feffffff"));
    QByteArray be;
    EXPECT_EQ(AppendUInt16BE(be, 0x1234).toHex(), QByteArray("1234"));
    EXPECT_EQ(ReverseBytes(hex("010203")).toHex(), QByteArray("030201"));
    EXPECT_EQ(PadToQWords(hex("01")).size(), 8);
    EXPECT_EQ(WordsToBytesSwapped("\x01\x02\x03\x04", 2).toHex(), QByteArray("02010403"));
    EXPECT_EQ(DWordsToBytesSwapped("\x01\x02\x03\x04", 1).toHex(), QByteArray("04030201"));
}

TEST(ElementCounts, AreCeilings)
{
    const struct { quint32 n, words, dwords, qwords; } cases[] = {
        {0, 0, 0, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}, {3, 2, 1, 1},
        {4, 2, 1, 1}, {5, 3, 2, 1}, {8, 4, 2, 1}, {9, 5, 3, 2}};
    for (const auto &c : cases) {
        EXPECT_EQ(NumOfBytesToNumOfWords(c.n), c.words) << c.n;
        EXPECT_EQ(NumOfBytesToNumOfDWords(c.n), c.dwords) << c.n;
        EXPECT_EQ(NumOfBytesToNumOfQWords(c.n), c.qwords) << c.n;
    }
    EXPECT_EQ(NumOfBitsToNumOfBytes(0, 0), 0u);
    EXPECT_EQ(NumOfBitsToNumOfBytes(3, 5), 1u);
    EXPECT_EQ(NumOfBitsToNumOfBytes(3, 6), 2u);
    EXPECT_EQ(NumOfBitsToNumOfBytes(0, 0xFFFFFFFFu), 0x20000000u); // no overflow at the top
    EXPECT_EQ(NumOfBitsToNumOfWords(1, 16), 2u);
    EXPECT_EQ(NumOfBitsToNumOfDWords(0, 32), 1u);
}

TEST(Bits, ShiftDownResizeAndClear)
{
    const struct { const char *in; quint8 start; quint32 bits; const char *out; } cases[] = {
        {"cdab", 4, 8, "bc"}, {"ff", 3, 3, "07"}, {"00060000", 9, 2, "03"},
        {"00060000", 8, 16, "0600"}, {"ff", 0, 0, ""}, {"0180", 15, 1, "01"},
    };
    for (const auto &c : cases) {
        QByteArray data = hex(c.in);
        ShiftBitsDown(data, c.start);
        ResizeToBits(data, c.bits);
        ClearUnusedBits(data, c.bits);
        EXPECT_EQ(data.toHex(), QByteArray(c.out)) << c.in << " " << int(c.start);
    }
    // By whole bytes the bytes rotate; past the data nothing is left.
    const struct { const char *in; quint8 start; const char *out; } whole[] = {
        {"01020304", 16, "03040102"}, {"0102", 200, "0000"}, {"", 3, ""}};
    for (const auto &c : whole) {
        QByteArray data = hex(c.in);
        ShiftBitsDown(data, c.start);
        EXPECT_EQ(data.toHex(), QByteArray(c.out)) << c.in << " " << int(c.start);
    }
}

TEST(Bits, TestAndSetStayInsideTheData)
{
    QByteArray data = hex("0000");
    SetBit(data, 9, 7);
    SetBit(data, 16, 1); // outside: ignored
    EXPECT_EQ(data.toHex(), QByteArray("0002"));
    EXPECT_EQ(TestBit(data, 9), 1);
    EXPECT_EQ(TestBit(data, 8), 0);
    EXPECT_EQ(TestBit(data, 1000), 0);
    SetBit(data, 9, 0);
    EXPECT_EQ(data.toHex(), QByteArray("0000"));
    EXPECT_FALSE(FirstBit(QByteArray()));
    EXPECT_TRUE(FirstBit(hex("01")));
    EXPECT_EQ(BitsToByteFlags(hex("05"), 0, 4).toHex(), QByteArray("01000100"));
    QByteArray target = hex("00");
    CopyBits(target, hex("07"), 4, 3);
    EXPECT_EQ(target.toHex(), QByteArray("70"));
    // In integers an index outside the width leaves the value.
    EXPECT_EQ(SetBit8(0, 7), 0x80);
    EXPECT_EQ(SetBit8(0, 8), 0);
    EXPECT_EQ(ClearBit16(0xFFFF, 15), 0x7FFF);
    EXPECT_EQ(SetBit32(0, 32), 0u);
    EXPECT_TRUE(TestBit32(0x80000000u, 31));
    EXPECT_FALSE(TestBit16(0xFFFF, -1));
}

} // namespace
