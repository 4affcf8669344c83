#include "addresstext.h"

#include <QtCore/QStringList>

#include <cctype>
#include <limits>

namespace LustBus {

namespace {

bool toNumber(const QString &part, int &number)
{
    bool ok = false;
    number = part.toInt(&ok, 10);
    return ok;
}

// One "%d" of sscanf: blanks, a sign, at least one digit. Out-of-range numbers keep
// their low 32 bits, as the C library does on LP64 platforms, without overflowing.
bool scanInteger(const char *&text, int &number)
{
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    quint64 magnitude = 0;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max());
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        magnitude = qMin(limit, magnitude * 10 + quint64(*p - '0'));
    const quint64 value = negative ? 0 - magnitude : magnitude;
    number = int(qint32(quint32(value & 0xFFFFFFFFu)));
    text = p;
    return true;
}

// "%d.%d"
bool scanNumberDotNumber(const QString &part, int &first, int &second)
{
    const QByteArray bytes = part.toLatin1();
    const char *p = bytes.constData();
    if (!scanInteger(p, first) || *p != '.')
        return false;
    ++p;
    return scanInteger(p, second);
}

} // namespace

bool parseParameterAddress(const QString &text, ParameterAddress &address)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 4)
        return false;
    address = ParameterAddress();
    address.type = parts[0];
    if (!toNumber(parts[1], address.parameter))
        return false;
    if (parts.size() >= 3 && !toNumber(parts[2], address.index))
        return false;
    int extra = -1;
    if (parts.size() == 4 && !toNumber(parts[3], extra))
        return false;
    return true;
}

bool parseBitAddress(const QString &text, ParameterAddress &address)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    address = ParameterAddress();
    if (parts.size() == 2) {
        address.type = parts[0];
        return scanNumberDotNumber(parts[1], address.parameter, address.bit);
    }
    if (parts.size() == 3) {
        address.type = parts[0];
        return toNumber(parts[1], address.parameter)
            && scanNumberDotNumber(parts[2], address.index, address.bit);
    }
    return false;
}

} // namespace LustBus
