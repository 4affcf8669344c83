// Home Assistant MQTT discovery beside the bridge's JSON topics, on the bridge's own
// connection (see HomeAssistantConfig for the configs):
//
// - a station's configs go out, retained, once its drive is identified (with a
//   catalogue that identifies nothing: once it first answers), again after every
//   connect to the broker, and again when PREFIX/status says "online" (HA says so,
//   without retain, when it starts; a retained "online" is left alone, the configs
//   having gone out at connecting);
// - at connect it subscribes to its node's configs (PREFIX/+/NODE_ID/+/config) and
//   empties (retained, empty payload) each one this run does not publish: a parameter
//   no longer polled, a station taken off, a number that is a sensor now;
// - a switch's PREFIX/BUS/STATION/NAME/BIT/set ("1" or "0") is asked of the bridge as
//   a bit write, with the checks of any set message; its result goes to
//   .../NAME/BIT/result. A number writes through .../NAME/set, the bridge's own.
#ifndef LUSTBUS_HOMEASSISTANTDISCOVERY_H
#define LUSTBUS_HOMEASSISTANTDISCOVERY_H

#include "bridgeconvention.h"
#include "homeassistantconfig.h"

#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QSet>
#include <QtCore/QStringList>

#include <functional>

class Bridge;
class MqttClient;

class HomeAssistantDiscovery : public BridgeConvention
{
public:
    // Configs under discoveryPrefix for bridge's parameters, published on client.
    HomeAssistantDiscovery(Bridge &bridge, MqttClient &client, const QString &discoveryPrefix,
                           const QString &version);

    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

    void connected() override;
    bool takeMessage(const QString &topic, const QByteArray &payload, bool retained) override;
    void stationStatusChanged(int station, const QByteArray &status) override;
    void identityRead(int station, const DriveIdentity &identity) override;
    void writeSettled(const WriteRequest &request, const QJsonObject &result) override;

private:
    void announce(int station);
    void announceAll();
    // A switch's set message; false when topic is none.
    bool takeBitWrite(const QString &topic, const QByteArray &payload, bool retained);
    void publishResult(const QString &topic, QJsonObject result);
    void log(const QString &line) const;

    Bridge &m_bridge;
    MqttClient &m_client;
    HomeAssistantConfig::Node m_node;
    QList<const LustBus::CatalogueEntry *> m_polled; //!< each once, in the polling order
    QSet<QString> m_topics;    //!< every config topic this run publishes
    QSet<QString> m_emptied;   //!< configs of an earlier run emptied since the last connect
    QHash<int, QJsonObject> m_devices; //!< the stations announced, with their device
    QHash<quint64, QString> m_resultTopics; //!< of the bit writes waiting, by tag
    quint64 m_nextTag = 0;
    bool m_identifies = false; //!< the catalogue identifies drives
    std::function<void(const QString &)> m_log;
};

#endif // LUSTBUS_HOMEASSISTANTDISCOVERY_H
