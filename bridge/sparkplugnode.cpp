#include "sparkplugnode.h"

#include "bridge.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

using LustBus::CatalogueEntry;

namespace {

using Payload = SparkplugMetrics::Payload;
using Metric = SparkplugMetrics::Metric;

const QString Namespace = QStringLiteral("spBv1.0");
const QString Rebirth = QStringLiteral("Node Control/Rebirth");

// The node's metrics besides bdSeq, aliased from 64 * 65536 on: no station's alias.
const struct
{
    const char *name;
    quint32 type;
    const char *counter; //!< summed over the link's stations; null: not a counter
} NodeMetrics[] = {
    {"Node Control/Rebirth", SparkplugMetrics::Boolean, nullptr},
    {"Bus/State", SparkplugMetrics::String, nullptr},
    {"Bus/Requests", SparkplugMetrics::UInt64, "requests"},
    {"Bus/Successes", SparkplugMetrics::UInt64, "successes"},
    {"Bus/Retries", SparkplugMetrics::UInt64, "retries"},
    {"Bus/Errors", SparkplugMetrics::UInt64, "errors"},
};
constexpr quint64 NodeAliasBase = quint64(64) * 65536;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

bool SparkplugNode::checkId(const QString &id, QString *error)
{
    if (id.isEmpty()) {
        *error = QStringLiteral("an empty id");
        return false;
    }
    for (const QChar c : {QLatin1Char('+'), QLatin1Char('#'), QLatin1Char('/')}) {
        if (id.contains(c)) {
            *error = QStringLiteral("an id without '+', '#' or '/'");
            return false;
        }
    }
    return true;
}

bool SparkplugNode::parseNode(const QString &text, Settings *settings, QString *error)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    QString why = QStringLiteral("expected GROUP/EDGE_NODE");
    if (parts.size() == 2 && checkId(parts.at(0), &why) && checkId(parts.at(1), &why)) {
        settings->group = parts.at(0);
        settings->edgeNode = parts.at(1);
        return true;
    }
    *error = QStringLiteral("bad --sparkplug '%1': %2").arg(text, why);
    return false;
}

bool SparkplugNode::parseDevice(const QString &text, Settings *settings, QString *error)
{
    const int equals = text.indexOf(QLatin1Char('='));
    bool ok = false;
    const int station = text.left(equals).toInt(&ok);
    const QString name = text.mid(equals + 1);
    QString why = QStringLiteral("expected STATION=NAME with a station of 0 to 63");
    if (equals > 0 && ok && station >= 0 && station <= 63 && checkId(name, &why)) {
        if (settings->devices.contains(station)) {
            why = QStringLiteral("station %1 is named already").arg(station);
        } else {
            settings->devices.insert(station, name);
            return true;
        }
    }
    *error = QStringLiteral("bad --sparkplug-device '%1': %2").arg(text, why);
    return false;
}

SparkplugNode::SparkplugNode(Bridge &bridge, MqttClient &client, const Settings &settings,
                             QObject *parent)
    : QObject(parent), m_bridge(bridge), m_client(client), m_settings(settings),
      m_state(settings.stateFile.isEmpty()
                  ? SparkplugState::defaultFileName(settings.group, settings.edgeNode)
                  : settings.stateFile),
      m_hostOnline(settings.primaryHost.isEmpty())
{
    QSet<QString> polled;
    for (const Bridge::PollGroup &group : bridge.settings().groups)
        polled.unite(QSet<QString>(group.names.cbegin(), group.names.cend()));
    for (const CatalogueEntry &entry : bridge.catalogue().entries) {
        if (polled.contains(entry.name))
            m_entries.append(&entry);
    }
    for (int station : bridge.settings().stations) {
        m_devices.insert(station, Device());
        m_stationsById.insert(settings.devices.value(station, QString::number(station)), station);
    }
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &SparkplugNode::flushData);
    connect(&m_statsTimer, &QTimer::timeout, this, &SparkplugNode::sendNodeData);
    connect(this, &SparkplugNode::stateProblem, this, &SparkplugNode::log);
}

QString SparkplugNode::nodeTopic(const char *type) const
{
    return QStringLiteral("%1/%2/%3/%4")
        .arg(Namespace, m_settings.group, QLatin1String(type), m_settings.edgeNode);
}

QString SparkplugNode::deviceTopic(const char *type, int station) const
{
    return nodeTopic(type) + QLatin1Char('/')
           + m_settings.devices.value(station, QString::number(station));
}

void SparkplugNode::log(const QString &line) const
{
    if (m_log)
        m_log(QStringLiteral("Sparkplug: ") + line);
}

