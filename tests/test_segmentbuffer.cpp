#include "tools/segmentbuffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace {

TEST(SegmentBuffer, AppendsOneSegmentEach)
{
    struct Case { const char *name; std::function<bool(SegmentBuffer &)> append; QByteArray bytes; };
    const Case cases[] = {
        {"bytes", [](SegmentBuffer &b) { return b.append(QByteArray("xyz")); }, "xyz"},
        {"text", [](SegmentBuffer &b) { return b.append(QString::fromUtf8("h\u00E9")); }, "h\xE9"},
        {"text outside Latin-1", [](SegmentBuffer &b) { return b.append(QString::fromUtf8("\u20AC")); }, "?"},
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
        EXPECT_EQ(buffer.toByteArray(), "\x81\x93" + c.bytes) << c.name;
        EXPECT_EQ(buffer.layout(), (QList<int>{2, int(c.bytes.size())})) << c.name;
        EXPECT_EQ(buffer.total(), 2 + c.bytes.size()) << c.name;
    }
    SegmentBuffer empty;
    empty.appendSum();
    empty.appendXorHex();
    EXPECT_EQ(empty.toByteArray(), QByteArray("\0" "00", 3)); // sums of nothing
}

TEST(SegmentBuffer, XorExceptLastAndOutsideTheSegments)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray::fromHex("0102"));
    buffer.append(QByteArray::fromHex("0408"));
    const QPair<int, quint8> xors[] = {{0, 0x0F}, {1, 0x07}, {3, 0x01}, {4, 0x00}, {9, 0x00}, {-1, 0x0F}};
    for (const auto &c : xors)
        EXPECT_EQ(buffer.xorExceptLast(c.first), c.second) << c.first;
    for (int i : {-1, 2, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(buffer.hasSegment(i)) << i;
        EXPECT_EQ(buffer.segmentOffset(i), -1) << i;
        EXPECT_EQ(buffer.segmentLength(i), -1) << i;
        EXPECT_TRUE(buffer.segment(i).isEmpty()) << i;
    }
    EXPECT_TRUE(buffer.hasSegment(0) && buffer.hasSegment(1));
    // Like BytesToUInt32, but signed.
    EXPECT_EQ(SegmentBuffer::toInt(QByteArray::fromHex("ffffffff")), -1);
    EXPECT_EQ(SegmentBuffer::toInt(QByteArray::fromHex("0102030405")), 0x04030201);
}

TEST(SegmentBuffer, SetDataAndSetLayout)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray("abc"));
    buffer.append(QByteArray("de"));
    // setData keeps the layout and the total; segments show what data holds of them.
    EXPECT_TRUE(buffer.setData(QByteArray("ABCD")));
    EXPECT_EQ(buffer.total(), 5);
    EXPECT_EQ(buffer.layout(), (QList<int>{3, 2}));
    EXPECT_EQ(buffer.segment(1), QByteArray("D"));
    EXPECT_TRUE(buffer.setData("XY", 2));
    EXPECT_EQ(buffer.segment(0), QByteArray("XY"));
    EXPECT_TRUE(buffer.segment(1).isEmpty()); // wholly past the data
    for (const auto &nothing : {QPair<const char *, int>{nullptr, 3}, {"XY", -1}}) {
        EXPECT_TRUE(buffer.setData(nothing.first, nothing.second));
        EXPECT_EQ(buffer.size(), 0);
    }
    // setLayout grows data with zeros, keeping its bytes, or cuts it.
    buffer.setData(QByteArray("abc"));
    ASSERT_TRUE(buffer.setLayout({1, 2, 4}));
    EXPECT_EQ(buffer.toByteArray(), QByteArray("abc\0\0\0\0", 7));
    EXPECT_EQ(buffer.total(), 5);
    buffer.bytes()[3] = 'z';
    EXPECT_EQ(buffer.segment(2), QByteArray("z\0\0\0", 4));
    ASSERT_TRUE(buffer.setLayout({2}));
    EXPECT_EQ(buffer.toByteArray(), QByteArray("ab"));
    EXPECT_EQ(buffer.dump(), QStringLiteral("(0X61 0X62 ) : ab"));
    buffer.clear();
    EXPECT_EQ(buffer.segmentCount(), 0);
    EXPECT_EQ(buffer.total(), 0);
    EXPECT_EQ(buffer.dump(), QStringLiteral("() : "));
}

