// The servo's parameter data types: how wide an element is in a telegram and in the
// host's data, and the fixed-point scalings. Host data is little-endian; telegram
// data is most significant byte first per element.
//
//   name      telegram  host  host value
//   INT8      1         1     signed 8-bit
//   USIGN8    1         1     unsigned 8-bit
//   INT16     2         2     signed 16-bit
//   USIGN16   2         2     unsigned 16-bit
//   INT32     4         4     signed 32-bit
//   USIGN32   4         4     unsigned 32-bit
//   FLOAT32   4         4     IEEE 754 bit pattern, never converted numerically
//   FIXPT16   2         4     hundredths; the servo counts twentieths, unsigned 16-bit
//   INT32Q16  4         4     hundredths; the servo sends signed 32-bit with 16 fraction bits
//   STRING    1 per character, sent as text
//
// Scalings compute in double and round by adding 0.5 and truncating toward zero, so
// a scaled -2.0 becomes -1 and -1.0 becomes 0.
#ifndef LUSTBUS_DATATYPES_H
#define LUSTBUS_DATATYPES_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace LustBus {

enum class DataType { Int8, USign8, Int16, USign16, Int32, USign32, Float32, FixPt16, Int32Q16,
                      String, Unknown };

// The names compare without regard to case; any other name is Unknown.
DataType dataTypeFromName(const QString &name);
const char *dataTypeName(DataType type); //!< upper case; "" for Unknown

// Host value in hundredths from a number read from a simple parameter.
qint32 fixPt16HostValue(quint32 raw);  //!< low 32 bits of trunc(raw * 100 / 20 + 0.5)
qint32 int32Q16HostValue(qint32 raw);  //!< trunc(raw * 100 * 2^-16 + 0.5)

// Host data to telegram bytes: zero-padded to whole 4-byte host elements, scaled,
// big-endian. FIXPT16 keeps the low 16 bits of the raw value; an INT32Q16 whose raw
// value leaves the signed 32-bit range (host values outside -3276800 to 3276799)
// becomes 0x80000000.
QByteArray fixPt16ToServo(const QByteArray &host);
QByteArray int32Q16ToServo(const QByteArray &host);

} // namespace LustBus

#endif // LUSTBUS_DATATYPES_H
