#include "addresstext.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace LustBus {

namespace {

// The ':'-separated fields of an address text as views into it, so that decoding an
// address allocates nothing. count is the true number of fields,
// also when only the first MaxFields are kept.
struct Fields
{
    static constexpr int MaxFields = 4;
    QStringView field[MaxFields];
    int count = 0;
};

Fields splitFields(QStringView text)
{
    Fields fields;
    qsizetype start = 0;
    for (;;) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
        const qsizetype end = colon < 0 ? text.size() : colon;
        if (fields.count < Fields::MaxFields)
            fields.field[fields.count] = text.mid(start, end - start);
        ++fields.count;
        if (colon < 0)
            return fields;
        start = colon + 1;
    }
}

// Characters as the C library's isspace and isdigit see them in the "C" locale; every
// character beyond ASCII is neither.
bool isAsciiSpace(QChar c)
{
    return c.unicode() < 0x80 && std::isspace(c.unicode());
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Decimal as QString::toInt reads it. Up to nine plain digits, the usual case, always
// fit and are converted here; Qt 5's QStringView::toInt would copy the text first.
// Anything else (signs, blanks, long numbers) goes to Qt.
bool toNumber(QStringView part, int &number)
{
    constexpr int MaxPlainDigits = 9;
    if (!part.isEmpty() && part.size() <= MaxPlainDigits
        && std::all_of(part.begin(), part.end(), isAsciiDigit)) {
        number = 0;
        for (QChar c : part)
            number = number * 10 + (c.unicode() - '0');
        return true;
    }
    bool ok = false;
    number = part.toInt(&ok, 10);
    return ok;
}

// One "%d" of sscanf from position at: blanks, a sign, at least one digit. Out-of-range
// numbers keep their low 32 bits, as the C library does on LP64 platforms, without
// overflowing.
bool scanInteger(QStringView text, qsizetype &at, int &number)
{
    qsizetype p = at;
    while (p < text.size() && isAsciiSpace(text[p]))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == QLatin1Char('+') || text[p] == QLatin1Char('-')))
        negative = text[p++] == QLatin1Char('-');
    if (p >= text.size() || !isAsciiDigit(text[p]))
        return false;
    quint64 magnitude = 0;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max());
    for (; p < text.size() && isAsciiDigit(text[p]); ++p)
        magnitude = qMin(limit, magnitude * 10 + quint64(text[p].unicode() - '0'));
    const quint64 value = negative ? 0 - magnitude : magnitude;
    number = int(qint32(quint32(value & 0xFFFFFFFFu)));
    at = p;
    return true;
}

// "%d.%d"
bool scanNumberDotNumber(QStringView part, int &first, int &second)
{
    qsizetype at = 0;
    if (!scanInteger(part, at, first) || at >= part.size() || part[at] != QLatin1Char('.'))
        return false;
    ++at;
    return scanInteger(part, at, second);
}

} // namespace

bool parseParameterAddress(const QString &text, ParameterAddress &address)
{
    const Fields parts = splitFields(text);
    if (parts.count < 2 || parts.count > 4)
        return false;
    address = ParameterAddress();
    address.type = dataTypeFromName(parts.field[0]);
    if (!toNumber(parts.field[1], address.parameter))
        return false;
    if (parts.count >= 3 && !toNumber(parts.field[2], address.index))
        return false;
    int extra = -1;
    if (parts.count == 4 && !toNumber(parts.field[3], extra))
        return false;
    return true;
}

bool parseBitAddress(const QString &text, ParameterAddress &address)
{
    const Fields parts = splitFields(text);
    address = ParameterAddress();
    if (parts.count == 2) {
        address.type = dataTypeFromName(parts.field[0]);
        return scanNumberDotNumber(parts.field[1], address.parameter, address.bit);
    }
    if (parts.count == 3) {
        address.type = dataTypeFromName(parts.field[0]);
        return toNumber(parts.field[1], address.parameter)
            && scanNumberDotNumber(parts.field[2], address.index, address.bit);
    }
    return false;
}

} // namespace LustBus
