#include "valuetext.h"

#include <QtCore/QJsonArray>
#include <QtCore/QLocale>
#include <QtCore/QStringList>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

using LustBus::DataType;

namespace ValueText {

namespace {

int hostWidth(DataType type)
{
    return LustBus::dataTypeInfo(type).hostWidth;
}

quint32 littleEndian(const char *bytes, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value |= quint32(quint8(bytes[i])) << (8 * i);
    return value;
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

QString hundredths(qint32 value)
{
    const qint64 v = value;
    const qint64 magnitude = v < 0 ? -v : v;
    return QStringLiteral("%1%2.%3")
        .arg(v < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
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

QString formatElement(DataType type, const char *bytes)
{
    const quint32 raw = littleEndian(bytes, hostWidth(type));
    switch (type) {
    case DataType::Int8: return QString::number(qint8(raw));
    case DataType::USign8: return QString::number(quint8(raw));
    case DataType::Int16: return QString::number(qint16(raw));
    case DataType::USign16: return QString::number(quint16(raw));
    case DataType::Int32: return QString::number(qint32(raw));
    case DataType::USign32: return QString::number(raw);
    case DataType::Float32: return floatText(toFloat(raw));
    case DataType::FixPt16:
    case DataType::Int32Q16: return hundredths(qint32(raw));
    case DataType::String:
    case DataType::Unknown: break;
    }
    return QString();
}

QJsonValue jsonElement(DataType type, const char *bytes)
{
    const quint32 raw = littleEndian(bytes, hostWidth(type));
    switch (type) {
    case DataType::Int8: return qint8(raw);
    case DataType::USign8: return quint8(raw);
    case DataType::Int16: return qint16(raw);
    case DataType::USign16: return quint16(raw);
    case DataType::Int32: return qint32(raw);
    case DataType::USign32: return double(raw);
    case DataType::Float32: {
        // Through the shortest text, so that 1.3 stays 1.3 instead of the double
        // nearest to the float; NaN and infinities have no JSON form.
        bool ok = false;
        const double value = floatText(toFloat(raw)).toDouble(&ok);
        return ok && std::isfinite(value) ? QJsonValue(value) : QJsonValue();
    }
    case DataType::FixPt16:
    case DataType::Int32Q16: return qint32(raw) / 100.0;
    case DataType::String:
    case DataType::Unknown: break;
    }
    return QJsonValue();
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

// "12.34", "-0.5", ".5", "7": a decimal with at most two places, in hundredths.
bool parseHundredths(const QString &text, qint64 min, qint64 max, qint32 &value)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.startsWith(QLatin1Char('-'));
        t.remove(0, 1);
    }
    const int dot = t.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? t : t.left(dot);
    const QString fraction = dot < 0 ? QString() : t.mid(dot + 1);
    if (whole.isEmpty() && fraction.isEmpty())
        return false;
    if (!isAsciiDigits(whole) || !isAsciiDigits(fraction) || fraction.size() > 2
        || (dot >= 0 && fraction.isEmpty()))
        return false;
    // More than ten digits before the point are out of every range anyway; the bound
    // keeps the arithmetic below inside 64 bits.
    const QString units = whole.isEmpty() ? QStringLiteral("0") : whole;
    if (units.size() > 10)
        return false;
    const qint64 magnitude = units.toLongLong() * 100
                             + fraction.leftJustified(2, QLatin1Char('0')).toLongLong();
    const qint64 result = negative ? -magnitude : magnitude;
    if (result < min || result > max)
        return false;
    value = qint32(result);
    return true;
}

const char *expectedText(DataType type)
{
    switch (type) {
    case DataType::Int8: return "an integer from -128 to 127 (or 0x00 to 0xFF)";
    case DataType::USign8: return "an integer from 0 to 255 (or 0x00 to 0xFF)";
    case DataType::Int16: return "an integer from -32768 to 32767 (or 0x0000 to 0xFFFF)";
    case DataType::USign16: return "an integer from 0 to 65535 (or 0x0000 to 0xFFFF)";
    case DataType::Int32:
        return "an integer from -2147483648 to 2147483647 (or 0x00000000 to 0xFFFFFFFF)";
    case DataType::USign32: return "an integer from 0 to 4294967295 (or 0x00000000 to 0xFFFFFFFF)";
    case DataType::Float32: return "a floating-point number such as 1.5 or -2e-3";
    case DataType::FixPt16: return "a decimal from 0.00 to 3276.75 with at most two places";
    case DataType::Int32Q16:
        return "a decimal from -32768.00 to 32767.99 with at most two places";
    case DataType::String:
    case DataType::Unknown: break;
    }
    return "a value";
}

// Only host values the servo can hold and return unchanged are taken: the fixed-point
// ranges are narrower than their 32 host bits.
bool parseElement(DataType type, const QString &text, QByteArray &host)
{
    const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(type);
    qint64 v = 0;
    qint32 h = 0;
    switch (type) {
    case DataType::Int8:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::USign8:
    case DataType::USign16:
    case DataType::USign32:
        if (!parseInteger(text, info.hostWidth, info.hostMin, info.hostMax, v))
            return false;
        break;
    case DataType::Float32: {
        bool ok = false;
        const float f = text.trimmed().toFloat(&ok);
        if (!ok)
            return false;
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        v = bits;
        break;
    }
    case DataType::FixPt16:
    case DataType::Int32Q16:
        if (!parseHundredths(text, info.hostMin, info.hostMax, h))
            return false;
        v = h;
        break;
    case DataType::String:
    case DataType::Unknown:
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
    const int width = hostWidth(type);
    QStringList elements;
    for (int at = 0; at + width <= host.size(); at += width) {
        elements.append(formatElement(type, host.constData() + at));
        if (!list)
            break;
    }
    return elements.join(QLatin1String(", "));
}

QJsonValue toJson(DataType type, const QByteArray &host, bool list)
{
    if (type == DataType::String || type == DataType::Unknown)
        return format(type, host, list);
    const int width = hostWidth(type);
    QJsonArray elements;
    for (int at = 0; at + width <= host.size(); at += width)
        elements.append(jsonElement(type, host.constData() + at));
    if (!list)
        return elements.isEmpty() ? QJsonValue() : elements.first();
    return elements;
}

namespace {

bool elementFromJson(DataType type, const QJsonValue &value, QByteArray &host)
{
    const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(type);
    const double number = value.toDouble();
    if (type == DataType::Float32) {
        if (!value.isDouble() && !value.isNull())
            return false;
        const float f = value.isNull() ? std::numeric_limits<float>::quiet_NaN() : float(number);
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        host += toLittleEndian(bits, info.hostWidth);
        return true;
    }
    const bool hundredths = type == DataType::FixPt16 || type == DataType::Int32Q16;
    const double scaled = hundredths ? number * 100.0 : number;
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
        if (!elementFromJson(type, elements.at(i), host)) {
            error = QStringLiteral("%1bad %2 value %3: expected %4")
                        .arg(list ? QStringLiteral("element %1: ").arg(i) : QString(),
                             QLatin1String(LustBus::dataTypeName(type)),
                             jsonText(elements.at(i)), QLatin1String(expectedText(type)));
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
        if (!parseElement(type, part, host)) {
            error = QStringLiteral("bad %1 value \"%2\": expected %3")
                        .arg(QLatin1String(LustBus::dataTypeName(type)), part.trimmed(),
                             QLatin1String(expectedText(type)));
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
    if (type == DataType::String || type == DataType::Unknown)
        return values;
    const int width = hostWidth(type);
    for (int at = 0; at + width <= host.size(); at += width) {
        const quint32 raw = littleEndian(host.constData() + at, width);
        switch (type) {
        case DataType::Int8: values.append(qint8(raw)); break;
        case DataType::Int16: values.append(qint16(raw)); break;
        case DataType::Int32: values.append(qint32(raw)); break;
        case DataType::Float32: values.append(double(toFloat(raw))); break;
        case DataType::FixPt16:
        case DataType::Int32Q16: values.append(qint32(raw) / 100.0); break;
        default: values.append(raw); break;
        }
    }
    return values;
}

QByteArray heldByServo(DataType type, const QByteArray &host)
{
    if (type != DataType::FixPt16 && type != DataType::Int32Q16)
        return host;
    QByteArray held;
    for (int at = 0; at + 4 <= host.size(); at += 4) {
        const QByteArray element = host.mid(at, 4);
        qint32 value = 0;
        if (type == DataType::FixPt16) {
            const QByteArray servo = LustBus::fixPt16ToServo(element); // 16 bits, big-endian
            value = LustBus::fixPt16HostValue(quint32(quint8(servo[0])) << 8 | quint8(servo[1]));
        } else {
            const QByteArray servo = LustBus::int32Q16ToServo(element); // 32 bits, big-endian
            quint32 raw = 0;
            for (char byte : servo)
                raw = raw << 8 | quint8(byte);
            value = LustBus::int32Q16HostValue(qint32(raw));
        }
        held += toLittleEndian(quint32(value), 4);
    }
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
