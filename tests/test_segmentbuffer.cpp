#include "tools/segmentbuffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace {

QList<int> lengthsOf(const SegmentBuffer &buffer)
{
    QList<int> lengths;
    for (int i = 0; i < buffer.segmentCount(); ++i)
        lengths.append(buffer.segmentLength(i));
    return lengths;
}

QList<int> offsetsOf(const SegmentBuffer &buffer)
{
    QList<int> offsets;
    for (int i = 0; i < buffer.segmentCount(); ++i)
        offsets.append(buffer.segmentOffset(i));
    return offsets;
}

TEST(SegmentBuffer, ByteWordAndSumHex)
{
    SegmentBuffer buffer;
    EXPECT_TRUE(buffer.appendByte(0x01));
    EXPECT_TRUE(buffer.appendUInt16(0x0302));
    EXPECT_TRUE(buffer.appendSumHex());
    EXPECT_EQ(buffer.segmentCount(), 3);
    EXPECT_EQ(buffer.size(), 5);
    EXPECT_EQ(buffer.total(), 5);
    EXPECT_EQ(buffer.segmentOffset(2), 3);
    EXPECT_EQ(buffer.segment(2), QByteArray("06"));
    EXPECT_EQ(buffer.toByteArray(), QByteArray::fromHex("010203") + "06");
}

TEST(SegmentBuffer, AppendsOneSegmentEach)
{
    struct Case { const char *name; std::function<bool(SegmentBuffer &)> append; QByteArray bytes; };
    const Case cases[] = {
        {"bytes", [](SegmentBuffer &b) { return b.append(QByteArray("xyz")); }, "xyz"},
        {"no bytes", [](SegmentBuffer &b) { return b.append(QByteArray()); }, ""},
        {"text", [](SegmentBuffer &b) { return b.append(QString::fromUtf8("h\u00E9")); }, "h\xE9"},
        {"text outside Latin-1", [](SegmentBuffer &b) { return b.append(QString::fromUtf8("\u20AC")); }, "?"},
        {"byte", [](SegmentBuffer &b) { return b.appendByte(0xFF); }, "\xFF"},
        {"uint16", [](SegmentBuffer &b) { return b.appendUInt16(0x1234); }, "\x34\x12"},
        {"uint32", [](SegmentBuffer &b) { return b.appendUInt32(0xF1020304u); }, "\x04\x03\x02\xF1"},
        {"hex byte", [](SegmentBuffer &b) { return b.appendHexByte(0x0A); }, "0A"},
        {"sum", [](SegmentBuffer &b) { return b.appendSum(); }, "\x14"},        // 0x81 + 0x93
        {"sum hex", [](SegmentBuffer &b) { return b.appendSumHex(); }, "14"},
        {"xor hex", [](SegmentBuffer &b) { return b.appendXorHex(); }, "12"},  // 0x81 ^ 0x93
    };
    for (const Case &c : cases) {
        SegmentBuffer buffer;
        buffer.append(QByteArray("\x81\x93"));
        EXPECT_TRUE(c.append(buffer)) << c.name;
        EXPECT_EQ(buffer.segmentCount(), 2) << c.name;
        EXPECT_EQ(buffer.segment(1), c.bytes) << c.name;
        EXPECT_EQ(buffer.segmentLength(1), c.bytes.size()) << c.name;
        EXPECT_EQ(buffer.total(), 2 + c.bytes.size()) << c.name;
        EXPECT_EQ(buffer.size(), 2 + c.bytes.size()) << c.name;
    }
}

TEST(SegmentBuffer, SumsOfNothing)
{
    SegmentBuffer buffer;
    buffer.appendSum();
    buffer.appendXorHex();
    EXPECT_EQ(buffer.toByteArray(), QByteArray("\0" "00", 3));
}

TEST(SegmentBuffer, XorExceptLast)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray::fromHex("01020408"));
    const QPair<int, quint8> cases[] = {{0, 0x0F}, {1, 0x07}, {3, 0x01}, {4, 0x00}, {9, 0x00}, {-1, 0x0F}};
    for (const auto &c : cases)
        EXPECT_EQ(buffer.xorExceptLast(c.first), c.second) << c.first;
}

