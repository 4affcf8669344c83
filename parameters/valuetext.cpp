#include "valuetext.h"

#include <QtCore/QJsonArray>
#include <QtCore/QLocale>
#include <QtCore/QStringList>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

using LustBus::DataType;
using LustBus::DataTypeInfo;
using LustBus::HostForm;

namespace ValueText {

namespace {

int hostWidth(DataType type)
{
    return LustBus::dataTypeInfo(type).hostWidth;
}

// The places after the point of a host value that counts 1 / perUnit units.
int decimals(qint64 perUnit)
{
    int places = 0;
    for (; perUnit > 1; perUnit /= 10)
        ++places;
    return places;
}

quint32 littleEndian(const char *bytes, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value |= quint32(quint8(bytes[i])) << (8 * i);
    return value;
}

// One host element as its number: sign-extended when the type's host value is signed.
qint64 hostValue(const DataTypeInfo &info, const char *bytes)
{
    const quint32 raw = littleEndian(bytes, info.hostWidth);
    const int unused = 64 - 8 * info.hostWidth;
    return info.signedHost() ? qint64(quint64(raw) << unused) >> unused : qint64(raw);
}

QByteArray toLittleEndian(quint32 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = 0; i < width; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAsciiDigits(const QString &text)
{
    for (QChar c : text) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

// A count of 1 / perUnit units as a decimal with all its places ("-0.05").
QString unitsText(qint64 value, qint64 perUnit)
{
    if (perUnit == 1)
        return QString::number(value);
    const qint64 magnitude = value < 0 ? -value : value;
    return QStringLiteral("%1%2.%3")
        .arg(value < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / perUnit)
        .arg(magnitude % perUnit, decimals(perUnit), 10, QLatin1Char('0'));
}

float toFloat(quint32 bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The shortest text that reads back as the same float.
QString floatText(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

// Of a number type.
QString formatElement(const DataTypeInfo &info, const char *bytes)
{
    const qint64 value = hostValue(info, bytes);
    if (info.form == HostForm::Float)
        return floatText(toFloat(quint32(value)));
    return unitsText(value, info.hostPerUnit);
}

QJsonValue jsonElement(const DataTypeInfo &info, const char *bytes)
{
    const qint64 value = hostValue(info, bytes);
    if (info.form == HostForm::Float) {
        // Through the shortest text, so that 1.3 stays 1.3 instead of the double
        // nearest to the float; NaN and infinities have no JSON form.
        bool ok = false;
        const double number = floatText(toFloat(quint32(value))).toDouble(&ok);
        return ok && std::isfinite(number) ? QJsonValue(number) : QJsonValue();
    }
    if (info.hostPerUnit == 1)
        return QJsonValue(value);
    return double(value) / double(info.hostPerUnit);
}

// Decimal within [min, max], or 0x and hex digits for the element's bit pattern
// (at most width bytes); the pattern is returned sign-extended for signed types.
bool parseInteger(const QString &text, int width, qint64 min, qint64 max, qint64 &value)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = t.mid(2);
        static const QString hexDigits = QStringLiteral("0123456789abcdefABCDEF");
        if (digits.isEmpty() || digits.size() > 2 * width)
            return false;
        for (QChar c : digits) {
            if (!hexDigits.contains(c))
                return false;
        }
        const quint64 pattern = digits.toULongLong(&ok, 16);
        if (!ok)
            return false;
        const int bits = 8 * width;
        const bool isSigned = min < 0;
        if (isSigned && bits < 64 && (pattern >> (bits - 1)) & 1)
            value = qint64(pattern) - (qint64(1) << bits);
        else
            value = qint64(pattern);
        return true;
    }
    value = t.toLongLong(&ok, 10);
    return ok && value >= min && value <= max;
}

// "12.34", "-0.5", ".5", "7": a decimal with at most the places of perUnit, as a
// count of 1 / perUnit units.
bool parseUnits(const QString &text, qint64 perUnit, qint64 min, qint64 max, qint64 &value)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.startsWith(QLatin1Char('-'));
        t.remove(0, 1);
    }
    const int places = decimals(perUnit);
    const int dot = t.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? t : t.left(dot);
    const QString fraction = dot < 0 ? QString() : t.mid(dot + 1);
    if (whole.isEmpty() && fraction.isEmpty())
        return false;
    if (!isAsciiDigits(whole) || !isAsciiDigits(fraction) || fraction.size() > places
        || (dot >= 0 && fraction.isEmpty()))
        return false;
    // More than ten digits before the point are out of every range anyway; the bound
    // keeps the arithmetic below inside 64 bits.
    const QString units = whole.isEmpty() ? QStringLiteral("0") : whole;
    if (units.size() > 10)
        return false;
    const qint64 magnitude = units.toLongLong() * perUnit
                             + fraction.leftJustified(places, QLatin1Char('0')).toLongLong();
    value = negative ? -magnitude : magnitude;
    return value >= min && value <= max;
}

// What a typed element must be, with the type's range from its row.
QString expectedText(const DataTypeInfo &info)
{
    if (info.form == HostForm::Float)
        return QStringLiteral("a floating-point number such as 1.5 or -2e-3");
    if (info.form != HostForm::Integer)
        return QStringLiteral("a value");
    const QString min = unitsText(info.hostMin, info.hostPerUnit);
    const QString max = unitsText(info.hostMax, info.hostPerUnit);
    if (info.hostPerUnit != 1) {
        const int places = decimals(info.hostPerUnit);
        return QStringLiteral("a decimal from %1 to %2 with at most %3 places")
            .arg(min, max, places == 2 ? QStringLiteral("two") : QString::number(places));
    }
    const int digits = 2 * info.hostWidth;
    return QStringLiteral("an integer from %1 to %2 (or 0x%3 to 0x%4)")
        .arg(min, max, QString(digits, QLatin1Char('0')), QString(digits, QLatin1Char('F')));
}

// Only host values the servo can hold and return unchanged are taken: the fixed-point
// ranges are narrower than their 32 host bits. Integers in whole units may also be
// given as their bit pattern in hex.
bool parseElement(const DataTypeInfo &info, const QString &text, QByteArray &host)
{
    qint64 v = 0;
    if (info.form == HostForm::Float) {
        bool ok = false;
        const float f = text.trimmed().toFloat(&ok);
        if (!ok)
            return false;
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        v = bits;
    } else if (info.form != HostForm::Integer) {
        return false;
    } else if (info.hostPerUnit == 1) {
        if (!parseInteger(text, info.hostWidth, info.hostMin, info.hostMax, v))
            return false;
    } else if (!parseUnits(text, info.hostPerUnit, info.hostMin, info.hostMax, v)) {
        return false;
    }
    host += toLittleEndian(quint32(v), info.hostWidth);
    return true;
}

bool parseText(const QString &text, QByteArray &host, QString &error)
{
    for (QChar c : text) {
        // The servo ends a text at a zero byte and a telegram at ETX or EOT.
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            error = QStringLiteral("bad STRING value: control character U+%1 cannot be sent")
                        .arg(c.unicode(), 4, 16, QLatin1Char('0'));
            return false;
        }
        if (c.unicode() > 0xFF) {
            error = QStringLiteral("bad STRING value: \"%1\" is not a Latin-1 character")
                        .arg(c);
            return false;
        }
    }
    host = text.toLatin1();
    return true;
}

} // namespace

