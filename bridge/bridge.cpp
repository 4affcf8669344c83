#include "bridge.h"

#include "mqttclient.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QTimer>

using LustBus::Catalogue;
using LustBus::CatalogueEntry;

namespace {

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A payload is one JSON value: 5, -1.25, "text", [1, 2] (Qt's parser takes only an
// object or an array at the top, so the value is read as a list's only element).
bool parseValue(const QByteArray &payload, QJsonValue *value, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson('[' + payload + ']', &parseError);
    if (parseError.error != QJsonParseError::NoError || document.array().size() != 1) {
        *error = QStringLiteral("bad value '%1': expected one JSON value, such as 100, "
                                "1.25, \"text\" or [1, 2]")
                     .arg(QString::fromUtf8(payload.left(80)));
        return false;
    }
    *value = document.array().at(0);
    return true;
}

} // namespace

Bridge::Bridge(const Catalogue &catalogue, BusAccess &bus, MqttClient &client,
               const Settings &settings, QObject *parent)
    : QObject(parent), m_catalogue(catalogue), m_bus(bus), m_client(client),
      m_settings(settings), m_base(settings.prefix + QLatin1Char('/') + settings.bus)
{
    if (m_settings.groups.isEmpty()) {
        PollGroup all;
        for (const CatalogueEntry &entry : m_catalogue.entries)
            all.names.append(entry.name);
        m_settings.groups.append(all);
    }
    m_clock.start();
}

Bridge::~Bridge() = default;

bool Bridge::checkTopic(const QString &text, bool levels, QString *error)
{
    if (text.isEmpty()) {
        *error = QStringLiteral("expected a topic name");
        return false;
    }
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#'))) {
        *error = QStringLiteral("'+' and '#' are MQTT wildcards, not part of a name");
        return false;
    }
    if (!levels && text.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("one topic level, without '/'");
        return false;
    }
    if (text.split(QLatin1Char('/')).contains(QString())) {
        *error = QStringLiteral("an empty topic level");
        return false;
    }
    return true;
}

bool Bridge::parsePollGroup(const QString &text, const Catalogue &catalogue, PollGroup *group,
                            QString *error)
{
    QString names = text;
    const int at = text.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        names = text.left(at);
        bool ok = false;
        const int interval = text.mid(at + 1).toInt(&ok);
        if (!ok || interval < 10 || interval > 3600000) {
            *error = QStringLiteral("bad --poll '%1': the interval after '@' is 10 to "
                                    "3600000 ms")
                         .arg(text);
            return false;
        }
        group->intervalMs = interval;
    }
    group->names.clear();
    for (const QString &part : names.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (name.isEmpty()) {
            *error = QStringLiteral("bad --poll '%1': expected NAME[,NAME...][@MS]").arg(text);
            return false;
        }
        if (!catalogue.find(name)) {
            *error = QStringLiteral("bad --poll '%1': no parameter '%2' in %3")
                         .arg(text, name, catalogue.fileName());
            return false;
        }
        group->names.append(name);
    }
    return true;
}

QString Bridge::valueTopic(int station, const QString &name) const
{
    return QStringLiteral("%1/%2/%3").arg(m_base).arg(station).arg(name);
}

void Bridge::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

void Bridge::start()
{
    connect(&m_client, &MqttClient::connected, this, &Bridge::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, [this](const QString &reason) {
        log(QStringLiteral("broker lost (%1); reconnecting").arg(reason));
    });
    // Each cause once until the next connect: the library retries with back-off.
    connect(&m_client, &MqttClient::problem, this, [this](const QString &text) {
        if (m_problems.contains(text))
            return;
        m_problems.insert(text);
        log(QStringLiteral("broker: %1").arg(text));
    });
    // Direct: a request is queued as it arrives, so that a round in progress finds it
    // before its next read.
    connect(&m_client, &MqttClient::messageReceived, this, &Bridge::onMessage,
            Qt::DirectConnection);
    for (int i = 0; i < m_settings.groups.size(); ++i) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, i] { runRound(i); });
        m_timers.append(timer);
        timer->start(0);
    }
    // A broker that does not answer at all leaves no error of its own to log.
    QTimer::singleShot(5000, this, [this] {
        if (!m_client.isConnected() && m_problems.isEmpty())
            log(QStringLiteral("no connection to the broker after 5 s; still trying"));
    });
    m_statsTimer = new QTimer(this);
    connect(m_statsTimer, &QTimer::timeout, this, &Bridge::publishStats);
    m_statsTimer->start(m_settings.statsIntervalSeconds * 1000);
}

void Bridge::stop()
{
    for (QTimer *timer : qAsConst(m_timers))
        timer->stop();
    if (m_statsTimer)
        m_statsTimer->stop();
    m_client.stop(statusTopic(), QByteArrayLiteral("offline"), 1000);
    disconnect(&m_client, nullptr, this, nullptr);
}

void Bridge::end()
{
    if (m_ended)
        return;
    m_ended = true;
    emit ended();
}

