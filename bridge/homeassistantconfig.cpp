#include "homeassistantconfig.h"

#include "catalogue.h"
#include "driveidentity.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QRegularExpression>

#include <cfloat>

using LustBus::Catalogue;
using LustBus::CatalogueEntry;
using LustBus::DataType;

namespace {

// The JSON value topic's content: {"value", "unit", "ok": true} or {"ok": false, ...},
// whose value HA takes as unknown ("None") while the read fails.
const char ValueTemplate[] = "{{ value_json.value if value_json.ok else None }}";
// The bridge's statuses say more than online and offline; anything but "online"
// makes the entity unavailable.
const char AvailabilityTemplate[] = "{{ 'online' if value == 'online' else 'offline' }}";

// speed_setpoint: "Speed setpoint".
QString readable(const QString &name)
{
    QString text = name;
    text.replace(QLatin1Char('_'), QLatin1Char(' '));
    text = text.trimmed();
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

QJsonObject availability(const QString &topic)
{
    return {{QStringLiteral("topic"), topic},
            {QStringLiteral("value_template"), QLatin1String(AvailabilityTemplate)},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")}};
}

QString identityText(const QJsonValue &value)
{
    return value.isString() ? value.toString() : CatalogueEntry::numberText(value.toDouble());
}

// What every entity of entry at station has; component and object id apart.
QJsonObject common(const HomeAssistantConfig::Node &node, const CatalogueEntry &entry,
                   int station, const QString &objectId, const QJsonObject &device)
{
    const QString stationBase = QStringLiteral("%1/%2").arg(node.base()).arg(station);
    QJsonObject config{
        {QStringLiteral("unique_id"), node.nodeId() + QLatin1Char('_') + objectId},
        {QStringLiteral("state_topic"), stationBase + QLatin1Char('/') + entry.name},
        {QStringLiteral("value_template"), QLatin1String(ValueTemplate)},
        {QStringLiteral("availability"),
         QJsonArray{availability(node.base() + QStringLiteral("/status")),
                    availability(stationBase + QStringLiteral("/status"))}},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("lustbus")},
                     {QStringLiteral("sw_version"), node.version}}}};
    if (entry.identity)
        config.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    return config;
}

// The range a "number" offers: the catalogue's, else the type's, in the servo's units.
void numberRange(const CatalogueEntry &entry, QJsonObject *config)
{
    const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(entry.type);
    const bool isFloat = entry.type == DataType::Float32;
    const double min = isFloat ? -double(FLT_MAX) : double(info.hostMin) / double(info.hostPerUnit);
    const double max = isFloat ? double(FLT_MAX) : double(info.hostMax) / double(info.hostPerUnit);
    // HA takes no step below 0.001; a scaled type is read in hundredths or coarser.
    const double step = isFloat ? 0.001
                        : info.isScaled()
                            ? qMax(1.0 / double(info.rawPerUnit), 1.0 / double(info.hostPerUnit))
                            : 1.0;
    config->insert(QStringLiteral("min"), entry.min.value_or(min));
    config->insert(QStringLiteral("max"), entry.max.value_or(max));
    config->insert(QStringLiteral("step"), step);
    config->insert(QStringLiteral("mode"), QStringLiteral("box"));
}

QString componentOf(const HomeAssistantConfig::Node &node, const CatalogueEntry &entry)
{
    const bool writable = node.allowWrites && !entry.readOnly;
    return writable && entry.type != DataType::String ? QStringLiteral("number")
                                                      : QStringLiteral("sensor");
}

QString bitComponentOf(const HomeAssistantConfig::Node &node, const CatalogueEntry &entry)
{
    return node.allowWrites && !entry.readOnly ? QStringLiteral("switch")
                                               : QStringLiteral("binary_sensor");
}

QString configTopic(const HomeAssistantConfig::Node &node, const QString &component,
                    const QString &objectId)
{
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(node.discoveryPrefix, component, node.nodeId(), objectId);
}

QString objectIdOf(const CatalogueEntry &entry, int station, const QString &bit = QString())
{
    const QString id = QStringLiteral("%1_%2").arg(station).arg(entry.name);
    return bit.isEmpty() ? id : id + QLatin1Char('_') + bit;
}