bool SparkplugNode::start(MqttClient::Settings mqtt, QString *error)
{
    QString stateError;
    if (!m_state.load(error))
        return false;
    const int first = m_state.next(&stateError);
    if (!stateError.isEmpty()) {
        *error = stateError;
        return false;
    }
    m_bdSeq.store(first);
    connect(&m_client, &MqttClient::connected, this, &SparkplugNode::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, &SparkplugNode::onDisconnected);
    connect(&m_client, &MqttClient::messageReceived, this, &SparkplugNode::onMessage);
    connect(&m_client, &MqttClient::problem, this, [this](const QString &text) {
        if (!m_problems.contains(text)) {
            m_problems.insert(text);
            log(QStringLiteral("broker: %1").arg(text));
        }
    });
    mqtt.clientId = mqtt.clientId.isEmpty() ? QString() : mqtt.clientId + QStringLiteral("-sparkplug");
    mqtt.willTopic = nodeTopic("NDEATH");
    mqtt.willPayload = deathPayload(first);
    mqtt.willRetained = false;
    mqtt.nextWillPayload = [this] { return nextWill(); };
    if (!m_client.start(mqtt)) {
        *error = m_client.errorString();
        return false;
    }
    m_statsTimer.start(m_bridge.settings().statsIntervalSeconds * 1000);
    return true;
}

QByteArray SparkplugNode::nextWill()
{
    QString error;
    const int bdSeq = m_state.next(&error);
    m_bdSeq.store(bdSeq);
    if (!error.isEmpty())
        emit stateProblem(error + QStringLiteral(" (bdSeq %1 taken all the same)").arg(bdSeq));
    return deathPayload(bdSeq);
}

