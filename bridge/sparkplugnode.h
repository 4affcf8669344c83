// The bridge's bus as a Sparkplug B edge node, on a connection of its own beside the
// JSON topics (MQTT gives one will per connection: the JSON connection keeps its
// "offline", this one registers NDEATH):
//
//   spBv1.0/GROUP/NBIRTH|NDATA|NDEATH/EDGE          the bus: bdSeq, "Node Control/
//                                                   Rebirth", "Bus/State" and the link's
//                                                   counters ("Bus/Requests", ...)
//   spBv1.0/GROUP/DBIRTH|DDATA|DDEATH/EDGE/DEVICE   a station: one metric per polled
//                                                   catalogue parameter
//   spBv1.0/GROUP/NCMD/EDGE, .../DCMD/EDGE/DEVICE   a rebirth; writes
//
// Each MQTT session has its own bdSeq, in its will and its NBIRTH, taken from the
// state file (SparkplugState) before it connects. A station's DBIRTH goes out once
// each of its metrics was read (a parameter that could not be read is born null),
// DDATA by exception with aliases, gathered per station until another station's value
// or the event loop comes; a read that fails changes nothing. A station that goes
// silent, or a lost bus, gets its DDEATH, and a DBIRTH once its values were read
// again. The node's counters go out as NDATA every stats interval when they changed,
// "Bus/State" when it changes. With a primary host, births and data go out only while
// its STATE says online, and a rebirth when it comes back. A DCMD's metrics are
// writes asked of the bridge, with the same checks as a set message; the value read
// back comes as DDATA.
#ifndef LUSTBUS_SPARKPLUGNODE_H
#define LUSTBUS_SPARKPLUGNODE_H

#include "bridgeconvention.h"
#include "mqttclient.h"
#include "sparkplugmetrics.h"
#include "sparkplugstate.h"

#include <QtCore/QHash>
#include <QtCore/QJsonValue>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QSet>
#include <QtCore/QTimer>

#include <atomic>
#include <functional>

class Bridge;

class SparkplugNode : public QObject, public BridgeConvention
{
    Q_OBJECT
public:
    struct Settings
    {
        QString group;
        QString edgeNode;
        QMap<int, QString> devices; //!< DEVICE_ID by station; else the station's number
        QString stateFile;          //!< empty: SparkplugState::defaultFileName()
        QString primaryHost;        //!< empty: births without waiting for a host
    };

    // "GROUP/EDGE_NODE" of --sparkplug; false with the cause.
    static bool parseNode(const QString &text, Settings *settings, QString *error);
    // "STATION=NAME" of --sparkplug-device; false with the cause.
    static bool parseDevice(const QString &text, Settings *settings, QString *error);
    // A Sparkplug id: UTF-8 text without '+', '#' or '/'.
    static bool checkId(const QString &id, QString *error);

    SparkplugNode(Bridge &bridge, MqttClient &client, const Settings &settings,
                  QObject *parent = nullptr);

    // Takes the first session's bdSeq from the state file and connects with the
    // broker and login of mqtt; false with the cause (the state file, the client).
    bool start(MqttClient::Settings mqtt, QString *error);
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

    QString nodeTopic(const char *type) const;
    QString deviceTopic(const char *type, int station) const;
    QString stateFile() const { return m_state.fileName(); }
    int bdSeq() const { return m_bdSeq.load(); }

    void takeIncoming() override;
    void busStatusChanged(const QByteArray &status) override;
    void stationStatusChanged(int station, const QByteArray &status) override;
    void valueRead(int station, const LustBus::CatalogueEntry &entry,
                   const QJsonObject &content) override;
    void writeSettled(const WriteRequest &request, const QJsonObject &result) override;
    // NDEATH, then a clean disconnect.
    void stop() override;

signals:
    // On the network thread: the next session's bdSeq could not be written.
    void stateProblem(const QString &text);

private:
    using Payload = SparkplugMetrics::Payload;
    struct Device
    {
        QHash<QString, QJsonValue> values; //!< by name: the last value read, null without
        QSet<QString> read; //!< the names read since the device was last dead
        QByteArray status;
        bool born = false;
    };

    void onConnected();
    void onDisconnected();
    void onMessage(const QString &topic, const QByteArray &payload, const QString &,
                   const QByteArray &, bool retained);
    void takeState(const QByteArray &payload);
    void takeNodeCommand(const QByteArray &payload, bool retained);
    void takeDeviceCommand(const QString &deviceId, const QByteArray &payload, bool retained);
    // One metric of a DCMD to station; logged when it is not asked of the bridge.
    void askWrite(int station, const Payload::Metric &metric, bool retained);
    const LustBus::CatalogueEntry *findMetric(int station, const Payload::Metric &metric) const;

    // Runs on the network thread: the will of the next session.
    QByteArray nextWill();
    static QByteArray deathPayload(int bdSeq);
    // NBIRTH (seq 0) and a DBIRTH for every device ready for one.
    void birthNode();
    void birthDevice(int station);
    void deathDevice(int station);
    void queueData(int station, const QString &name);
    void flushData(); //!< the DDATA gathered, if any
    void sendNodeData(); //!< NDATA of the node metrics that changed
    QList<QJsonValue> nodeValues() const;
    // A message with the next seq (0 for an NBIRTH) and the time, published at QoS 0.
    void send(const QString &topic, Payload *payload, bool birth = false);
    bool canSend() const { return m_connected && m_hostOnline; }
    void log(const QString &line) const;

    Bridge &m_bridge;
    MqttClient &m_client;
    Settings m_settings;
    SparkplugState m_state;
    std::atomic<int> m_bdSeq{0}; //!< the session's, as its will holds it
    QList<const LustBus::CatalogueEntry *> m_entries; //!< the polled ones, in catalogue order
    QHash<QString, int> m_stationsById;
    QMap<int, Device> m_devices;
    QList<QJsonValue> m_nodeSent; //!< the node metrics as last sent
    int m_seq = 0;
    bool m_connected = false;
    bool m_hostOnline = true;
    qint64 m_hostTimestamp = 0; //!< of the last STATE taken
    bool m_nodeBorn = false;
    bool m_busLost = false;
    int m_pendingStation = -1;
    QMap<QString, qint64> m_pending; //!< DDATA to go: name, time read
    QTimer m_flushTimer;
    QTimer m_statsTimer;
    QSet<QString> m_problems;
    quint64 m_tag = 0;
    std::function<void(const QString &)> m_log;
};

#endif // LUSTBUS_SPARKPLUGNODE_H