void Bridge::onConnected()
{
    log(QStringLiteral("connected to the broker"));
    m_problems.clear();
    // Subscribed first: once "online" is out, writes are taken.
    m_client.subscribe(m_base + QStringLiteral("/+/+/set"), m_settings.qos);
    m_client.publish(statusTopic(), QByteArrayLiteral("online"), 1, true);
    // A broker that lost its retained messages gets every value again; before the first
    // connect the library holds what was published and sends it now.
    if (!m_reconnect) {
        m_reconnect = true;
        return;
    }
    for (auto it = m_published.cbegin(); it != m_published.cend(); ++it)
        m_client.publish(it.key(), it.value().payload, m_settings.qos, true);
}

void Bridge::onMessage(const QString &topic, const QByteArray &payload,
                       const QString &responseTopic, const QByteArray &correlation)
{
    const Write write{topic, payload, responseTopic, correlation};
    bool queued = false;
    {
        std::lock_guard<std::mutex> locker(m_incomingLock);
        if (m_incoming.size() < MaxWaitingWrites) {
            m_incoming.append(write);
            queued = true;
        }
    }
    if (queued) {
        QMetaObject::invokeMethod(this, [this] { runWrites(); }, Qt::QueuedConnection);
        return;
    }
    // A flood is not kept: refused at once from here (the client may publish from any
    // thread) and counted with the refused writes.
    ++m_overflowed;
    sendResult(write,
               {{QStringLiteral("ok"), false},
                {QStringLiteral("error"),
                 QStringLiteral("%1 writes are waiting for the bus already; this one is not "
                                "carried out")
                     .arg(MaxWaitingWrites)}});
}

bool Bridge::runWrites()
{
    if (const quint64 overflowed = m_overflowed.exchange(0)) {
        m_counters.writesRefused += overflowed;
        log(QStringLiteral("%1 writes refused: %2 were waiting for the bus already")
                .arg(overflowed)
                .arg(MaxWaitingWrites));
    }
    while (!m_ended) {
        Write write;
        {
            std::lock_guard<std::mutex> locker(m_incomingLock);
            if (m_incoming.isEmpty())
                break;
            write = m_incoming.takeFirst();
        }
        if (!runWrite(write))
            end();
    }
    return !m_ended;
}

bool Bridge::runWrite(const Write &write)
{
    // PREFIX/BUS/STATION/NAME/set, as the subscription lets through.
    const QStringList parts = write.topic.mid(m_base.size() + 1).split(QLatin1Char('/'));
    if (!write.topic.startsWith(m_base + QLatin1Char('/')) || parts.size() != 3
        || parts.at(2) != QLatin1String("set"))
        return true;
    const QString &stationLevel = parts.at(0);
    const QString &name = parts.at(1);

    QJsonObject result;
    if (isDuplicate(write, &result)) {
        log(QStringLiteral("write %1/%2: a duplicate of a request already carried out; "
                           "answered, not written again")
                .arg(stationLevel, name));
        publishResult(write, result);
        return true;
    }
    // Only the level the values are published under: "1", not "01" or " 1".
    bool ok = false;
    const int station = stationLevel.toInt(&ok);
    const CatalogueEntry *entry = m_catalogue.find(name);
    QString error;
    QJsonValue value;
    if (!ok || stationLevel != QString::number(station) || !m_settings.stations.contains(station))
        error = QStringLiteral("station '%1' is not on this bridge").arg(stationLevel);
    else if (!m_settings.allowWrites)
        error = QStringLiteral("writes are off: the bridge runs without --allow-writes");
    else if (!entry)
        error = QStringLiteral("no parameter '%1' in %2").arg(name, m_catalogue.fileName());
    else if (entry->readOnly)
        error = QStringLiteral("%1 is read-only (\"ro\")").arg(name);
    else
        parseValue(write.payload, &value, &error);
    bool sent = false;
    if (error.isEmpty() && m_bus.write(station, *entry, value, &sent, &error) == BusAccess::Stopped)
        return false;
    if (!error.isEmpty()) {
        if (sent) {
            ++m_counters.writeErrors;
            // What the servo holds is not known now: a repeat is written again.
            m_lastWrites.remove(write.topic);
        } else {
            ++m_counters.writesRefused;
        }
        log(QStringLiteral("write %1/%2 refused: %3").arg(stationLevel, name, error));
        publishResult(write, {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}});
        return true;
    }
    ++m_counters.writes;
    // What the servo holds now, as the poll would publish it.
    QJsonValue held;
    const BusAccess::Outcome outcome = m_bus.read(station, *entry, &held, &error);
    if (outcome == BusAccess::Stopped)
        return false;
    result = {{QStringLiteral("ok"), true}};
    if (outcome == BusAccess::Done) {
        result.insert(QStringLiteral("value"), held);
        const QJsonObject content = valueContent(*entry, held);
        publishValue(station, *entry, content);
        m_lastWrites.insert(write.topic, {write.payload, result, content, m_clock.elapsed()});
    } else {
        result.insert(QStringLiteral("value"), value);
        m_lastWrites.remove(write.topic);
    }
    publishResult(write, result);
    return true;
}

