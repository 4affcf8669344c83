#include "tools/checksums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

template <typename Crc, typename Update>
quint32 crcOf(Crc start, Update update, Crc invert = 0)
{
    Crc crc = start;
    for (char c : std::string("123456789"))
        crc = update(crc, quint8(c));
    return crc ^ invert;
}

// The published check values of the CRC catalogue, over "123456789".
const struct { const char *name; quint32 (*crc)(); quint32 expected; } checkValues[] = {
    {"CRC-16/ARC", [] { return quint32(Crc16Arc("123456789", 9)); }, 0xBB3D},
    {"CRC-16/MODBUS", [] { return crcOf<quint16>(0xFFFF, Crc16UpdateA001); }, 0x4B37},
    {"CRC-16/XMODEM", [] { return crcOf<quint16>(0x0000, Crc16Update1021); }, 0x31C3},
    {"CRC-16/IBM-3740", [] { return crcOf<quint16>(0xFFFF, Crc16Update1021); }, 0x29B1},
    {"CRC-16/KERMIT", [] { return crcOf<quint16>(0x0000, Crc16Update8408); }, 0x2189},
    {"CRC-16/X-25", [] { return crcOf<quint16>(0xFFFF, Crc16Update8408, 0xFFFF); }, 0x906E},
    {"CRC-16/DNP", [] { return crcOf<quint16>(0x0000, Crc16UpdateA6BC, 0xFFFF); }, 0xEA82},
    {"CRC-32", [] { return crcOf<quint32>(0xFFFFFFFF, Crc32Update, 0xFFFFFFFF); }, 0xCBF43926},
    {"CRC-32/JAMCRC", [] { return crcOf<quint32>(0xFFFFFFFF, Crc32Update); }, 0x340BC6D9},
};

TEST(Crc, PublishedCheckValues)
{
    for (const auto &check : checkValues)
        EXPECT_EQ(check.crc(), check.expected) << check.name;
}

TEST(Crc, Step8005)
{
    const struct { quint16 value; quint8 low, high; quint16 expected; } cases[] = {
        {0x0000, 0x34, 0x12, 0x1234}, // the word is high:low
        {0x0001, 0x34, 0x12, 0x1236}, // shifted, bit 15 clear: no polynomial
        {0x8000, 0x00, 0x00, 0x8005}, // bit 15 shifted out, polynomial added
        {0xFFFF, 0xFF, 0xFF, 0x8004},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Crc16Step8005(c.value, c.low, c.high), c.expected) << std::hex << c.value;
}

// The sums, the exclusive-or and CRC-16/ARC of the first length bytes; 0 for nothing.
TEST(Sums, ModuloWidthXorAndArc)
{
    const struct {
        std::string bytes;
        int length;
        quint8 sum8;
        quint32 sum32;
        quint8 xorSum;
        quint16 arc;
    } cases[] = {
        {"", 0, 0, 0, 0, 0},
        {"\x01\x02\x03", 2, 3, 3, 3, 0x5180},
        {"\x01\x02\x03", -1, 0, 0, 0, 0},
        {"\x0F\xF0\x01", 3, 0, 0x100, 0xFE, 0xC3B5},
        {"\xFF\xFF", 2, 0xFE, 0x1FE, 0, 0xB001},  // bytes count 0 to 255, never negative
        {std::string(300, '\x80'), 300, 0x00, 300u * 0x80, 0, 0x65DB},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Crc16Arc(c.bytes.data(), c.length), c.arc) << c.length;
        EXPECT_EQ(Sum8(c.bytes.data(), c.length), c.sum8) << c.length;
        EXPECT_EQ(Sum32(c.bytes.data(), c.length), c.sum32) << c.length;
        EXPECT_EQ(xorChecksum(c.bytes.data(), c.length), c.xorSum) << c.length;
    }
}

// Tables are filled on first use. A fresh process (the child of a thread-safe death
// test re-runs only this test) lets many threads make that first use at once; each
// must see complete tables.
void firstUseFromManyThreads()
{
    std::atomic<bool> go{false};
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            good += std::all_of(std::begin(checkValues), std::end(checkValues),
                                [](const auto &check) { return check.crc() == check.expected; });
        });
    go = true;
    for (std::thread &thread : threads)
        thread.join();
    std::exit(good == 8 ? 0 : 1);
}

TEST(CrcDeathTest, TablesFilledOnceForConcurrentFirstUse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(firstUseFromManyThreads(), testing::ExitedWithCode(0), "");
}

} // namespace