HomeAssistantConfig::Config parameterConfig(const HomeAssistantConfig::Node &node,
                                            const CatalogueEntry &entry, int station,
                                            const QJsonObject &device)
{
    const QString component = componentOf(node, entry);
    const QString objectId = objectIdOf(entry, station);
    QJsonObject config = common(node, entry, station, objectId, device);
    config.insert(QStringLiteral("name"), readable(entry.name));
    if (!entry.unit.isEmpty())
        config.insert(QStringLiteral("unit_of_measurement"), entry.unit);
    if (!entry.deviceClass.isEmpty())
        config.insert(QStringLiteral("device_class"), entry.deviceClass);
    if (component == QLatin1String("number")) {
        config.insert(QStringLiteral("command_topic"),
                      config.value(QStringLiteral("state_topic")).toString()
                          + QStringLiteral("/set"));
        numberRange(entry, &config);
    } else if (entry.type != DataType::String) {
        config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
    }
    return {configTopic(node, component, objectId), config};
}

HomeAssistantConfig::Config bitConfig(const HomeAssistantConfig::Node &node,
                                      const CatalogueEntry &entry, const CatalogueEntry::Bit &bit,
                                      int station, const QJsonObject &device)
{
    const QString component = bitComponentOf(node, entry);
    const QString objectId = objectIdOf(entry, station, bit.name);
    QJsonObject config = common(node, entry, station, objectId, device);
    config.insert(QStringLiteral("name"), readable(entry.name + QLatin1Char(' ') + bit.name));
    // Python's integers: a negative value's bits are its two's complement.
    config.insert(QStringLiteral("value_template"),
                  QStringLiteral("{{ (1 if value_json.value | int | bitwise_and(%1) else 0) "
                                 "if value_json.ok else None }}")
                      .arg(quint64(1) << bit.index));
    config.insert(QStringLiteral("payload_on"), QStringLiteral("1"));
    config.insert(QStringLiteral("payload_off"), QStringLiteral("0"));
    if (component == QLatin1String("switch")) {
        config.insert(QStringLiteral("state_on"), QStringLiteral("1"));
        config.insert(QStringLiteral("state_off"), QStringLiteral("0"));
        config.insert(QStringLiteral("command_topic"),
                      QStringLiteral("%1/%2/%3/%4/set")
                          .arg(node.base()).arg(station).arg(entry.name, bit.name));
    }
    return {configTopic(node, component, objectId), config};
}

} // namespace

QString HomeAssistantConfig::Node::nodeId() const
{
    static const QRegularExpression other(QStringLiteral("[^a-zA-Z0-9_-]"));
    return QString(prefix + QLatin1Char('_') + bus).replace(other, QStringLiteral("_"));
}

QJsonObject HomeAssistantConfig::device(const Node &node, const Catalogue &catalogue, int station,
                                        const DriveIdentity &identity)
{
    QString id = QStringLiteral("%1_%2").arg(node.nodeId()).arg(station);
    const QJsonObject values = identity.toJson();
    if (!values.isEmpty()) {
        const QByteArray text = QJsonDocument(values).toJson(QJsonDocument::Compact);
        id += QLatin1Char('_')
              + QString::fromLatin1(
                  QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().left(12));
    }
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{id}},
        {QStringLiteral("name"), QStringLiteral("%1 station %2").arg(node.bus).arg(station)},
        {QStringLiteral("manufacturer"), QStringLiteral("LUST")},
        {QStringLiteral("model"),
         catalogue.drive.isEmpty() ? QStringLiteral("LustBus drive") : catalogue.drive}};
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString name = it.key().toLower();
        if (name.contains(QLatin1String("firmware")) || name.contains(QLatin1String("version")))
            device.insert(QStringLiteral("sw_version"), identityText(it.value()));
        else if (name.contains(QLatin1String("serial")))
            device.insert(QStringLiteral("serial_number"), identityText(it.value()));
    }
    return device;
}

QList<HomeAssistantConfig::Config> HomeAssistantConfig::configs(const Node &node,
                                                                const CatalogueEntry &entry,
                                                                int station,
                                                                const QJsonObject &device)
{
    if (entry.isArray())
        return {};
    QList<Config> list{parameterConfig(node, entry, station, device)};
    for (const CatalogueEntry::Bit &bit : entry.bits)
        list.append(bitConfig(node, entry, bit, station, device));
    return list;
}

QStringList HomeAssistantConfig::topics(const Node &node, const CatalogueEntry &entry, int station)
{
    QStringList list;
    for (const Config &config : configs(node, entry, station, QJsonObject()))
        list.append(config.topic);
    return list;
}
