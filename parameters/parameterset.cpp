#include "parameterset.h"

#include "valuetext.h"
#include "wirecodec.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QSet>
#include <QtCore/QStringList>

#include <cmath>

using LustBus::DataType;

namespace {

const char Format[] = "lustbus parameter set";
constexpr int FormatVersion = 1;

bool valueFromJson(const QJsonObject &object, ParameterSet::Value *value, QString *why)
{
    static const QStringList keys{QStringLiteral("name"),     QStringLiteral("number"),
                                  QStringLiteral("type"),     QStringLiteral("elements"),
                                  QStringLiteral("unit"),     QStringLiteral("value"),
                                  QStringLiteral("error")};
    value->name = object.value(QStringLiteral("name")).toString();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!keys.contains(it.key())) {
            *why = QStringLiteral("unknown key \"%1\" (known: %2)")
                       .arg(it.key(), keys.join(QLatin1String(", ")));
            return false;
        }
    }
    if (!LustBus::Catalogue::isName(value->name)) {
        *why = QStringLiteral("no \"name\" of letters, digits and _");
        return false;
    }
    if (!LustBus::Catalogue::isWholeNumber(object.value(QStringLiteral("number")), 0, 65535)) {
        *why = QStringLiteral("\"number\" is not a whole number from 0 to 65535");
        return false;
    }
    value->number = quint16(object.value(QStringLiteral("number")).toInt());
    const QString typeName = object.value(QStringLiteral("type")).toString();
    value->type = LustBus::dataTypeFromName(typeName);
    if (value->type == DataType::Unknown) {
        *why = QStringLiteral("\"type\" \"%1\" is not a data type").arg(typeName);
        return false;
    }
    const QJsonValue elements = object.value(QStringLiteral("elements"));
    if (!elements.isUndefined()) {
        if (value->type == DataType::String || !LustBus::Catalogue::isWholeNumber(elements, 1, 65535)) {
            *why = QStringLiteral("\"elements\" is not a whole number from 1 to 65535 (and a "
                                  "STRING has none)");
            return false;
        }
        value->elements = elements.toInt();
    }
    const QJsonValue unit = object.value(QStringLiteral("unit"));
    if (!unit.isUndefined() && !unit.isString()) {
        *why = QStringLiteral("\"unit\" is not a string");
        return false;
    }
    value->unit = unit.toString();
    const QJsonValue json = object.value(QStringLiteral("value"));
    const QJsonValue error = object.value(QStringLiteral("error"));
    if (json.isUndefined() == error.isUndefined() || (!error.isUndefined() && !error.isString())) {
        *why = QStringLiteral("needs either a \"value\" or an \"error\" text");
        return false;
    }
    value->error = error.toString();
    if (json.isUndefined())
        return true;
    QString bad;
    if (!ValueText::fromJson(value->type, json, value->isArray(), value->host, bad)) {
        *why = QStringLiteral("\"value\": ") + bad;
        return false;
    }
    const int width = LustBus::dataTypeInfo(value->type).hostWidth;
    if (value->isArray() && value->host.size() != value->elements * width) {
        *why = QStringLiteral("\"value\" has %1 elements, \"elements\" says %2")
                   .arg(value->host.size() / width)
                   .arg(value->elements);
        return false;
    }
    return true;
}

} // namespace

bool ParameterSet::Value::matches(const LustBus::CatalogueEntry &entry) const
{
    return number == entry.number && type == entry.type && elements == entry.elements;
}

QString ParameterSet::Value::text(const QByteArray &other) const
{
    const QString value = ValueText::format(type, other, isArray());
    if (type == DataType::String)
        return QLatin1Char('"') + value + QLatin1Char('"');
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

QJsonObject ParameterSet::Value::toJson() const
{
    QJsonObject object{{QStringLiteral("name"), name},
                       {QStringLiteral("number"), number},
                       {QStringLiteral("type"), QLatin1String(LustBus::dataTypeName(type))}};
    if (isArray())
        object.insert(QStringLiteral("elements"), elements);
    if (!unit.isEmpty())
        object.insert(QStringLiteral("unit"), unit);
    if (error.isEmpty())
        object.insert(QStringLiteral("value"), ValueText::toJson(type, host, isArray()));
    else
        object.insert(QStringLiteral("error"), error);
    return object;
}

ParameterSet::Value ParameterSet::describe(const LustBus::CatalogueEntry &entry)
{
    Value value;
    value.name = entry.name;
    value.number = entry.number;
    value.type = entry.type;
    value.elements = entry.elements;
    value.unit = entry.unit;
    return value;
}

bool ParameterSet::load(const QString &path, ParameterSet *set, QString *error)
{
    const QString source = QStringLiteral("parameter set \"%1\"").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(source, file.errorString());
        return false;
    }
    if (!fromJson(file.readAll(), source, set, error))
        return false;
    set->path = path;
    return true;
}

