// Servo values as a user reads and types them: host bytes decoded by data type and
// back.
//
//   INT8 ... USIGN32   decimal ("-1234"); typed values may also be 0x followed by hex
//                      digits, the element's bit pattern ("0xFFFF" is -1 as INT16)
//   FLOAT32            the shortest decimal that gives the same float ("1.5", "1e-07")
//   FIXPT16, INT32Q16  the host value in hundredths as a decimal with two places
//                      ("1.25"); typed values take at most two places. Only values the
//                      servo can hold are accepted: FIXPT16 0.00 to 3276.75 (an
//                      unsigned count of twentieths), INT32Q16 -32768.00 to 32767.99.
//                      The driver's scalings add 0.5 and cut toward zero, so a value
//                      between the servo's steps comes back as a neighbouring step
//                      (FIXPT16 0.07 as 0.05, INT32Q16 -1.50 as -1.49)
//   STRING             Latin-1 text; a read ends at the first zero byte
//   elements           a list "a, b, c" (an address with an element index)
//   bits               0/1 digits, lowest bit first ("1000" is bit 0 set)
//   hex                host bytes as upper-case hex digits without spaces
#ifndef LUSTBUS_VALUETEXT_H
#define LUSTBUS_VALUETEXT_H

#include "datatypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QJsonValue>
#include <QtCore/QString>
#include <QtCore/QVector>

namespace ValueText {

// Whether host holds whole elements of type, so that format() loses nothing. STRING
// and Unknown (shown as hex) always do; an empty array does too.
bool isWholeElements(LustBus::DataType type, const QByteArray &host);

// The whole elements in host: the first one only, or all as a list when list is true.
// Unknown types come out as hex.
QString format(LustBus::DataType type, const QByteArray &host, bool list);
QJsonValue toJson(LustBus::DataType type, const QByteArray &host, bool list);
// Host data from what toJson gives: numbers (a list when list is true; a FLOAT32 that
// is not a number as null), a text for STRING. False with error naming the bad part.
bool fromJson(LustBus::DataType type, const QJsonValue &value, bool list, QByteArray &host,
              QString &error);

// Host data from text; a list of elements separated by commas when list is true. On
// failure returns false and sets error to a message that names the bad part.
bool parse(LustBus::DataType type, const QString &text, bool list, QByteArray &host,
           QString &error);

// The first count bits of bits, lowest first.
QString formatBits(const QByteArray &bits, int count);
// 0/1 digits, lowest bit first, to ceil(count / 8) bytes; count becomes the digit count.
bool parseBits(const QString &text, QByteArray &bits, int &count, QString &error);

// The whole elements in host as numbers in the servo's units, as catalogues give them:
// FIXPT16 and INT32Q16 hundredths / 100, FLOAT32 the float, the integer types as they
// are. Empty for STRING and Unknown.
QVector<double> numbers(LustBus::DataType type, const QByteArray &host);

// The host data the servo holds after a write of host, read back: FIXPT16 and INT32Q16
// go through the driver's scalings both ways (FIXPT16 0.07 comes back as 0.05); every
// other type is returned unchanged.
QByteArray heldByServo(LustBus::DataType type, const QByteArray &host);

QString toHex(const QByteArray &bytes); //!< upper case, no spaces
// Pairs of hex digits in either case, at least one pair.
bool fromHex(const QString &text, QByteArray &bytes, QString &error);

} // namespace ValueText

#endif // LUSTBUS_VALUETEXT_H
