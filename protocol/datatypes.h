// The servo's parameter data types: one table for the driver, the simulator and the
// command-line host. Host data is little-endian; telegram data is most significant
// byte first per element.
//
//   name      telegram  host  raw       kind  element  host value
//   INT8      1         1     signed    1     1        -128 to 127
//   USIGN8    1         1     unsigned  1     1        0 to 255
//   INT16     2         2     signed    2     2        -32768 to 32767
//   USIGN16   2         2     unsigned  2     2        0 to 65535
//   INT32     4         4     signed    3     3        -2147483648 to 2147483647
//   USIGN32   4         4     unsigned  3     3        0 to 4294967295
//   FLOAT32   4         4     unsigned  3     3        IEEE 754 bit pattern, never converted
//   FIXPT16   2         4     unsigned  3     2        hundredths 0 to 327675; the servo
//                                                      counts twentieths in 16 bits
//   INT32Q16  4         4     signed    3     3        hundredths -3276800 to 3276799; the
//                                                      servo sends 16 fraction bits
//   STRING    text      1     -         5     5        a text, one character per byte
//
// "kind" is the DataAddress kind that reads one value simply; "element" the kind of an
// element access, whose byte size the driver counts in telegram elements (so a FIXPT16
// element read asks for byte size / 2 elements and gives 4 host bytes for each).
//
// A type is scaled when its raw and host values count different steps of one unit
// (FIXPT16: twentieths and hundredths, INT32Q16: 1/65536 and hundredths); every other
// number goes between host and telegram as its bytes, only their order changed.
// Scalings compute in double and round by adding 0.5 and truncating toward zero, so
// a scaled -2.0 becomes -1 and -1.0 becomes 0.
#ifndef LUSTBUS_DATATYPES_H
#define LUSTBUS_DATATYPES_H

#include "addresskind.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringView>

namespace LustBus {

enum class DataType { Int8, USign8, Int16, USign16, Int32, USign32, Float32, FixPt16, Int32Q16,
                      String, Unknown };

// What one host element stands for.
enum class HostForm {
    Integer, //!< a whole number of 1 / hostPerUnit units
    Float,   //!< the bit pattern of an IEEE 754 single
    Text,    //!< one character of a text
    Bytes,   //!< bytes of no known type
};

struct DataTypeInfo
{
    DataType type;
    const char *name;   //!< upper case; "" for Unknown
    int telegramWidth;  //!< bytes of one element in a telegram; 0 for a text
    int hostWidth;      //!< bytes of one element in host data; 0 for Unknown
    bool signedRaw;     //!< the servo's own number is signed
    AddressKind kind;        //!< DataAddress kind of a simple value
    AddressKind elementKind; //!< DataAddress kind of an element access
    qint64 hostMin;     //!< one host value (FLOAT32: its bit pattern, STRING: a character)
    qint64 hostMax;
    // Raw counts per unit of the servo's own, in which catalogues and the simulator's
    // tables give values: FIXPT16 20, INT32Q16 65536, 1 for the other numbers (a
    // FLOAT32's raw value is its bit pattern instead).
    qint64 rawPerUnit;
    qint64 hostPerUnit; //!< host counts per unit: 100 (hundredths) for the scaled types
    HostForm form;

    bool isNumber() const { return form == HostForm::Integer || form == HostForm::Float; }
    bool isScaled() const { return rawPerUnit != hostPerUnit; }
    // A scaled type's host element is a signed 32-bit count of hundredths whatever the
    // servo's own sign.
    bool signedHost() const { return signedRaw || isScaled(); }

    // The servo's own number for one element: telegramWidth bytes, signed or not.
    qint64 rawMin() const;
    qint64 rawMax() const;
};

// The names compare without regard to case; any other name is Unknown.
DataType dataTypeFromName(QStringView name);
const DataTypeInfo &dataTypeInfo(DataType type);
const char *dataTypeName(DataType type); //!< upper case; "" for Unknown

// The host value of a scaled type from the servo's number: the low 32 bits of
// trunc(raw * hostPerUnit / rawPerUnit + 0.5).
qint32 scaledHostValue(const DataTypeInfo &info, qint64 raw);

// Telegram elements of a number type (telegramWidth bytes each, most significant
// first) to host data, in place; false when the bytes are no whole elements.
bool telegramToHost(const DataTypeInfo &info, QByteArray &data);
// Host data of a number type to telegram elements: zero-padded to whole host elements,
// scaled, most significant byte first. A scaled raw value keeps its low telegramWidth
// bytes (FIXPT16 its low 16 bits); one that leaves the signed 32-bit range (INT32Q16
// host values outside -3276800 to 3276799) becomes 0x80000000 first.
QByteArray hostToTelegram(const DataTypeInfo &info, const QByteArray &host);

} // namespace LustBus

#endif // LUSTBUS_DATATYPES_H