bool ParameterSet::fromJson(const QByteArray &json, const QString &source, ParameterSet *set,
                            QString *error)
{
    auto refuse = [&](const QString &why) {
        *error = QStringLiteral("%1: %2").arg(source, why);
        return false;
    };
    QJsonParseError parseError;
    const QJsonObject root = QJsonDocument::fromJson(json, &parseError).object();
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not JSON: %1 at offset %2")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (root.value(QStringLiteral("format")) != QJsonValue(QLatin1String(Format)))
        return refuse(QStringLiteral("not a parameter set (no \"format\": \"%1\")")
                          .arg(QLatin1String(Format)));
    if (root.value(QStringLiteral("version")) != QJsonValue(FormatVersion))
        return refuse(QStringLiteral("\"version\" is not %1, the one this lustbus reads")
                          .arg(FormatVersion));
    static const QStringList keys{
        QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("drive"),
        QStringLiteral("catalogue"), QStringLiteral("catalogueSha256"), QStringLiteral("station"),
        QStringLiteral("link"), QStringLiteral("time"), QStringLiteral("complete"),
        QStringLiteral("parameters"), QStringLiteral("identity"), QStringLiteral("error"),
        QStringLiteral("exit")};
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (!keys.contains(it.key()))
            return refuse(QStringLiteral("unknown key \"%1\"").arg(it.key()));
    }
    ParameterSet parsed;
    for (const auto &[key, field] :
         {std::pair{"drive", &parsed.drive}, {"catalogue", &parsed.catalogue},
          {"catalogueSha256", &parsed.catalogueSha256}, {"link", &parsed.link},
          {"time", &parsed.time}}) {
        const QJsonValue text = root.value(QLatin1String(key));
        if (!text.isString())
            return refuse(QStringLiteral("\"%1\" is not a string").arg(QLatin1String(key)));
        *field = text.toString();
    }
    if (!LustBus::Catalogue::isWholeNumber(root.value(QStringLiteral("station")),
                                           LustBus::MinStationId, LustBus::MaxStationId))
        return refuse(QStringLiteral("\"station\" is not a station id from %1 to %2")
                          .arg(LustBus::MinStationId)
                          .arg(LustBus::MaxStationId));
    parsed.station = root.value(QStringLiteral("station")).toInt();
    QString badIdentity;
    if (root.contains(QStringLiteral("identity"))
        && !DriveIdentity::fromJson(root.value(QStringLiteral("identity")), &parsed.identity,
                                    &badIdentity))
        return refuse(badIdentity);
    const QJsonValue list = root.value(QStringLiteral("parameters"));
    if (!list.isArray())
        return refuse(QStringLiteral("no \"parameters\" array"));
    const QJsonArray items = list.toArray();
    QSet<QString> names;
    for (int i = 0; i < items.size(); ++i) {
        Value value;
        QString why;
        if (!items.at(i).isObject())
            why = QStringLiteral("not an object");
        else if (valueFromJson(items.at(i).toObject(), &value, &why) && names.contains(value.name))
            why = QStringLiteral("name \"%1\" appears twice").arg(value.name);
        if (!why.isEmpty())
            return refuse(QStringLiteral("entry %1%2: %3")
                              .arg(i)
                              .arg(value.name.isEmpty() ? QString()
                                                        : QStringLiteral(" (\"%1\")").arg(value.name))
                              .arg(why));
        names.insert(value.name);
        parsed.values.append(value);
    }
    *set = parsed;
    return true;
}

QJsonObject ParameterSet::toJson() const
{
    QJsonArray parameters;
    for (const Value &value : values)
        parameters.append(value.toJson());
    QJsonObject object{{QStringLiteral("format"), QLatin1String(Format)},
                       {QStringLiteral("version"), FormatVersion},
                       {QStringLiteral("drive"), drive},
                       {QStringLiteral("catalogue"), catalogue},
                       {QStringLiteral("catalogueSha256"), catalogueSha256},
                       {QStringLiteral("station"), station},
                       {QStringLiteral("link"), link},
                       {QStringLiteral("time"), time},
                       {QStringLiteral("complete"), complete()},
                       {QStringLiteral("parameters"), parameters}};
    if (!identity.isEmpty())
        object.insert(QStringLiteral("identity"), identity.toJson());
    return object;
}

const ParameterSet::Value *ParameterSet::find(const QString &name) const
{
    for (const Value &value : values) {
        if (value.name == name)
            return &value;
    }
    return nullptr;
}

QString ParameterSet::catalogueMismatch(const LustBus::Catalogue &catalogue) const
{
    if (catalogueSha256 == catalogue.sha256)
        return QString();
    return QStringLiteral("%1 was made with catalogue %2 (SHA-256 %3), not with %4 (SHA-256 %5)")
        .arg(path, this->catalogue, catalogueSha256.left(12), catalogue.fileName(),
             catalogue.sha256.left(12));
}

bool ParameterSet::complete() const
{
    for (const Value &value : values) {
        if (!value.error.isEmpty())
            return false;
    }
    return true;
}
