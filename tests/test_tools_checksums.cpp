#include "tools/checksums.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string checkText = "123456789";

template <typename Crc, typename Update>
Crc crcOf(const std::string &text, Crc start, Update update)
{
    Crc crc = start;
    for (char c : text)
        crc = update(crc, quint8(c));
    return crc;
}

struct CheckValue
{
    const char *name;
    std::function<quint32()> crc;
    quint32 expected;
};

// The published check values of the CRC catalogue, over "123456789".
const std::vector<CheckValue> checkValues = {
    {"CRC-16/ARC", [] { return quint32(Crc16Arc(checkText.data(), int(checkText.size()))); }, 0xBB3D},
    {"CRC-16/MODBUS", [] { return quint32(crcOf<quint16>(checkText, 0xFFFF, Crc16UpdateA001)); }, 0x4B37},
    {"CRC-16/XMODEM", [] { return quint32(crcOf<quint16>(checkText, 0x0000, Crc16Update1021)); }, 0x31C3},
    {"CRC-16/IBM-3740", [] { return quint32(crcOf<quint16>(checkText, 0xFFFF, Crc16Update1021)); }, 0x29B1},
    {"CRC-16/KERMIT", [] { return quint32(crcOf<quint16>(checkText, 0x0000, Crc16Update8408)); }, 0x2189},
    {"CRC-16/X-25", [] { return quint32(quint16(~crcOf<quint16>(checkText, 0xFFFF, Crc16Update8408))); }, 0x906E},
    {"CRC-16/DNP", [] { return quint32(quint16(~crcOf<quint16>(checkText, 0x0000, Crc16UpdateA6BC))); }, 0xEA82},
    {"CRC-32", [] { return ~crcOf<quint32>(checkText, 0xFFFFFFFFu, Crc32Update); }, 0xCBF43926},
    {"CRC-32/JAMCRC", [] { return crcOf<quint32>(checkText, 0xFFFFFFFFu, Crc32Update); }, 0x340BC6D9},
};

TEST(Crc, PublishedCheckValues)
{
    for (const CheckValue &check : checkValues)
        EXPECT_EQ(check.crc(), check.expected) << check.name;
}

TEST(Crc, Crc16ArcOfNothingIsZero)
{
    const char bytes[] = "\x01";
    EXPECT_EQ(Crc16Arc(bytes, 0), 0);
    EXPECT_EQ(Crc16Arc(bytes, -1), 0);
    EXPECT_NE(Crc16Arc(bytes, 1), 0); // the length is honoured
}

TEST(Crc, Step8005)
{
    struct Case { quint16 value; quint8 low, high; quint16 expected; };
    const Case cases[] = {
        {0x0000, 0x34, 0x12, 0x1234}, // the word is high:low
        {0x0001, 0x34, 0x12, 0x1236}, // shifted, bit 15 clear: no polynomial
        {0x8000, 0x00, 0x00, 0x8005}, // bit 15 shifted out, polynomial added
        {0x8000, 0x34, 0x12, 0x9231},
        {0xFFFF, 0xFF, 0xFF, 0x8004},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Crc16Step8005(c.value, c.low, c.high), c.expected) << std::hex << c.value;
}

TEST(Sums, ModuloWidth)
{
    struct Case { std::string bytes; int length; quint8 sum8; quint32 sum32; };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"\x01\x02\x03", 3, 6, 6},
        {"\x01\x02\x03", 2, 3, 3},
        {"\x01\x02\x03", -1, 0, 0},
        {"\xFF\xFF", 2, 0xFE, 0x1FE},  // bytes count 0 to 255, never negative
        {std::string(300, '\x80'), 300, 0x00, 300u * 0x80},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Sum8(c.bytes.data(), c.length), c.sum8) << c.length;
        EXPECT_EQ(Sum32(c.bytes.data(), c.length), c.sum32) << c.length;
    }
}

TEST(XorChecksum, OfBytes)
{
    EXPECT_EQ(xorChecksum("\x0F\xF0\x01", 3), 0xFE);
    EXPECT_EQ(xorChecksum("\x0F\xF0\x01", 0), 0);
}

// Tables are filled on first use. A fresh process (the child of a thread-safe death
// test re-runs only this test) lets many threads make that first use at once; each
// must see complete tables.
void firstUseFromManyThreads()
{
    constexpr int threads = 8;
    std::promise<void> start;
    std::shared_future<void> go = start.get_future().share();
    std::vector<std::future<bool>> results;
    for (int t = 0; t < threads; ++t) {
        results.push_back(std::async(std::launch::async, [go] {
            go.wait();
            bool all = true;
            for (const CheckValue &check : checkValues)
                all = all && check.crc() == check.expected;
            return all;
        }));
    }
    start.set_value();
    bool all = true;
    for (auto &result : results)
        all = result.get() && all;
    std::exit(all ? 0 : 1);
}

TEST(CrcDeathTest, TablesFilledOnceForConcurrentFirstUse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(firstUseFromManyThreads(), testing::ExitedWithCode(0), "");
}

} // namespace