bool isWholeElements(DataType type, const QByteArray &host)
{
    const int width = hostWidth(type);
    return type == DataType::Unknown || host.size() % width == 0;
}

QString format(DataType type, const QByteArray &host, bool list)
{
    if (type == DataType::String) {
        const int end = host.indexOf('\0');
        return QString::fromLatin1(end < 0 ? host : host.left(end));
    }
    if (type == DataType::Unknown)
        return toHex(host);
    const DataTypeInfo &info = LustBus::dataTypeInfo(type);
    const int width = info.hostWidth;
    QStringList elements;
    for (int at = 0; at + width <= host.size(); at += width) {
        elements.append(formatElement(info, host.constData() + at));
        if (!list)
            break;
    }
    return elements.join(QLatin1String(", "));
}

QJsonValue toJson(DataType type, const QByteArray &host, bool list)
{
    if (type == DataType::String || type == DataType::Unknown)
        return format(type, host, list);
    const DataTypeInfo &info = LustBus::dataTypeInfo(type);
    const int width = info.hostWidth;
    QJsonArray elements;
    for (int at = 0; at + width <= host.size(); at += width)
        elements.append(jsonElement(info, host.constData() + at));
    if (!list)
        return elements.isEmpty() ? QJsonValue() : elements.first();
    return elements;
}

namespace {

bool elementFromJson(const DataTypeInfo &info, const QJsonValue &value, QByteArray &host)
{
    const double number = value.toDouble();
    if (info.form == HostForm::Float) {
        if (!value.isDouble() && !value.isNull())
            return false;
        const float f = value.isNull() ? std::numeric_limits<float>::quiet_NaN() : float(number);
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        host += toLittleEndian(bits, info.hostWidth);
        return true;
    }
    const double scaled = number * double(info.hostPerUnit);
    const double whole = std::round(scaled);
    if (!value.isDouble() || std::fabs(scaled - whole) > 1e-6 * qMax(1.0, std::fabs(scaled))
        || whole < double(info.hostMin) || whole > double(info.hostMax))
        return false;
    host += toLittleEndian(quint32(qint64(whole)), info.hostWidth);
    return true;
}

QString jsonText(const QJsonValue &value)
{
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    if (value.isString())
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    return value.isNull() ? QStringLiteral("null") : QStringLiteral("(not a number)");
}

} // namespace

