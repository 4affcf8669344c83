// Byte order, element counts and bits, for the byte arrays that drivers exchange
// with the host. Host data is little-endian; bit i of a byte sequence is bit (i mod 8)
// of byte i / 8, bit 0 being the least significant.
//
// Where a caller's index or size lies outside the data, these functions read 0 and
// write nothing: they never touch memory outside a QByteArray.
#ifndef TOOLS_BYTESANDBITS_H
#define TOOLS_BYTESANDBITS_H

#include <QtCore/QByteArray>

// --- Byte order of whole arrays ------------------------------------------------------

// In place: exchange the bytes of every whole 2-byte group / reverse every whole
// 4-byte group from offset 0. Trailing bytes of a partial group stay as they are.
QByteArray &SwapBytes16(QByteArray &data);
QByteArray &SwapBytes32(QByteArray &data);
// Copies padded with zero bytes at the end to whole groups, then swapped.
QByteArray ToBigEndian16(const QByteArray &data);
QByteArray ToBigEndian32(const QByteArray &data);

QByteArray ReverseBytes(QByteArray data); //!< in place when handed a temporary
QByteArray PadToWords(const QByteArray &data);
QByteArray PadToDWords(const QByteArray &data);
QByteArray PadToQWords(const QByteArray &data);
// New arrays of 2n / 4n bytes copied from raw bytes, each group reversed; the caller
// guarantees that the raw bytes are that long.
QByteArray WordsToBytesSwapped(const char *bytes, int words);
QByteArray DWordsToBytesSwapped(const char *bytes, int dwords);

// --- Integers and byte arrays (little-endian) ----------------------------------------

// From the first up to four / two bytes; missing bytes count as 0.
quint32 BytesToUInt32(const QByteArray &data);
quint16 BytesToUInt16(const QByteArray &data);
qint16 BytesToInt16(const QByteArray &data);
QByteArray UInt16ToBytes(quint16 value);
QByteArray Int16ToBytes(qint16 value);
QByteArray Int32ToBytes(qint32 value);
// Appends the high byte, then the low byte.
QByteArray &AppendUInt16BE(QByteArray &data, quint16 value);

// --- Element counts: the number of whole elements that hold a run of bytes or bits ---

quint32 NumOfBytesToNumOfWords(quint32 bytes);
quint32 NumOfBytesToNumOfDWords(quint32 bytes);
quint32 NumOfBytesToNumOfQWords(quint32 bytes);
quint32 NumOfBitsToNumOfBytes(quint32 first_bit, quint32 num_of_bits);
quint32 NumOfBitsToNumOfWords(quint32 first_bit, quint32 num_of_bits);
quint32 NumOfBitsToNumOfDWords(quint32 first_bit, quint32 num_of_bits);

// --- Bits in integers (an index outside the width leaves the value, tests false) -----

quint8 SetBit8(quint8 value, int bit);
quint8 ClearBit8(quint8 value, int bit);
bool TestBit8(quint8 value, int bit);
quint16 SetBit16(quint16 value, int bit);
quint16 ClearBit16(quint16 value, int bit);
bool TestBit16(quint16 value, int bit);
quint32 SetBit32(quint32 value, int bit);
quint32 ClearBit32(quint32 value, int bit);
bool TestBit32(quint32 value, int bit);

// --- Bits in byte sequences ----------------------------------------------------------

int TestBit(const QByteArray &data, quint32 bit);          //!< 0 or 1; 0 outside the data
void SetBit(QByteArray &data, quint32 bit, int value);     //!< ignored outside the data
int TestBitRaw(const char *bytes, quint32 bit);            //!< caller guarantees the range
void SetBitRaw(char *bytes, quint32 bit, bool value);      //!< caller guarantees the range
bool FirstBit(const QByteArray &data);
// count bytes, byte j being 1 when bit first_bit + j is set.
QByteArray BitsToByteFlags(const QByteArray &data, quint16 first_bit, int count);
// Target bit first_bit + j := source bit j, for j below count.
void CopyBits(QByteArray &target, const QByteArray &source, quint32 first_bit, int count);

// Moves bit n + j to bit j as one little-endian number, in place. Bytes that the shift
// empties at the top keep what they held when n >= 8 (see the source); callers cut
// the result with ResizeToBits.
void ShiftBitsDown(QByteArray &data, quint8 n);
// Cuts the array to the bytes that hold num_of_bits bits from bit 0.
void ResizeToBits(QByteArray &data, quint32 num_of_bits);
// Clears the bits above num_of_bits in the byte that holds the last of them.
void ClearUnusedBits(QByteArray &data, quint32 num_of_bits);
// Rotates the k + m bytes at bytes left by k.
void RotateBytes(char *bytes, int k, int m);

#endif // TOOLS_BYTESANDBITS_H