QByteArray SparkplugNode::deathPayload(int bdSeq)
{
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    Metric *metric = payload.add_metrics();
    metric->set_name("bdSeq");
    metric->set_timestamp(payload.timestamp());
    metric->set_datatype(SparkplugMetrics::UInt64);
    metric->set_long_value(quint64(bdSeq));
    const std::string bytes = payload.SerializeAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

void SparkplugNode::onConnected()
{
    m_connected = true;
    m_problems.clear();
    log(QStringLiteral("edge node %1/%2 connected, bdSeq %3")
            .arg(m_settings.group, m_settings.edgeNode)
            .arg(bdSeq()));
    m_client.subscribe(nodeTopic("NCMD"), 1);
    m_client.subscribe(nodeTopic("DCMD") + QStringLiteral("/+"), 1);
    if (!m_settings.primaryHost.isEmpty()) {
        // Its retained STATE tells whether it is there.
        m_hostOnline = false;
        m_client.subscribe(QStringLiteral("%1/STATE/%2").arg(Namespace, m_settings.primaryHost), 1);
    }
    birthNode();
}

void SparkplugNode::onDisconnected()
{
    m_connected = false;
    m_nodeBorn = false;
    for (Device &device : m_devices)
        device.born = false;
    m_pending.clear();
    log(QStringLiteral("broker lost; reconnecting with bdSeq %1").arg(bdSeq()));
}

void SparkplugNode::takeIncoming()
{
    m_client.deliverWaiting(); // onMessage for each
}

void SparkplugNode::onMessage(const QString &topic, const QByteArray &payload, const QString &,
                              const QByteArray &, bool retained)
{
    const QString node = nodeTopic("DCMD") + QLatin1Char('/');
    if (topic == nodeTopic("NCMD"))
        takeNodeCommand(payload, retained);
    else if (topic.startsWith(node))
        takeDeviceCommand(topic.mid(node.size()), payload, retained);
    else if (topic == QStringLiteral("%1/STATE/%2").arg(Namespace, m_settings.primaryHost))
        takeState(payload);
}

void SparkplugNode::takeState(const QByteArray &payload)
{
    const QJsonObject state = QJsonDocument::fromJson(payload).object();
    const QJsonValue online = state.value(QStringLiteral("online"));
    if (!online.isBool()) {
        log(QStringLiteral("STATE of %1 is not {\"online\": true|false, ...}: '%2'; ignored")
                .arg(m_settings.primaryHost, QString::fromUtf8(payload.left(80))));
        return;
    }
    // An older STATE than the last one taken is a late copy.
    const qint64 timestamp = qint64(state.value(QStringLiteral("timestamp")).toDouble());
    if (timestamp < m_hostTimestamp)
        return;
    m_hostTimestamp = timestamp;
    if (online.toBool() == m_hostOnline)
        return;
    m_hostOnline = online.toBool();
    log(QStringLiteral("primary host %1 is %2")
            .arg(m_settings.primaryHost, m_hostOnline ? QStringLiteral("online: births")
                                                      : QStringLiteral("offline: no messages "
                                                                       "until it is back")));
    if (m_hostOnline) {
        birthNode();
    } else {
        m_nodeBorn = false;
        m_pending.clear();
    }
}

void SparkplugNode::takeNodeCommand(const QByteArray &bytes, bool retained)
{
    Payload payload;
    if (retained || !payload.ParseFromArray(bytes.constData(), int(bytes.size()))) {
        log(QStringLiteral("NCMD %1; ignored")
                .arg(retained ? QStringLiteral("retained") : QStringLiteral("does not decode")));
        return;
    }
    bool rebirth = false;
    for (const Metric &metric : payload.metrics()) {
        const bool isRebirth = metric.name() == Rebirth.toStdString()
                               || (!metric.has_name() && metric.alias() == NodeAliasBase);
        if (isRebirth && metric.value_case() == Metric::kBooleanValue && metric.boolean_value())
            rebirth = true;
        else
            log(QStringLiteral("NCMD metric '%1' (alias %2) is not a rebirth request; ignored")
                    .arg(QString::fromStdString(metric.name()))
                    .arg(metric.alias()));
    }
    if (!rebirth)
        return;
    log(QStringLiteral("rebirth asked for"));
    birthNode();
}

void SparkplugNode::takeDeviceCommand(const QString &deviceId, const QByteArray &bytes,
                                      bool retained)
{
    const auto station = m_stationsById.constFind(deviceId);
    if (station == m_stationsById.cend()) {
        log(QStringLiteral("DCMD for device '%1', which is not on this node; ignored").arg(deviceId));
        return;
    }
    Payload payload;
    if (!payload.ParseFromArray(bytes.constData(), int(bytes.size()))) {
        log(QStringLiteral("DCMD for device '%1' does not decode; ignored").arg(deviceId));
        return;
    }
    for (const Metric &metric : payload.metrics())
        askWrite(station.value(), metric, retained);
}

const CatalogueEntry *SparkplugNode::findMetric(int station, const Metric &metric) const
{
    for (const CatalogueEntry *entry : m_entries) {
        if (metric.has_name() ? metric.name() == entry->name.toStdString()
                              : metric.alias() == SparkplugMetrics::alias(station, *entry))
            return entry;
    }
    return nullptr;
}

void SparkplugNode::askWrite(int station, const Metric &metric, bool retained)
{
    const QString device = m_settings.devices.value(station, QString::number(station));
    const CatalogueEntry *entry = findMetric(station, metric);
    QByteArray value;
    QString error;
    if (!entry)
        error = metric.has_name() ? QStringLiteral("no metric '%1'")
                                        .arg(QString::fromStdString(metric.name()))
                                  : QStringLiteral("no metric with alias %1").arg(metric.alias());
    else
        SparkplugMetrics::commandPayload(metric, *entry, &value, &error);
    if (!error.isEmpty()) {
        log(QStringLiteral("DCMD for device '%1': %2; nothing written").arg(device, error));
        return;
    }
    // Refused there when retained, as a retained set message is.
    WriteRequest request;
    request.station = station;
    request.name = entry->name;
    request.payload = value;
    request.retained = retained;
    request.tag = ++m_tag;
    m_bridge.requestWrite(request, this);
}

void SparkplugNode::writeSettled(const WriteRequest &, const QJsonObject &)
{
    // The value read back waits for its DDATA: now.
    flushData();
}

void SparkplugNode::send(const QString &topic, Payload *payload, bool birth)
{
    m_seq = birth ? 0 : (m_seq + 1) % 256;
    payload->set_seq(quint64(m_seq));
    if (!payload->has_timestamp())
        payload->set_timestamp(quint64(nowMs()));
    const std::string bytes = payload->SerializeAsString();
    m_client.publish(topic, QByteArray(bytes.data(), int(bytes.size())), 0, false);
}

QList<QJsonValue> SparkplugNode::nodeValues() const
{
    const QJsonArray stations =
        m_bridge.linkStatistics().value(QStringLiteral("stations")).toArray();
    QList<QJsonValue> values;
    for (const auto &node : NodeMetrics) {
        if (!node.counter) {
            values.append(node.type == SparkplugMetrics::Boolean
                              ? QJsonValue(false)
                              : QJsonValue(m_busLost ? QStringLiteral("bus lost")
                                                     : QStringLiteral("online")));
            continue;
        }
        double sum = 0;
        for (const QJsonValue &station : stations)
            sum += station.toObject().value(QLatin1String(node.counter)).toDouble();
        values.append(sum);
    }
    return values;
}

void SparkplugNode::birthNode()
{
    if (!canSend())
        return;
    m_pending.clear();
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    Metric *bdSeqMetric = payload.add_metrics();
    bdSeqMetric->set_name("bdSeq");
    bdSeqMetric->set_datatype(SparkplugMetrics::UInt64);
    bdSeqMetric->set_long_value(quint64(bdSeq()));
    m_nodeSent = nodeValues();
    for (int i = 0; i < int(std::size(NodeMetrics)); ++i) {
        Metric *metric = payload.add_metrics();
        metric->set_name(NodeMetrics[i].name);
        metric->set_alias(NodeAliasBase + quint64(i));
        metric->set_datatype(NodeMetrics[i].type);
        SparkplugMetrics::setScalar(metric, NodeMetrics[i].type, m_nodeSent.at(i));
    }
    for (Metric &metric : *payload.mutable_metrics())
        metric.set_timestamp(payload.timestamp());
    send(nodeTopic("NBIRTH"), &payload, true);
    m_nodeBorn = true;
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        it->born = false;
        birthDevice(it.key());
    }
}