TEST(SegmentBuffer, OutsideTheSegments)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray("ab"));
    buffer.append(QByteArray("c"));
    for (int i : {-1, 2, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(buffer.hasSegment(i)) << i;
        EXPECT_EQ(buffer.segmentOffset(i), -1) << i;
        EXPECT_EQ(buffer.segmentLength(i), -1) << i;
        EXPECT_TRUE(buffer.segment(i).isEmpty()) << i;
    }
    EXPECT_TRUE(buffer.hasSegment(0));
    EXPECT_TRUE(buffer.hasSegment(1));
}

TEST(SegmentBuffer, ToIntLikeBytesToUInt32)
{
    const QPair<QByteArray, qint32> cases[] = {
        {QByteArray::fromHex("010203"), 0x030201},
        {QByteArray::fromHex("ffffffff"), -1},
        {QByteArray::fromHex("0102030405"), 0x04030201},
        {QByteArray(), 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SegmentBuffer::toInt(c.first), c.second) << c.first.toHex().constData();
}

TEST(SegmentBuffer, SetDataKeepsLayoutAndTotal)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray("abc"));
    buffer.append(QByteArray("de"));
    EXPECT_TRUE(buffer.setData(QByteArray("ABCD")));
    EXPECT_EQ(buffer.total(), 5);
    EXPECT_EQ(buffer.layout(), (QList<int>{3, 2}));
    EXPECT_EQ(buffer.segment(0), QByteArray("ABC"));
    EXPECT_EQ(buffer.segment(1), QByteArray("D")); // what data holds of it
    EXPECT_TRUE(buffer.setData("XY", 2));
    EXPECT_EQ(buffer.segment(0), QByteArray("XY"));
    EXPECT_TRUE(buffer.segment(1).isEmpty());       // wholly past the data
    EXPECT_TRUE(buffer.setData(nullptr, 3));
    EXPECT_EQ(buffer.size(), 0);
    EXPECT_TRUE(buffer.setData("XY", -1));
    EXPECT_EQ(buffer.size(), 0);
}

TEST(SegmentBuffer, SetLayoutResizesAndKeepsBytes)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray("abc"));
    ASSERT_TRUE(buffer.setLayout({1, 2, 4}));
    EXPECT_EQ(buffer.toByteArray(), QByteArray("abc\0\0\0\0", 7));
    EXPECT_EQ(offsetsOf(buffer), (QList<int>{0, 1, 3}));
    EXPECT_EQ(buffer.total(), 3);
    buffer.bytes()[3] = 'z';
    EXPECT_EQ(buffer.segment(2), QByteArray("z\0\0\0", 4));
    ASSERT_TRUE(buffer.setLayout({2}));
    EXPECT_EQ(buffer.toByteArray(), QByteArray("ab"));
}

struct LayoutCase
{
    const char *name;
    QByteArray data;
    QList<int> layout;
    bool accepted;
    QList<int> lengths; //!< after setLayout, when accepted
    QList<int> offsets;
};

