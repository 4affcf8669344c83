#include "requestaddress.h"

#include "addresscheck.h"
#include "valuetext.h"

#include <QtCore/QtEndian>

#include <limits>

using LustBus::DataType;

namespace {

// Host bytes of one element of an address kind.
int kindWidth(int kind)
{
    DataAddress one;
    one.kind = kind;
    one.count = 1;
    return int(one.byteSize());
}

quint64 defaultCount(DataType type)
{
    switch (type) {
    case DataType::String: return RequestAddress::StringReadCount;
    case DataType::Unknown: return 4;
    default: return 1;
    }
}

bool parseNumber(const QString &text, quint64 *value)
{
    bool ok = false;
    const QString t = text.trimmed();
    if (t.isEmpty() || !t[0].isDigit())
        return false;
    *value = t.toULongLong(&ok, 10);
    return ok;
}

} // namespace

bool RequestAddress::resolve(const QString &text, const QString &kindText,
                             const QString &countText, RequestAddress *address, QString *error,
                             TextCheck check)
{
    RequestAddress a;
    a.text = text;
    a.raw = check == TextCheck::Raw;
    quint64 kind = 0;
    const bool kindGiven = !kindText.isEmpty();
    if (kindGiven && (!parseNumber(kindText, &kind) || kind > 6)) {
        *error = QStringLiteral("bad --kind '%1': expected 0 to 6 (0 and 6 bits, 1 and 5 "
                                "bytes, 2 16-bit, 3 32-bit, 4 64-bit elements)")
                     .arg(kindText);
        return false;
    }
    const bool bitKind = kindGiven && (kind == 0 || kind == 6);
    const bool valueForm = LustBus::parseParameterAddress(text, a.parts);
    a.bitForm = !valueForm && LustBus::parseBitAddress(text, a.parts);
    if (a.raw) {
        // The driver decides what the text means; lustbus only needs the kind.
        if (kindGiven)
            a.bitForm = bitKind;
    } else {
        const QString problem = AddressCheck::problem(text);
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
        if (a.parts.parameter < 0 || a.parts.parameter > 0xFFFF || a.parts.index > 0xFFFF
            || (a.bitForm && (a.parts.bit < 0 || a.parts.bit > 255))) {
            *error = QStringLiteral("bad address '%1': parameter and element index go from 0 "
                                    "to 65535, the bit number from 0 to 255")
                         .arg(text);
            return false;
        }
    }
    a.type = a.parts.type;
    if (kindGiven) {
        if (bitKind != a.bitForm) {
            *error = bitKind ? QStringLiteral("--kind %1 needs a bit address such as "
                                              "USIGN16:20.3, not '%2'")
                                   .arg(kind)
                                   .arg(text)
                             : QStringLiteral("--kind %1 needs a value address such as "
                                              "INT16:12, not the bit address '%2'")
                                   .arg(kind)
                                   .arg(text);
            return false;
        }
        a.kind = int(kind);
    } else {
        const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(a.type);
        a.kind = a.bitForm ? 0 : a.hasIndex() ? info.elementKind : info.kind;
    }

    a.countGiven = !countText.isEmpty();
    if (a.countGiven) {
        if (!parseNumber(countText, &a.count) || a.count == 0) {
            *error = QStringLiteral("bad --count '%1': expected a whole number of 1 or more")
                         .arg(countText);
            return false;
        }
    } else {
        a.count = a.bitForm ? 1 : defaultCount(a.type);
    }
    if (!a.raw && !a.bitForm && !a.hasIndex() && a.count > 1) {
        // The driver would fit the one value to the larger size with zero bytes.
        *error = QStringLiteral("bad --count %1: '%2' is a simple parameter, one value; "
                                "elements of an array parameter need an element index, "
                                "such as %2:0")
                     .arg(a.count)
                     .arg(text);
        return false;
    }

    if (a.bitForm && a.count > quint64(MaxBits)) {
        *error = QStringLiteral("bad --count %1: a bit access takes at most %2 bits")
                     .arg(a.count)
                     .arg(MaxBits);
        return false;
    }
    if (!a.bitForm) {
        // Overflow-safe: no count above these limits gets multiplied.
        const quint64 maxBytes = a.hasIndex() ? MaxElementBytes : MaxSimpleBytes;
        const bool textRead = a.type == DataType::String && a.hasIndex();
        if (!textRead && (a.count > maxBytes || a.count * kindWidth(a.kind) > maxBytes)) {
            *error = a.hasIndex()
                         ? QStringLiteral("bad --count %1: an element read carries at most "
                                          "%2 bytes, and %1 elements of kind %3 are %4")
                               .arg(a.count)
                               .arg(maxBytes)
                               .arg(a.kind)
                               .arg(a.count * kindWidth(a.kind))
                         : QStringLiteral("bad --count %1: a parameter value has at most %2 "
                                          "bytes")
                               .arg(a.count)
                               .arg(maxBytes);
            return false;
        }
    }
    *address = a;
    return true;
}