void SparkplugNode::sendNodeData()
{
    if (!m_nodeBorn || !canSend())
        return;
    flushData();
    const QList<QJsonValue> values = nodeValues();
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    for (int i = 0; i < values.size(); ++i) {
        if (values.at(i) == m_nodeSent.value(i))
            continue;
        Metric *metric = payload.add_metrics();
        metric->set_alias(NodeAliasBase + quint64(i));
        metric->set_timestamp(payload.timestamp());
        SparkplugMetrics::setScalar(metric, NodeMetrics[i].type, values.at(i));
    }
    m_nodeSent = values;
    if (payload.metrics_size() > 0)
        send(nodeTopic("NDATA"), &payload);
}

void SparkplugNode::birthDevice(int station)
{
    Device &device = m_devices[station];
    if (!m_nodeBorn || !canSend() || device.born || m_busLost
        || device.status == QByteArrayLiteral("silent") || device.read.size() < m_entries.size())
        return;
    flushData();
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    for (const CatalogueEntry *entry : qAsConst(m_entries)) {
        Metric *metric = payload.add_metrics();
        SparkplugMetrics::setBirth(metric, station, *entry, device.values.value(entry->name));
        metric->set_timestamp(payload.timestamp());
    }
    send(deviceTopic("DBIRTH", station), &payload);
    device.born = true;
}

void SparkplugNode::deathDevice(int station)
{
    Device &device = m_devices[station];
    device.read.clear();
    if (!device.born)
        return;
    device.born = false;
    if (!m_nodeBorn || !canSend())
        return;
    flushData();
    Payload payload;
    send(deviceTopic("DDEATH", station), &payload);
}

void SparkplugNode::busStatusChanged(const QByteArray &status)
{
    m_busLost = status != QByteArrayLiteral("online");
    sendNodeData();
    if (!m_busLost)
        return;
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it)
        deathDevice(it.key());
}

void SparkplugNode::stationStatusChanged(int station, const QByteArray &status)
{
    m_devices[station].status = status;
    if (status == QByteArrayLiteral("silent"))
        deathDevice(station);
    else
        birthDevice(station);
}

void SparkplugNode::valueRead(int station, const CatalogueEntry &entry, const QJsonObject &content)
{
    Device &device = m_devices[station];
    // What a silent station or a lost bus did not answer says nothing of its values.
    if (m_busLost || device.status == QByteArrayLiteral("silent") || !m_entries.contains(&entry))
        return;
    device.read.insert(entry.name);
    const auto known = device.values.constFind(entry.name);
    if (!content.value(QStringLiteral("ok")).toBool()) {
        // A read that failed is no change of value: born null when no value came yet.
        if (known == device.values.cend())
            device.values.insert(entry.name, QJsonValue::Null);
    } else {
        const QJsonValue value = content.value(QStringLiteral("value"));
        const bool changed = known == device.values.cend() || known.value() != value;
        device.values.insert(entry.name, value);
        if (changed && device.born && canSend())
            queueData(station, entry.name);
    }
    birthDevice(station);
}

void SparkplugNode::queueData(int station, const QString &name)
{
    if (station != m_pendingStation)
        flushData();
    m_pendingStation = station;
    m_pending.insert(name, nowMs());
    if (!m_flushTimer.isActive())
        m_flushTimer.start(0);
}

void SparkplugNode::flushData()
{
    if (m_pending.isEmpty())
        return;
    const int station = m_pendingStation;
    const Device &device = m_devices[station];
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    for (const CatalogueEntry *entry : qAsConst(m_entries)) {
        const auto pending = m_pending.constFind(entry->name);
        if (pending == m_pending.cend())
            continue;
        Metric *metric = payload.add_metrics();
        metric->set_alias(SparkplugMetrics::alias(station, *entry));
        metric->set_timestamp(quint64(pending.value()));
        SparkplugMetrics::setValue(metric, *entry, device.values.value(entry->name));
    }
    m_pending.clear();
    send(deviceTopic("DDATA", station), &payload);
}

void SparkplugNode::stop()
{
    m_statsTimer.stop();
    flushData();
    m_client.stop(nodeTopic("NDEATH"), deathPayload(bdSeq()), 1000, false);
    disconnect(&m_client, nullptr, this, nullptr);
}
