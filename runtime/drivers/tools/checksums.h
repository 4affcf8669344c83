// Block checksums, sums and table-driven CRCs over raw bytes.
//
// The CRC update functions add one byte to a running CRC; they apply no start value and
// no final inversion, so one function serves every variant of its polynomial:
//   CRC-16/XMODEM  Crc16Update1021 from 0x0000
//   CRC-16/ARC     Crc16UpdateA001 from 0x0000 (Crc16Arc)
//   CRC-16/MODBUS  Crc16UpdateA001 from 0xFFFF
//   CRC-16/KERMIT  Crc16Update8408 from 0x0000
//   CRC-16/X-25    Crc16Update8408 from 0xFFFF, result inverted
//   CRC-16/DNP     Crc16UpdateA6BC from 0x0000, result inverted
//   CRC-32         Crc32Update     from 0xFFFFFFFF, result inverted
// Each lookup table is computed on the first call of its function, once per process,
// also when that first call comes from several threads at once.
#ifndef TOOLS_CHECKSUMS_H
#define TOOLS_CHECKSUMS_H

#include <QtCore/QtGlobal>

// Exclusive-or of the bytes, starting from 0; 0 for a length of 0 or below.
quint8 xorChecksum(const char *bytes, int length);

// Sum of the bytes (each 0 to 255) modulo 2^8 / 2^32; 0 for a length of 0 or below.
quint8 Sum8(const char *bytes, int length);
quint32 Sum32(const char *bytes, int length);

// CRC-16/ARC of the bytes: 0 for a length of 0 or below.
quint16 Crc16Arc(const char *bytes, int length);

// Polynomial 0x1021, most significant bit first.
quint16 Crc16Update1021(quint16 crc, quint8 byte);
// Reflected polynomials, least significant bit first.
quint16 Crc16UpdateA001(quint16 crc, quint8 byte);
quint16 Crc16Update8408(quint16 crc, quint8 byte);
quint16 Crc16UpdateA6BC(quint16 crc, quint8 byte);
quint32 Crc32Update(quint32 crc, quint8 byte);

// One shift step of the polynomial 0x8005 on value, combined with the 16-bit word
// high:low: ((value << 1) ^ (0x8005 if bit 15 of value is set)) ^ (high << 8 | low).
// Bitwise, without a table.
quint16 Crc16Step8005(quint16 value, quint8 low, quint8 high);

#endif // TOOLS_CHECKSUMS_H