bool Bridge::isDuplicate(const Write &write, QJsonObject *result) const
{
    if (!write.correlation.isEmpty()) {
        const auto done = m_done.constFind(correlationKey(write));
        if (done == m_done.cend())
            return false;
        *result = done.value();
        return true;
    }
    const auto last = m_lastWrites.constFind(write.topic);
    if (last == m_lastWrites.cend() || last->payload != write.payload
        || m_clock.elapsed() - last->atMs > DuplicateWindowMs)
        return false;
    // Nothing has changed the value since: the servo still holds what the write left.
    const auto published = m_published.constFind(write.topic.chopped(4)); // without "/set"
    if (published == m_published.cend() || published->content != last->held)
        return false;
    *result = last->result;
    return true;
}

QByteArray Bridge::correlationKey(const Write &write)
{
    return write.topic.toUtf8() + '\n' + write.correlation;
}

QJsonObject Bridge::valueContent(const CatalogueEntry &entry, const QJsonValue &value)
{
    return {{QStringLiteral("value"), value},
            {QStringLiteral("unit"), entry.unit},
            {QStringLiteral("ok"), true}};
}

void Bridge::runRound(int group)
{
    if (!runWrites())
        return;
    QElapsedTimer round;
    round.start();
    const PollGroup &poll = m_settings.groups.at(group);
    for (int station : qAsConst(m_settings.stations)) {
        for (const QString &name : poll.names) {
            if (!pollOne(station, *m_catalogue.find(name)))
                end();
            if (!runWrites())
                return;
        }
    }
    ++m_counters.rounds;
    const qint64 took = round.elapsed();
    if (took > poll.intervalMs)
        ++m_counters.overruns;
    // The next round starts an interval after this one started, or at once when it
    // overran: late, but one at a time.
    m_timers.at(group)->start(int(qMax<qint64>(0, poll.intervalMs - took)));
}

bool Bridge::pollOne(int station, const CatalogueEntry &entry)
{
    QJsonValue value;
    QString error;
    ++m_counters.reads;
    const BusAccess::Outcome outcome = m_bus.read(station, entry, &value, &error);
    if (outcome == BusAccess::Stopped)
        return false;
    QJsonObject content;
    if (outcome == BusAccess::Done) {
        content = valueContent(entry, value);
    } else {
        ++m_counters.readErrors;
        content = {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
    }
    publishValue(station, entry, content);
    return true;
}

void Bridge::publishValue(int station, const CatalogueEntry &entry, const QJsonObject &content)
{
    const QString topic = valueTopic(station, entry.name);
    const qint64 at = m_clock.elapsed();
    auto it = m_published.find(topic);
    if (it != m_published.end() && it->content == content
        && at - it->atMs < qint64(m_settings.heartbeatSeconds) * 1000)
        return;
    QJsonObject message = content;
    message.insert(QStringLiteral("ts"), now());
    Published published{content, compact(message), at};
    m_client.publish(topic, published.payload, m_settings.qos, true);
    ++m_counters.published;
    m_published.insert(topic, published);
}

void Bridge::publishResult(const Write &write, const QJsonObject &result)
{
    if (!write.correlation.isEmpty()) {
        const QByteArray key = correlationKey(write);
        if (!m_done.contains(key)) {
            m_done.insert(key, result);
            m_doneOrder.append(key);
            // Duplicates follow their original closely; a short memory is enough.
            if (m_doneOrder.size() > 256)
                m_done.remove(m_doneOrder.takeFirst());
        }
    }
    sendResult(write, result);
}

void Bridge::sendResult(const Write &write, QJsonObject result)
{
    result.insert(QStringLiteral("ts"), now());
    if (!write.responseTopic.isEmpty())
        m_client.publish(write.responseTopic, compact(result), m_settings.qos, false, QString(),
                         write.correlation);
    else // PREFIX/BUS/STATION/NAME/result
        m_client.publish(write.topic.chopped(4) + QStringLiteral("/result"), compact(result),
                         m_settings.qos, false);
}

void Bridge::publishStats()
{
    QJsonObject stats{{QStringLiteral("ts"), now()},
                      {QStringLiteral("rounds"), double(m_counters.rounds)},
                      {QStringLiteral("overruns"), double(m_counters.overruns)},
                      {QStringLiteral("reads"), double(m_counters.reads)},
                      {QStringLiteral("readErrors"), double(m_counters.readErrors)},
                      {QStringLiteral("writes"), double(m_counters.writes)},
                      {QStringLiteral("writeErrors"), double(m_counters.writeErrors)},
                      {QStringLiteral("writesRefused"), double(m_counters.writesRefused)},
                      {QStringLiteral("published"), double(m_counters.published)}};
    if (m_linkStatistics)
        stats.insert(QStringLiteral("link"), m_linkStatistics());
    m_client.publish(statsTopic(), compact(stats), m_settings.qos, true);
}
