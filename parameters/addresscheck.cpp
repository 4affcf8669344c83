#include "addresscheck.h"

#include "addresstext.h"
#include "datatypes.h"

#include <QtCore/QStringList>

using LustBus::DataType;

namespace AddressCheck {

namespace {

bool hasBlank(const QString &text)
{
    for (QChar c : text) {
        if (c.isSpace())
            return true;
    }
    return false;
}

// The bit form's last field is PARAM.BIT or INDEX.BIT: the bit number must end the text.
bool bitNumberEndsText(const QString &text)
{
    const QString last = text.section(QLatin1Char(':'), -1);
    QString bit = last.mid(last.indexOf(QLatin1Char('.')) + 1);
    if (bit.startsWith(QLatin1Char('+')) || bit.startsWith(QLatin1Char('-')))
        bit.remove(0, 1);
    if (bit.isEmpty())
        return false;
    for (QChar c : bit) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString message(const QString &text, const QString &cause)
{
    return QStringLiteral("bad address '%1': %2expected TYPE:PARAM, TYPE:PARAM:INDEX, "
                          "TYPE:PARAM.BIT or TYPE:PARAM:INDEX.BIT without blanks, e.g. "
                          "INT16:12, TYPE one of %3 (--raw-address hands a text to the "
                          "driver unchanged)")
        .arg(text, cause.isEmpty() ? QString() : cause + QStringLiteral("; "), typeNames());
}

} // namespace

QString typeNames()
{
    QStringList names;
    for (int type = int(DataType::Int8); type < int(DataType::Unknown); ++type)
        names.append(QLatin1String(LustBus::dataTypeName(DataType(type))));
    return names.join(QLatin1String(", "));
}

QString problem(const QString &text)
{
    if (hasBlank(text))
        return message(text, QStringLiteral("blanks are no part of an address"));
    LustBus::ParameterAddress parts;
    const bool valueForm = LustBus::parseParameterAddress(text, parts);
    const bool bitForm = !valueForm && LustBus::parseBitAddress(text, parts);
    if (!valueForm && !bitForm)
        return message(text, QString());
    if (parts.type == DataType::Unknown)
        return message(text, QStringLiteral("'%1' is no data type")
                                 .arg(text.section(QLatin1Char(':'), 0, 0)));
    if (bitForm && !bitNumberEndsText(text))
        return message(text, QStringLiteral("characters after the bit number %1")
                                 .arg(parts.bit));
    return QString();
}

} // namespace AddressCheck
