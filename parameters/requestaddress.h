// What a read or write asks the driver for: the address text as typed, and the kind
// and count of the DataAddress, defaulted from the address when not given.
//
//   INT8, USIGN8                kind 1
//   INT16, USIGN16              kind 2
//   INT32, USIGN32, FLOAT32     kind 3
//   FIXPT16, INT32Q16           kind 3 (host values are 32-bit hundredths); an element
//                               read of FIXPT16 takes kind 2, because the driver asks
//                               the servo for byte size / 2 of its 2-byte elements
//   STRING                      kind 5, count 800 on a read (the longest text a
//                               telegram carries), the text's length on a write
//   bit form TYPE:PARAM.BIT     kind 0, count = bits (read: 1; write: the digits given)
//   other type names            refused; with --raw-address kind 1, count 4
//   count                       1, or on a write the elements of the value; above 1
//                               only with an element index (or --raw-address)
//
// An element read carries at most 255 bytes (the driver sends the low 8 bits of the
// byte size), a bit access at most 255 bits and a simple read at most 812 bytes (a
// telegram buffer); larger counts are refused here instead of wrapping around to small
// ones.
#ifndef LUSTBUS_REQUESTADDRESS_H
#define LUSTBUS_REQUESTADDRESS_H

#include "addresstext.h"
#include "datatypes.h"
#include "driverinterface.h"
#include "wirecodec.h"

#include <QtCore/QJsonObject>
#include <QtCore/QString>

class RequestAddress
{
public:
    static constexpr int StringReadCount = 800;
    static constexpr int MaxElementBytes = 255;
    static constexpr int MaxBits = 255;
    static constexpr int MaxSimpleBytes = LustBus::BufferSize;

    // Strict: the text must pass AddressCheck, and a simple parameter takes count 1.
    // Raw (--raw-address): the text goes to the driver as it is, whatever it holds.
    enum class TextCheck { Strict, Raw };

    // kindText and countText are the options as typed, empty when not given; the
    // defaults are those of a read. False with error naming the bad part.
    static bool resolve(const QString &text, const QString &kindText, const QString &countText,
                        RequestAddress *address, QString *error,
                        TextCheck check = TextCheck::Strict);
    // For write --hex: whether bytes is exactly the address's byte size (with --count or
    // for a simple parameter), or whole elements of the kind (without --count, with an
    // element index or a raw text). False with error naming both sizes.
    bool takesHexBytes(int bytes, QString *error) const;
    // For a write: the count from the value when --count was not given (bits of a bit
    // form value, else its elements of the kind's width). A given count must match the
    // bits of a bit form value.
    bool adoptValue(int valueBytes, int valueBits, QString *error);

    // The most elements of an array parameter that one element read carries.
    static int elementsPerRequest(LustBus::DataType type);

    QString text;
    LustBus::ParameterAddress parts;
    LustBus::DataType type = LustBus::DataType::Unknown;
    bool bitForm = false;
    LustBus::AddressKind kind = LustBus::AddressKind::Bytes;
    quint64 count = 1;
    bool countGiven = false;
    bool raw = false; //!< --raw-address
    QString name; //!< the catalogue name as typed (gains[2..5]); empty for a numeric text
    QString unit; //!< the catalogue's unit of a name

    // What the user calls it: the name, else the address text.
    QString label() const { return name.isEmpty() ? text : name; }
    // " rpm" after a value, or nothing.
    QString unitSuffix() const { return unit.isEmpty() ? QString() : QLatin1Char(' ') + unit; }

    bool hasIndex() const { return parts.index >= 0; }
    // When a simple INT32Q16 read came back as 32768.00, the most the driver's signed
    // parse of the reply gives (a negative value reads as that too), the read's error
    // text: "read INT32Q16:18> 32768.00 is where ..."; else empty.
    QString int32Q16ClampError(const QByteArray &host) const;
    // Whether the value is shown and parsed as a list: element addresses and counts
    // above one element.
    bool isList() const;
    DataAddress dataAddress() const;
    // The start of the --json object of read and write: address, kind and count, and
    // name and unit for a name.
    QJsonObject toJson() const;
};

#endif // LUSTBUS_REQUESTADDRESS_H