// The lengths and offsets after setLayout, when accepted.
struct LayoutCase { const char *name; QByteArray data; QList<int> layout; bool accepted; QList<int> lengths, offsets; };

const LayoutCase layoutCases[] = {
    {"length field", QByteArray::fromHex("01" "03000000") + "abc" + QByteArray::fromHex("ff"),
     {1, 4, -1, 1}, true, {1, 4, 3, 1}, {0, 1, 5, 8}},
    {"chain of length fields", QByteArray::fromHex("00" "04000000" "02000000") + "xy",
     {1, 4, -1, -2}, true, {1, 4, 4, 2}, {0, 1, 5, 9}},
    {"field past the data reads 0", QByteArray(), {1, 4, -1, 2}, true, {1, 4, 0, 2}, {0, 1, 5, 5}},
    {"field of one more than four bytes", QByteArray::fromHex("00" "0200000099") + "xy",
     {1, 5, -1}, true, {1, 5, 2}, {0, 1, 6}},
    {"itself", QByteArray(8, '\4'), {1, -1}, false, {}, {}},
    {"later segment, as every cycle has one", QByteArray(8, '\4'), {1, -2, 4}, false, {}, {}},
    {"short segment", QByteArray(8, '\1'), {1, 2, -1}, false, {}, {}},
    {"resolves to a short segment", QByteArray::fromHex("00" "02000000" "0000"),
     {1, 4, -1, -2}, false, {}, {}},
    {"negative value", QByteArray::fromHex("00" "ffffffff"), {1, 4, -1}, false, {}, {}},
    {"most negative entry, past the end", QByteArray(8, '\4'), {4, INT_MIN}, false, {}, {}},
    {"beyond a byte array", QByteArray(), {INT_MAX, 1}, false, {}, {}},
    {"at the size limit", QByteArray(), {SegmentBuffer::MaxLayoutSize - 1, 1}, true,
     {SegmentBuffer::MaxLayoutSize - 1, 1}, {0, SegmentBuffer::MaxLayoutSize - 1}},
    {"length field beyond the size limit", QByteArray::fromHex("00" "01000001"), {1, 4, -1},
     false, {}, {}},
};

TEST(SegmentBuffer, LayoutsWithLengthFields)
{
    for (const LayoutCase &c : layoutCases) {
        SCOPED_TRACE(c.name);
        SegmentBuffer buffer;
        buffer.append(c.data);
        const QList<int> before = buffer.layout();
        EXPECT_EQ(buffer.setLayout(c.layout), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(buffer.layout(), before);
            EXPECT_EQ(buffer.toByteArray(), c.data);
            continue;
        }
        ASSERT_EQ(buffer.segmentCount(), c.lengths.size());
        EXPECT_EQ(buffer.size(), c.offsets.last() + c.lengths.last());
        for (int i = 0; i < buffer.segmentCount(); ++i) {
            EXPECT_EQ(buffer.segmentLength(i), c.lengths[i]) << i;
            EXPECT_EQ(buffer.segmentOffset(i), c.offsets[i]) << i;
            EXPECT_EQ(buffer.segment(i), buffer.toByteArray().mid(c.offsets[i], c.lengths[i])) << i;
        }
    }
}

TEST(SegmentBuffer, LengthFieldsFollowTheData)
{
    SegmentBuffer buffer;
    buffer.append(QByteArray::fromHex("01" "03000000") + "abc" + QByteArray::fromHex("ff"));
    ASSERT_TRUE(buffer.setLayout({1, 4, -1, 1}));
    buffer.bytes()[1] = 2; // the payload is shorter now: the last segment moves up
    EXPECT_EQ(buffer.segment(2), QByteArray("ab"));
    EXPECT_EQ(buffer.segment(3), QByteArray("c"));

    buffer.bytes()[4] = char(0x80); // a negative length: rejected
    EXPECT_EQ(buffer.segmentLength(2), -1);
    EXPECT_TRUE(buffer.segment(2).isEmpty());
    EXPECT_EQ(buffer.segmentOffset(3), -1);
    EXPECT_TRUE(buffer.segment(3).isEmpty());
    EXPECT_EQ(buffer.segmentLength(3), 1);
}

} // namespace
