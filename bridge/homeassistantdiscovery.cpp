#include "homeassistantdiscovery.h"

#include "bridge.h"
#include "driveidentity.h"
#include "mqttclient.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonDocument>

using LustBus::CatalogueEntry;

HomeAssistantDiscovery::HomeAssistantDiscovery(Bridge &bridge, MqttClient &client,
                                               const QString &discoveryPrefix,
                                               const QString &version)
    : m_bridge(bridge), m_client(client),
      m_identifies(!DriveIdentity::entries(bridge.catalogue()).isEmpty())
{
    const Bridge::Settings &settings = bridge.settings();
    m_node.discoveryPrefix = discoveryPrefix;
    m_node.prefix = settings.prefix;
    m_node.bus = settings.bus;
    m_node.allowWrites = settings.allowWrites;
    m_node.version = version;
    for (const Bridge::PollGroup &group : settings.groups) {
        for (const QString &name : group.names) {
            const CatalogueEntry *entry = bridge.catalogue().find(name);
            if (entry && !m_polled.contains(entry))
                m_polled.append(entry);
        }
    }
    for (int station : settings.stations) {
        for (const CatalogueEntry *entry : qAsConst(m_polled)) {
            for (const QString &topic : HomeAssistantConfig::topics(m_node, *entry, station))
                m_topics.insert(topic);
        }
    }
}

void HomeAssistantDiscovery::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

void HomeAssistantDiscovery::connected()
{
    m_emptied.clear();
    m_client.subscribe(m_node.discoveryPrefix + QStringLiteral("/status"), 1);
    // The retained configs of this node, from this run or an earlier one.
    m_client.subscribe(QStringLiteral("%1/+/%2/+/config").arg(m_node.discoveryPrefix, m_node.nodeId()),
                       1);
    if (m_node.allowWrites)
        m_client.subscribe(m_node.base() + QStringLiteral("/+/+/+/set"), m_bridge.settings().qos);
    announceAll();
}

bool HomeAssistantDiscovery::takeMessage(const QString &topic, const QByteArray &payload,
                                         bool retained)
{
    if (topic == m_node.discoveryPrefix + QStringLiteral("/status")) {
        if (payload == "online" && !retained) {
            log(QStringLiteral("Home Assistant is online: discovery configs sent again"));
            announceAll();
        }
        return true;
    }
    const QString configs = m_node.discoveryPrefix + QLatin1Char('/');
    const QStringList levels = topic.mid(configs.size()).split(QLatin1Char('/'));
    if (topic.startsWith(configs) && levels.size() == 4 && levels.at(1) == m_node.nodeId()
        && levels.at(3) == QLatin1String("config")) {
        // One this run publishes, or one it emptied already, is left as it is.
        if (payload.isEmpty() || m_topics.contains(topic) || m_emptied.contains(topic))
            return true;
        m_emptied.insert(topic);
        m_client.publish(topic, QByteArray(), 1, true);
        log(QStringLiteral("discovery config %1 emptied: this bridge no longer publishes it")
                .arg(topic));
        return true;
    }
    return takeBitWrite(topic, payload, retained);
}

bool HomeAssistantDiscovery::takeBitWrite(const QString &topic, const QByteArray &payload,
                                          bool retained)
{
    // PREFIX/BUS/STATION/NAME/BIT/set
    const QString base = m_node.base() + QLatin1Char('/');
    const QStringList levels = topic.mid(base.size()).split(QLatin1Char('/'));
    if (!topic.startsWith(base) || levels.size() != 4 || levels.at(3) != QLatin1String("set"))
        return false;
    const QString resultTopic = topic.chopped(4) + QStringLiteral("/result");
    const CatalogueEntry *entry = m_bridge.catalogue().find(levels.at(1));
    int bit = -1;
    for (const CatalogueEntry::Bit &named : entry ? entry->bits : QVector<CatalogueEntry::Bit>()) {
        if (named.name == levels.at(2))
            bit = named.index;
    }
    if (bit < 0) {
        const QString error = QStringLiteral("no bit '%1' of '%2' in %3")
                                  .arg(levels.at(2), levels.at(1),
                                       m_bridge.catalogue().fileName());
        log(QStringLiteral("write %1/%2/%3 refused: %4")
                .arg(levels.at(0), levels.at(1), levels.at(2), error));
        publishResult(resultTopic, {{QStringLiteral("ok"), false},
                                    {QStringLiteral("outcome"), QStringLiteral("refused")},
                                    {QStringLiteral("error"), error}});
        return true;
    }
    // The station level is checked by the bridge, as a set message's is.
    WriteRequest request;
    bool ok = false;
    request.station = levels.at(0).toInt(&ok);
    if (!ok || levels.at(0) != QString::number(request.station))
        request.station = -1;
    request.name = entry->name;
    request.payload = payload;
    request.retained = retained;
    request.bit = bit;
    request.tag = ++m_nextTag;
    m_resultTopics.insert(request.tag, resultTopic);
    m_bridge.requestWrite(request, this);
    return true;
}

void HomeAssistantDiscovery::writeSettled(const WriteRequest &request, const QJsonObject &result)
{
    publishResult(m_resultTopics.take(request.tag), result);
}

void HomeAssistantDiscovery::publishResult(const QString &topic, QJsonObject result)
{
    result.insert(QStringLiteral("ts"),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    m_client.publish(topic, QJsonDocument(result).toJson(QJsonDocument::Compact),
                     m_bridge.settings().qos, false);
}

void HomeAssistantDiscovery::stationStatusChanged(int station, const QByteArray &status)
{
    // Without identity entries the first answer is all that is known of the drive.
    if (!m_identifies && status == "online" && !m_devices.contains(station)) {
        m_devices.insert(station, HomeAssistantConfig::device(m_node, m_bridge.catalogue(),
                                                              station, DriveIdentity()));
        announce(station);
    }
}

void HomeAssistantDiscovery::identityRead(int station, const DriveIdentity &identity)
{
    m_devices.insert(station,
                     HomeAssistantConfig::device(m_node, m_bridge.catalogue(), station, identity));
    announce(station);
}

void HomeAssistantDiscovery::announceAll()
{
    for (int station : m_bridge.settings().stations) {
        if (m_devices.contains(station))
            announce(station);
    }
}

void HomeAssistantDiscovery::announce(int station)
{
    // Before the bridge took the connection up they wait for connected(), which sends
    // them all: the client's own flag turns earlier, and would send them twice.
    if (!m_bridge.isConnected())
        return;
    const QJsonObject device = m_devices.value(station);
    for (const CatalogueEntry *entry : qAsConst(m_polled)) {
        for (const HomeAssistantConfig::Config &config :
             HomeAssistantConfig::configs(m_node, *entry, station, device))
            m_client.publish(config.topic,
                             QJsonDocument(config.payload).toJson(QJsonDocument::Compact), 1, true);
    }
}
