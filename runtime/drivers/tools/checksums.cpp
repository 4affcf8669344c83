#include "checksums.h"

#include <array>

namespace {

using Table16 = std::array<quint16, 256>;

Table16 msbFirstTable(quint16 polynomial)
{
    Table16 table{};
    for (unsigned i = 0; i < 256; ++i) {
        quint16 c = 0;
        quint16 d = quint16(i << 8);
        for (int step = 0; step < 8; ++step) {
            c = ((c ^ d) & 0x8000) != 0 ? quint16((c << 1) ^ polynomial) : quint16(c << 1);
            d = quint16(d << 1);
        }
        table[i] = c;
    }
    return table;
}

// The reflected form: bits enter lowest first, for 16- and 32-bit registers alike.
template <typename Word>
std::array<Word, 256> lsbFirstTable(Word polynomial)
{
    std::array<Word, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        Word c = Word(i);
        for (int step = 0; step < 8; ++step)
            c = (c & 1) != 0 ? Word((c >> 1) ^ polynomial) : Word(c >> 1);
        table[i] = c;
    }
    return table;
}

// Function-local statics: the compiler guards their one-time initialisation, so a
// table is complete before any thread reads it.
const Table16 &table1021()
{
    static const Table16 table = msbFirstTable(0x1021);
    return table;
}

template <typename Word, Word Polynomial>
const std::array<Word, 256> &lsbFirst()
{
    static const std::array<Word, 256> table = lsbFirstTable<Word>(Polynomial);
    return table;
}

quint16 updateLsbFirst(const Table16 &table, quint16 crc, quint8 byte)
{
    return quint16((crc >> 8) ^ table[(crc ^ byte) & 0xFF]);
}

} // namespace

quint8 xorChecksum(const char *bytes, int length)
{
    quint8 sum = 0;
    for (int i = 0; i < length; ++i)
        sum ^= quint8(bytes[i]);
    return sum;
}

quint8 Sum8(const char *bytes, int length)
{
    return quint8(Sum32(bytes, length));
}

quint32 Sum32(const char *bytes, int length)
{
    quint32 sum = 0;
    for (int i = 0; i < length; ++i)
        sum += quint8(bytes[i]);
    return sum;
}

quint16 Crc16Arc(const char *bytes, int length)
{
    quint16 crc = 0;
    for (int i = 0; i < length; ++i)
        crc = Crc16UpdateA001(crc, quint8(bytes[i]));
    return crc;
}

quint16 Crc16Update1021(quint16 crc, quint8 byte)
{
    return quint16(table1021()[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

quint16 Crc16UpdateA001(quint16 crc, quint8 byte)
{
    return updateLsbFirst(lsbFirst<quint16, 0xA001>(), crc, byte);
}

quint16 Crc16Update8408(quint16 crc, quint8 byte)
{
    return updateLsbFirst(lsbFirst<quint16, 0x8408>(), crc, byte);
}

quint16 Crc16UpdateA6BC(quint16 crc, quint8 byte)
{
    return updateLsbFirst(lsbFirst<quint16, 0xA6BC>(), crc, byte);
}

quint32 Crc32Update(quint32 crc, quint8 byte)
{
    return (crc >> 8) ^ lsbFirst<quint32, 0xEDB88320u>()[(crc ^ byte) & 0xFF];
}

quint16 Crc16Step8005(quint16 value, quint8 low, quint8 high)
{
    quint32 r = quint32(value) << 1;
    if ((value & 0x8000) != 0)
        r ^= 0x8005;
    return quint16(r ^ ((quint32(high) << 8) | low));
}
