#include "webjson.h"

#include <QtCore/QJsonDocument>

#include <cmath>

namespace WebJson {

WebBus::Reply error(int status, const QString &text)
{
    return {status, {{QStringLiteral("error"), text}}};
}

bool object(const std::string &body, QJsonObject *object, WebBus::Reply *refusal)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(body.data(), int(body.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *refusal = error(400, QStringLiteral("malformed JSON at byte %1: %2")
                                  .arg(parseError.offset)
                                  .arg(parseError.errorString()));
        return false;
    }
    if (!document.isObject()) {
        *refusal = error(400, QStringLiteral("the body is not a JSON object"));
        return false;
    }
    *object = document.object();
    return true;
}

bool station(const QJsonObject &object, const WebBus &bus, int *station, WebBus::Reply *refusal)
{
    const QJsonValue value = object.value(QStringLiteral("station"));
    if (value.isUndefined()) {
        *station = bus.settings().stations.value(0);
        return true;
    }
    const double number = value.toDouble(-1);
    if (!value.isDouble() || std::floor(number) != number || number < 0 || number > 63) {
        *refusal = error(400, QStringLiteral("\"station\" must be a whole number from 0 to 63"));
        return false;
    }
    if (!bus.hasStation(int(number))) {
        *refusal = error(404, QStringLiteral("station %1 is not served here").arg(number));
        return false;
    }
    *station = int(number);
    return true;
}

bool text(const QJsonObject &object, const char *field, QString *value, WebBus::Reply *refusal)
{
    const QJsonValue json = object.value(QLatin1String(field));
    if (!json.isString()) {
        *refusal = error(400, QStringLiteral("\"%1\" must be a text").arg(QLatin1String(field)));
        return false;
    }
    *value = json.toString();
    return true;
}

bool names(const QJsonObject &object, const char *field, int max, QStringList *names,
           WebBus::Reply *refusal)
{
    const QJsonValue json = object.value(QLatin1String(field));
    bool good = json.isArray();
    for (const QJsonValue &name : json.toArray())
        good = good && name.isString();
    if (!good) {
        *refusal = error(400, QStringLiteral("\"%1\" must be a list of parameter names")
                                  .arg(QLatin1String(field)));
        return false;
    }
    if (json.toArray().size() > max) {
        *refusal = error(400, QStringLiteral("\"%1\" names at most %2 parameters")
                                  .arg(QLatin1String(field))
                                  .arg(max));
        return false;
    }
    names->clear();
    for (const QJsonValue &name : json.toArray())
        names->append(name.toString());
    return true;
}

bool entries(const WebBus &bus, const QStringList &names, QList<LustBus::CatalogueEntry> *entries,
             WebBus::Reply *refusal)
{
    for (const QString &name : names) {
        LustBus::CatalogueEntry entry;
        QString why;
        if (!bus.resolve(name, &entry, &why)) {
            *refusal = error(name.contains(QLatin1Char(':')) ? 400 : 404, why);
            return false;
        }
        entries->append(entry);
    }
    return true;
}

} // namespace WebJson