bool RequestAddress::takesHexBytes(int bytes, QString *error) const
{
    auto byteText = [](quint64 n) {
        return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
    };
    if (bitForm) {
        const quint64 size = (count + 7) / 8;
        if (!countGiven || quint64(bytes) == size)
            return true;
        *error = QStringLiteral("--hex: %1 bits of '%2' take %3, not %4")
                     .arg(count)
                     .arg(text, byteText(size), byteText(quint64(bytes)));
        return false;
    }
    const int width = kindWidth(kind);
    if (countGiven || (!hasIndex() && !raw)) {
        const quint64 size = count * quint64(width); // a simple parameter's count is 1
        if (quint64(bytes) == size)
            return true;
        *error = QStringLiteral("--hex: '%1' takes %2 (kind %3, count %4), not %5")
                     .arg(text, byteText(size))
                     .arg(kind)
                     .arg(count)
                     .arg(byteText(quint64(bytes)));
        return false;
    }
    if (bytes % width == 0)
        return true;
    *error = QStringLiteral("--hex: '%1' takes whole elements of %2 (kind %3), not %4")
                 .arg(text, byteText(quint64(width)))
                 .arg(kind)
                 .arg(byteText(quint64(bytes)));
    return false;
}

bool RequestAddress::adoptValue(int valueBytes, int valueBits, QString *error)
{
    if (bitForm) {
        if (countGiven && count != quint64(valueBits)) {
            *error = QStringLiteral("--count %1 does not match the %2 bit digits of the value")
                         .arg(count)
                         .arg(valueBits);
            return false;
        }
        if (valueBits > MaxBits) {
            *error = QStringLiteral("bad bit value: a bit access takes at most %1 bits")
                         .arg(MaxBits);
            return false;
        }
        count = quint64(valueBits);
        return true;
    }
    if (hasIndex() && type != DataType::String && type != DataType::Unknown
        && valueBytes > MaxElementBytes * LustBus::dataTypeInfo(type).hostWidth) {
        // The driver sends the element count modulo 256.
        *error = QStringLiteral("value too long: an element write takes at most %1 elements")
                     .arg(MaxElementBytes);
        return false;
    }
    if (!countGiven) {
        const int width = kindWidth(kind);
        count = quint64((valueBytes + width - 1) / width);
    }
    return true;
}

bool RequestAddress::isList() const
{
    if (bitForm || type == DataType::String || type == DataType::Unknown)
        return false;
    return hasIndex() || dataAddress().byteSize() > quint64(LustBus::dataTypeInfo(type).hostWidth);
}

DataAddress RequestAddress::dataAddress() const
{
    DataAddress address;
    address.kind = kind;
    address.count = count;
    address.text = text;
    return address;
}

QJsonObject RequestAddress::toJson() const
{
    QJsonObject object{{QStringLiteral("address"), text},
                       {QStringLiteral("kind"), kind},
                       {QStringLiteral("count"), double(count)}};
    if (!name.isEmpty())
        object.insert(QStringLiteral("name"), name);
    if (!unit.isEmpty())
        object.insert(QStringLiteral("unit"), unit);
    return object;
}

int RequestAddress::elementsPerRequest(DataType type)
{
    return MaxElementBytes / kindWidth(LustBus::dataTypeInfo(type).elementKind);
}

QString RequestAddress::int32Q16ClampError(const QByteArray &host) const
{
    if (type != DataType::Int32Q16 || hasIndex() || bitForm || host.size() != 4)
        return QString();
    // The host value of raw 0x7FFFFFFF, where the driver's signed parse of the reply stops.
    const qint32 clamp = LustBus::int32Q16HostValue(std::numeric_limits<qint32>::max());
    if (qFromLittleEndian<qint32>(host.constData()) != clamp)
        return QString();
    return QStringLiteral("read %1> %2 is where the driver's simple INT32Q16 read stops: the "
                          "servo's value (a negative one) cannot be read through a simple "
                          "address")
        .arg(text, ValueText::format(type, host, false));
}
