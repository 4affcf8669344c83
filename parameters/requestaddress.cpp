#include "requestaddress.h"

#include "addresscheck.h"
#include "valuetext.h"

#include <QtCore/QtEndian>

#include <limits>

using LustBus::AddressKind;
using LustBus::DataType;

namespace {

// Host bytes of one element of an address kind.
int kindWidth(AddressKind kind)
{
    DataAddress one;
    one.kind = qint32(kind);
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

// --kind as typed; true without one.
bool parseKind(const QString &kindText, AddressKind *kind, QString *error)
{
    quint64 number = 0;
    if (kindText.isEmpty())
        return true;
    if (!parseNumber(kindText, &number) || number > quint64(LustBus::MaxAddressKind)) {
        *error = QStringLiteral("bad --kind '%1': expected 0 to 6 (0 and 6 bits, 1 and 5 "
                                "bytes, 2 16-bit, 3 32-bit, 4 64-bit elements)")
                     .arg(kindText);
        return false;
    }
    *kind = AddressKind(number);
    return true;
}

// The text's form and parts; a strict text must also pass AddressCheck and keep its
// numbers to what the driver passes on. kind: --kind, if given.
bool readText(RequestAddress &a, const AddressKind *kind, QString *error)
{
    const bool valueForm = LustBus::parseParameterAddress(a.text, a.parts);
    a.bitForm = !valueForm && LustBus::parseBitAddress(a.text, a.parts);
    a.type = a.parts.type;
    if (a.raw) {
        // The driver decides what the text means; lustbus only needs the kind.
        if (kind)
            a.bitForm = LustBus::isBitKind(*kind);
        return true;
    }
    const QString problem = AddressCheck::problem(a.text);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (a.parts.parameter < 0 || a.parts.parameter > 0xFFFF || a.parts.index > 0xFFFF
        || (a.bitForm && (a.parts.bit < 0 || a.parts.bit > 255))) {
        *error = QStringLiteral("bad address '%1': parameter and element index go from 0 "
                                "to 65535, the bit number from 0 to 255")
                     .arg(a.text);
        return false;
    }
    return true;
}

// --kind when given, which must suit the text's form; else the type's kind.
bool chooseKind(RequestAddress &a, const AddressKind *kind, QString *error)
{
    if (!kind) {
        const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(a.type);
        a.kind = a.bitForm ? AddressKind::Bits : a.hasIndex() ? info.elementKind : info.kind;
        return true;
    }
    const bool bitKind = LustBus::isBitKind(*kind);
    if (bitKind != a.bitForm) {
        *error = bitKind ? QStringLiteral("--kind %1 needs a bit address such as "
                                          "USIGN16:20.3, not '%2'")
                               .arg(qint32(*kind))
                               .arg(a.text)
                         : QStringLiteral("--kind %1 needs a value address such as "
                                          "INT16:12, not the bit address '%2'")
                               .arg(qint32(*kind))
                               .arg(a.text);
        return false;
    }
    a.kind = *kind;
    return true;
}

// --count when given, else the default of a read; more than one value only where
// the driver reads elements.
bool chooseCount(RequestAddress &a, const QString &countText, QString *error)
{
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
                     .arg(a.text);
        return false;
    }
    return true;
}

// What one request carries: bits of a bit access, bytes of an element read or a value.
bool checkSize(const RequestAddress &a, QString *error)
{
    if (a.bitForm) {
        if (a.count <= quint64(RequestAddress::MaxBits))
            return true;
        *error = QStringLiteral("bad --count %1: a bit access takes at most %2 bits")
                     .arg(a.count)
                     .arg(RequestAddress::MaxBits);
        return false;
    }
    // Overflow-safe: no count above these limits gets multiplied.
    const quint64 maxBytes = a.hasIndex() ? RequestAddress::MaxElementBytes
                                          : RequestAddress::MaxSimpleBytes;
    const bool textRead = a.type == DataType::String && a.hasIndex();
    if (textRead || (a.count <= maxBytes && a.count * kindWidth(a.kind) <= maxBytes))
        return true;
    *error = a.hasIndex() ? QStringLiteral("bad --count %1: an element read carries at most "
                                           "%2 bytes, and %1 elements of kind %3 are %4")
                                .arg(a.count)
                                .arg(maxBytes)
                                .arg(qint32(a.kind))
                                .arg(a.count * kindWidth(a.kind))
                          : QStringLiteral("bad --count %1: a parameter value has at most %2 "
                                           "bytes")
                                .arg(a.count)
                                .arg(maxBytes);
    return false;
}

} // namespace

bool RequestAddress::resolve(const QString &text, const QString &kindText,
                             const QString &countText, RequestAddress *address, QString *error,
                             TextCheck check)
{
    RequestAddress a;
    a.text = text;
    a.raw = check == TextCheck::Raw;
    AddressKind kind = AddressKind::Bits;
    const AddressKind *givenKind = kindText.isEmpty() ? nullptr : &kind;
    if (!parseKind(kindText, &kind, error) || !readText(a, givenKind, error)
        || !chooseKind(a, givenKind, error) || !chooseCount(a, countText, error)
        || !checkSize(a, error))
        return false;
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
                     .arg(qint32(kind))
                     .arg(count)
                     .arg(byteText(quint64(bytes)));
        return false;
    }
    if (bytes % width == 0)
        return true;
    *error = QStringLiteral("--hex: '%1' takes whole elements of %2 (kind %3), not %4")
                 .arg(text, byteText(quint64(width)))
                 .arg(qint32(kind))
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
    address.kind = qint32(kind);
    address.count = count;
    address.text = text;
    return address;
}

QJsonObject RequestAddress::toJson() const
{
    QJsonObject object{{QStringLiteral("address"), text},
                       {QStringLiteral("kind"), qint32(kind)},
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
    const qint32 clamp = LustBus::scaledHostValue(LustBus::dataTypeInfo(type),
                                                  std::numeric_limits<qint32>::max());
    if (qFromLittleEndian<qint32>(host.constData()) != clamp)
        return QString();
    return QStringLiteral("read %1> %2 is where the driver's simple INT32Q16 read stops: the "
                          "servo's value (a negative one) cannot be read through a simple "
                          "address")
        .arg(text, ValueText::format(type, host, false));
}