bool fromJson(DataType type, const QJsonValue &value, bool list, QByteArray &host,
              QString &error)
{
    host.clear();
    if (type == DataType::String) {
        if (value.isString())
            return parseText(value.toString(), host, error);
        error = QStringLiteral("a STRING value is a text");
        return false;
    }
    if (list != value.isArray()) {
        error = list ? QStringLiteral("an array's value is a list of numbers")
                     : QStringLiteral("a simple parameter's value is one number");
        return false;
    }
    const QJsonArray elements = list ? value.toArray() : QJsonArray{value};
    for (int i = 0; i < elements.size(); ++i) {
        if (!elementFromJson(LustBus::dataTypeInfo(type), elements.at(i), host)) {
            error = QStringLiteral("%1bad %2 value %3: expected %4")
                        .arg(list ? QStringLiteral("element %1: ").arg(i) : QString(),
                             QLatin1String(LustBus::dataTypeName(type)),
                             jsonText(elements.at(i)), expectedText(LustBus::dataTypeInfo(type)));
            host.clear();
            return false;
        }
    }
    return true;
}

bool parse(DataType type, const QString &text, bool list, QByteArray &host, QString &error)
{
    host.clear();
    if (type == DataType::String)
        return parseText(text, host, error);
    if (type == DataType::Unknown) {
        error = QStringLiteral("unknown data type: give the value as host bytes with --hex");
        return false;
    }
    const QStringList parts = list ? text.split(QLatin1Char(',')) : QStringList{text};
    for (const QString &part : parts) {
        if (!parseElement(LustBus::dataTypeInfo(type), part, host)) {
            error = QStringLiteral("bad %1 value \"%2\": expected %3")
                        .arg(QLatin1String(LustBus::dataTypeName(type)), part.trimmed(),
                             expectedText(LustBus::dataTypeInfo(type)));
            host.clear();
            return false;
        }
    }
    return true;
}

QString formatBits(const QByteArray &bits, int count)
{
    QString text;
    for (int i = 0; i < count && i / 8 < bits.size(); ++i)
        text += QLatin1Char((quint8(bits[i / 8]) >> (i % 8)) & 1 ? '1' : '0');
    return text;
}

bool parseBits(const QString &text, QByteArray &bits, int &count, QString &error)
{
    const QString digits = text.trimmed();
    QByteArray result((digits.size() + 7) / 8, '\0');
    bool ok = !digits.isEmpty();
    for (int i = 0; ok && i < digits.size(); ++i) {
        if (digits[i] == QLatin1Char('1'))
            result[i / 8] = char(quint8(result[i / 8]) | (1u << (i % 8)));
        else
            ok = digits[i] == QLatin1Char('0');
    }
    if (!ok) {
        error = QStringLiteral("bad bit value \"%1\": expected 0/1 digits, lowest bit first")
                    .arg(digits);
        return false;
    }
    bits = result;
    count = digits.size();
    return true;
}

QVector<double> numbers(DataType type, const QByteArray &host)
{
    QVector<double> values;
    const DataTypeInfo &info = LustBus::dataTypeInfo(type);
    if (!info.isNumber())
        return values;
    const int width = info.hostWidth;
    for (int at = 0; at + width <= host.size(); at += width) {
        const qint64 value = hostValue(info, host.constData() + at);
        values.append(info.form == HostForm::Float ? double(toFloat(quint32(value)))
                                                   : double(value) / double(info.hostPerUnit));
    }
    return values;
}

QByteArray heldByServo(DataType type, const QByteArray &host)
{
    const DataTypeInfo &info = LustBus::dataTypeInfo(type);
    if (!info.isNumber() || !info.isScaled())
        return host;
    // Whole elements through the driver's scalings, there and back.
    const int whole = int(host.size()) / info.hostWidth * info.hostWidth;
    QByteArray held = LustBus::hostToTelegram(info, host.left(whole));
    LustBus::telegramToHost(info, held);
    return held;
}

QString toHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

bool fromHex(const QString &text, QByteArray &bytes, QString &error)
{
    const QString t = text.trimmed();
    static const QString digits = QStringLiteral("0123456789abcdefABCDEF");
    bool ok = !t.isEmpty() && t.size() % 2 == 0;
    for (QChar c : t)
        ok = ok && digits.contains(c);
    if (!ok) {
        error = QStringLiteral("bad hex value \"%1\": expected pairs of hex digits, "
                               "such as 0A1B")
                    .arg(t);
        return false;
    }
    bytes = QByteArray::fromHex(t.toLatin1());
    return true;
}

} // namespace ValueText
