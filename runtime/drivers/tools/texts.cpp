#include "texts.h"

namespace {

bool isNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isDigitOfBase(char c, int base)
{
    if (base == 16)
        return HexDigitValue(c) >= 0;
    return c >= '0' && c < char('0' + base);
}

} // namespace

QByteArray LeadingName(const QByteArray &text)
{
    int end = 0;
    while (end < text.size() && isNameCharacter(text.at(end)))
        ++end;
    return text.left(end);
}

QByteArray LeadingName(const QString &text)
{
    return LeadingName(text.toLatin1());
}

QByteArray LeadingName(const char *text)
{
    return LeadingName(QByteArray(text));
}

int NumberAfterPrefix(const QByteArray &text, int base)
{
    if (base != 10 && base != 16 && base != 8)
        return -1;
    int start = 0;
    while (start < text.size() && !isDigitOfBase(text.at(start), base))
        ++start;
    bool ok = false;
    const int value = text.mid(start).toInt(&ok, base);
    return ok ? value : 0;
}

int NumberAfterPrefix(const QString &text, int base)
{
    return NumberAfterPrefix(text.toLatin1(), base);
}

int NumberAfterPrefix(const char *text, int base)
{
    return NumberAfterPrefix(QByteArray(text), base);
}

quint32 HexToUInt(const char *chars, int length)
{
    if (chars == nullptr || length < 1)
        return 0;
    int end = 0;
    while (end < length && chars[end] != '\0')
        ++end;
    int at = 0;
    if (end >= 2 && chars[0] == '0' && (chars[1] == 'x' || chars[1] == 'X'))
        at = 2;
    if (at == end)
        return 0;
    quint32 value = 0;
    for (; at < end; ++at) {
        const int digit = HexDigitValue(chars[at]);
        if (digit < 0)
            return 0;
        value = (value << 4) | quint32(digit);
    }
    return value;
}

QString DumpBytes(const QByteArray &data)
{
    QString text = QStringLiteral("(");
    for (const char byte : data) {
        // Sign and magnitude: Qt 5 would print a negative number in base 16 as its
        // 64-bit two's complement.
        const int value = qint8(byte);
        text += QLatin1String(value < 0 ? "0X-" : "0X");
        text += QString::number(value < 0 ? -value : value, 16);
        text += QLatin1Char(' ');
    }
    text += QLatin1String(") : ");
    const int zero = data.indexOf('\0');
    text += QString::fromLatin1(zero < 0 ? data : data.left(zero));
    return text;
}
