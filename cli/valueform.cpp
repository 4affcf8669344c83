#include "valueform.h"

#include "valuetext.h"

using LustBus::DataType;

namespace ValueForm {

QString valueText(const RequestAddress &address, const QByteArray &host)
{
    if (address.bitForm)
        return ValueText::formatBits(host, int(address.count));
    return ValueText::format(address.type, host, address.isList());
}

QString shownText(const RequestAddress &address, const QByteArray &host, bool hex, bool *asHex)
{
    const bool whole = address.bitForm || ValueText::isWholeElements(address.type, host);
    if (asHex)
        *asHex = hex || !whole;
    if (hex || !whole)
        return ValueText::toHex(host);
    return valueText(address, host);
}

void insertJsonValue(const RequestAddress &address, const QByteArray &host, QJsonObject *object)
{
    object->insert(QStringLiteral("hex"), ValueText::toHex(host));
    if (address.bitForm)
        object->insert(QStringLiteral("value"), valueText(address, host));
    else if (ValueText::isWholeElements(address.type, host))
        object->insert(QStringLiteral("value"),
                       ValueText::toJson(address.type, host, address.isList()));
}

bool isReadable(const RequestAddress &address, bool hex, QString *error)
{
    if (address.type != DataType::String || address.hasIndex() || address.bitForm || hex)
        return true;
    *error = QStringLiteral("'%1': a STRING parameter is read as text only through an address "
                            "with an element index, such as %1:0 (--hex shows what the simple "
                            "read returns)")
                 .arg(address.text);
    return false;
}

bool hostData(const RequestAddress &address, const QString &value, bool hex,
              QByteArray *host, int *bits, QString *error)
{
    *bits = 0;
    if (hex) {
        if (!ValueText::fromHex(value, *host, *error) || !address.takesHexBytes(host->size(), error))
            return false;
        *bits = host->size() * 8;
        if (address.bitForm && address.countGiven) {
            if (address.count > quint64(*bits)) {
                *error = QStringLiteral("--count %1: the hex value holds only %2 bits")
                             .arg(address.count)
                             .arg(*bits);
                return false;
            }
            *bits = int(address.count);
        }
        return true;
    }
    if (address.bitForm)
        return ValueText::parseBits(value, *host, *bits, *error);
    return ValueText::parse(address.type, value, address.hasIndex(), *host, *error);
}

} // namespace ValueForm
