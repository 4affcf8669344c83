#include "bytesandbits.h"

#include <algorithm>

namespace {

// (n / width) + 1 - (1 if n is a multiple of width): the ceiling for every n.
quint32 wholeUnits(quint32 n, quint32 width)
{
    return n / width + 1 - (n % width == 0 ? 1 : 0);
}

QByteArray paddedTo(const QByteArray &data, int width)
{
    QByteArray result = data;
    const int rest = result.size() % width;
    if (rest != 0)
        result.append(width - rest, '\0');
    return result;
}

void reverseGroups(char *bytes, int size, int width)
{
    for (int at = 0; at + width <= size; at += width)
        std::reverse(bytes + at, bytes + at + width);
}

QByteArray littleEndian(quint32 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = 0; i < width; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

} // namespace

QByteArray &SwapBytes16(QByteArray &data)
{
    reverseGroups(data.data(), data.size(), 2);
    return data;
}

QByteArray &SwapBytes32(QByteArray &data)
{
    reverseGroups(data.data(), data.size(), 4);
    return data;
}

QByteArray ToBigEndian16(const QByteArray &data)
{
    QByteArray result = paddedTo(data, 2);
    return SwapBytes16(result);
}

QByteArray ToBigEndian32(const QByteArray &data)
{
    QByteArray result = paddedTo(data, 4);
    return SwapBytes32(result);
}

QByteArray ReverseBytes(QByteArray data)
{
    // A temporary comes in unshared, so reversing it copies nothing.
    std::reverse(data.begin(), data.end());
    return data;
}

QByteArray PadToWords(const QByteArray &data) { return paddedTo(data, 2); }
QByteArray PadToDWords(const QByteArray &data) { return paddedTo(data, 4); }
QByteArray PadToQWords(const QByteArray &data) { return paddedTo(data, 8); }

QByteArray WordsToBytesSwapped(const char *bytes, int words)
{
    if (words <= 0)
        return QByteArray();
    QByteArray result(bytes, 2 * words);
    return SwapBytes16(result);
}

QByteArray DWordsToBytesSwapped(const char *bytes, int dwords)
{
    if (dwords <= 0)
        return QByteArray();
    QByteArray result(bytes, 4 * dwords);
    return SwapBytes32(result);
}

quint32 BytesToUInt32(const QByteArray &data)
{
    quint32 value = 0;
    const int n = std::min(4, int(data.size()));
    for (int i = 0; i < n; ++i)
        value |= quint32(quint8(data[i])) << (8 * i);
    return value;
}

quint16 BytesToUInt16(const QByteArray &data)
{
    return quint16(BytesToUInt32(data.left(2)));
}

qint16 BytesToInt16(const QByteArray &data)
{
    return qint16(BytesToUInt16(data));
}

QByteArray UInt16ToBytes(quint16 value) { return littleEndian(value, 2); }
QByteArray Int16ToBytes(qint16 value) { return littleEndian(quint16(value), 2); }
QByteArray Int32ToBytes(qint32 value) { return littleEndian(quint32(value), 4); }

QByteArray &AppendUInt16BE(QByteArray &data, quint16 value)
{
    data.append(char(value >> 8));
    data.append(char(value & 0xFF));
    return data;
}

quint32 NumOfBytesToNumOfWords(quint32 bytes) { return wholeUnits(bytes, 2); }
quint32 NumOfBytesToNumOfDWords(quint32 bytes) { return wholeUnits(bytes, 4); }
quint32 NumOfBytesToNumOfQWords(quint32 bytes) { return wholeUnits(bytes, 8); }

quint32 NumOfBitsToNumOfBytes(quint32 first_bit, quint32 num_of_bits)
{
    return wholeUnits(first_bit + num_of_bits, 8);
}

quint32 NumOfBitsToNumOfWords(quint32 first_bit, quint32 num_of_bits)
{
    return wholeUnits(first_bit + num_of_bits, 16);
}

quint32 NumOfBitsToNumOfDWords(quint32 first_bit, quint32 num_of_bits)
{
    return wholeUnits(first_bit + num_of_bits, 32);
}

namespace {
template <typename T>
T setBitIn(T value, int bit, int width)
{
    return bit >= 0 && bit < width ? T(value | (T(1) << bit)) : value;
}
template <typename T>
T clearBitIn(T value, int bit, int width)
{
    return bit >= 0 && bit < width ? T(value & ~(T(1) << bit)) : value;
}
template <typename T>
bool testBitIn(T value, int bit, int width)
{
    return bit >= 0 && bit < width && ((value >> bit) & 1) != 0;
}
} // namespace

quint8 SetBit8(quint8 value, int bit) { return setBitIn<quint8>(value, bit, 8); }
quint8 ClearBit8(quint8 value, int bit) { return clearBitIn<quint8>(value, bit, 8); }
bool TestBit8(quint8 value, int bit) { return testBitIn<quint8>(value, bit, 8); }
quint16 SetBit16(quint16 value, int bit) { return setBitIn<quint16>(value, bit, 16); }
quint16 ClearBit16(quint16 value, int bit) { return clearBitIn<quint16>(value, bit, 16); }
bool TestBit16(quint16 value, int bit) { return testBitIn<quint16>(value, bit, 16); }
quint32 SetBit32(quint32 value, int bit) { return setBitIn<quint32>(value, bit, 32); }
quint32 ClearBit32(quint32 value, int bit) { return clearBitIn<quint32>(value, bit, 32); }
bool TestBit32(quint32 value, int bit) { return testBitIn<quint32>(value, bit, 32); }

int TestBitRaw(const char *bytes, quint32 bit)
{
    return (quint8(bytes[bit / 8]) >> (bit % 8)) & 1;
}

void SetBitRaw(char *bytes, quint32 bit, bool value)
{
    const quint8 mask = quint8(1u << (bit % 8));
    quint8 &byte = reinterpret_cast<quint8 &>(bytes[bit / 8]);
    byte = value ? quint8(byte | mask) : quint8(byte & ~mask);
}

int TestBit(const QByteArray &data, quint32 bit)
{
    return bit / 8 < quint32(data.size()) ? TestBitRaw(data.constData(), bit) : 0;
}

void SetBit(QByteArray &data, quint32 bit, int value)
{
    if (bit / 8 < quint32(data.size()))
        SetBitRaw(data.data(), bit, value != 0);
}

bool FirstBit(const QByteArray &data)
{
    return TestBit(data, 0) != 0;
}

QByteArray BitsToByteFlags(const QByteArray &data, quint16 first_bit, int count)
{
    QByteArray flags(std::max(count, 0), '\0');
    for (int j = 0; j < count; ++j)
        flags[j] = char(TestBit(data, quint32(first_bit) + quint32(j)));
    return flags;
}

void CopyBits(QByteArray &target, const QByteArray &source, quint32 first_bit, int count)
{
    for (int j = 0; j < count; ++j)
        SetBit(target, first_bit + quint32(j), TestBit(source, quint32(j)));
}

void RotateBytes(char *bytes, int k, int m)
{
    if (k < 0 || m < 0)
        return;
    std::reverse(bytes, bytes + k);
    std::reverse(bytes + k, bytes + k + m);
    std::reverse(bytes, bytes + k + m);
}

void ShiftBitsDown(QByteArray &data, quint8 n)
{
    const int size = data.size();
    char *bytes = data.data();
    int working = size;
    int shift = n;
    if (n > 7) {
        const int k = n / 8;
        if (k >= size) {
            // Every bit is shifted out.
            data.fill('\0');
            return;
        }
        // Byte k comes to the front; the first k bytes go to the end and stay there.
        working = size - k;
        RotateBytes(bytes, k, working);
        shift = n % 8;
        if (shift == 0)
            return;
    }
    for (int j = 0; j + 1 < working; ++j)
        bytes[j] = char((quint8(bytes[j]) >> shift) | quint8(quint8(bytes[j + 1]) << (8 - shift)));
    if (working > 0)
        bytes[working - 1] = char(quint8(bytes[working - 1]) >> shift);
}

void ResizeToBits(QByteArray &data, quint32 num_of_bits)
{
    const quint32 bytes = NumOfBitsToNumOfBytes(0, num_of_bits);
    if (bytes < quint32(data.size()))
        data.truncate(int(bytes));
}

void ClearUnusedBits(QByteArray &data, quint32 num_of_bits)
{
    const quint32 used = num_of_bits % 8;
    const quint32 last = num_of_bits / 8;
    if (used != 0 && last < quint32(data.size()))
        data[int(last)] = char(quint8(data[int(last)]) & quint8((1u << used) - 1));
}