const LayoutCase layoutCases[] = {
    {"length field", QByteArray::fromHex("01" "03000000") + "abc" + QByteArray::fromHex("ff"),
     {1, 4, -1, 1}, true, {1, 4, 3, 1}, {0, 1, 5, 8}},
    {"chain of length fields", QByteArray::fromHex("00" "04000000" "02000000") + "xy",
     {1, 4, -1, -2}, true, {1, 4, 4, 2}, {0, 1, 5, 9}},
    {"field past the data reads 0", QByteArray(), {1, 4, -1, 2}, true, {1, 4, 0, 2}, {0, 1, 5, 5}},
    {"field of one more than four bytes", QByteArray::fromHex("00" "0200000099") + "xy",
     {1, 5, -1}, true, {1, 5, 2}, {0, 1, 6}},
    {"itself", QByteArray(8, '\4'), {1, -1}, false, {}, {}},
    {"later segment", QByteArray(8, '\4'), {1, -2, 4}, false, {}, {}},
    {"two referring to each other", QByteArray(8, '\4'), {1, -2, -1}, false, {}, {}},
    {"past the end", QByteArray(8, '\4'), {1, -5}, false, {}, {}},
    {"short segment", QByteArray(8, '\1'), {1, 2, -1}, false, {}, {}},
    {"resolves to a short segment", QByteArray::fromHex("00" "02000000" "0000"),
     {1, 4, -1, -2}, false, {}, {}},
    {"negative value", QByteArray::fromHex("00" "ffffffff"), {1, 4, -1}, false, {}, {}},
    {"most negative entry", QByteArray(8, '\4'), {4, INT_MIN}, false, {}, {}},
    {"beyond a byte array", QByteArray(), {INT_MAX, 1}, false, {}, {}},
    {"at the size limit", QByteArray(), {SegmentBuffer::MaxLayoutSize - 1, 1}, true,
     {SegmentBuffer::MaxLayoutSize - 1, 1}, {0, SegmentBuffer::MaxLayoutSize - 1}},
    {"length field beyond the size limit", QByteArray::fromHex("00" "01000001"), {1, 4, -1},
     false, {}, {}},
};

TEST(SegmentBuffer, LayoutsWithLengthFields)
{
    for (const LayoutCase &c : layoutCases) {
        SegmentBuffer buffer;
        buffer.append(c.data);
        const QList<int> before = buffer.layout();
        EXPECT_EQ(buffer.setLayout(c.layout), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(lengthsOf(buffer), c.lengths) << c.name;
            EXPECT_EQ(offsetsOf(buffer), c.offsets) << c.name;
            EXPECT_EQ(buffer.size(), c.offsets.last() + c.lengths.last()) << c.name;
            for (int i = 0; i < buffer.segmentCount(); ++i)
                EXPECT_EQ(buffer.segment(i), buffer.toByteArray().mid(c.offsets[i], c.lengths[i])) << c.name << i;
        } else {
            EXPECT_EQ(buffer.layout(), before) << c.name;
            EXPECT_EQ(buffer.toByteArray(), c.data) << c.name;
        }
    }
}

TEST(SegmentBuffer, LengthFieldsFollowTheData)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray::fromHex("01" "03000000") + "abc" + QByteArray::fromHex("ff"));
    ASSERT_TRUE(buffer.setLayout({1, 4, -1, 1}));
    EXPECT_EQ(buffer.segment(2), QByteArray("abc"));

    buffer.bytes()[1] = 2; // the payload is shorter now: the last segment moves up
    EXPECT_EQ(buffer.segment(2), QByteArray("ab"));
    EXPECT_EQ(buffer.segment(3), QByteArray("c"));

    buffer.bytes()[4] = char(0x80); // a negative length: rejected
    EXPECT_EQ(buffer.segmentLength(2), -1);
    EXPECT_TRUE(buffer.segment(2).isEmpty());
    EXPECT_EQ(buffer.segmentOffset(3), -1);
    EXPECT_TRUE(buffer.segment(3).isEmpty());
    EXPECT_EQ(buffer.segmentLength(3), 1);
    EXPECT_EQ(buffer.segment(1), QByteArray::fromHex("02000080"));

    buffer.bytes()[4] = 0;
    buffer.bytes()[1] = 100; // longer than the data: the part that is there
    EXPECT_EQ(buffer.segmentLength(2), 100);
    EXPECT_EQ(buffer.segment(2), QByteArray("abc") + QByteArray::fromHex("ff"));
    EXPECT_TRUE(buffer.segment(3).isEmpty());
}

TEST(SegmentBuffer, ClearAndDump)
{
    SegmentBuffer buffer;
    buffer.append(QStringLiteral("AB"));
    EXPECT_EQ(buffer.dump(), QStringLiteral("(0X41 0X42 ) : AB"));
    buffer.clear();
    EXPECT_EQ(buffer.size(), 0);
    EXPECT_EQ(buffer.segmentCount(), 0);
    EXPECT_EQ(buffer.total(), 0);
    EXPECT_EQ(buffer.dump(), QStringLiteral("() : "));
}

} // namespace
