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

// One JSON value as text: 5, "text", [1,2].
QString jsonText(const QJsonValue &value)
{
    const QByteArray list = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(list.mid(1, list.size() - 2));
}

// A write's result without its time: "ok", the outcome, and the value the servo holds
// (done) or why not (refused, unknown).
QJsonObject writeResult(const char *outcome, const QJsonValue &detail)
{
    const bool done = qstrcmp(outcome, "done") == 0;
    return {{QStringLiteral("ok"), done},
            {QStringLiteral("outcome"), QLatin1String(outcome)},
            {done ? QStringLiteral("value") : QStringLiteral("error"), detail}};
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
    : QObject(parent), m_catalogue(catalogue),
      m_identityEntries(DriveIdentity::entries(catalogue)), m_bus(bus), m_client(client),
      m_settings(settings), m_base(settings.prefix + QLatin1Char('/') + settings.bus),
      m_replyPrefix(settings.replyPrefix.isEmpty() ? settings.prefix + QStringLiteral("/replies")
                                                   : settings.replyPrefix)
{
    for (int station : qAsConst(m_settings.stations)) {
        Station state;
        state.drive = StationDrive(station, m_settings.link,
                                   QStringLiteral("the bridge is started anew"));
        m_stations.insert(station, state);
    }
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

QString Bridge::stationTopic(int station) const
{
    return valueTopic(station, QStringLiteral("status"));
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
        m_connected = false;
        log(QStringLiteral("broker lost (%1); reconnecting").arg(reason));
    });
    // Each cause once until the next connect: the library retries with back-off.
    connect(&m_client, &MqttClient::problem, this, [this](const QString &text) {
        if (m_problems.contains(text))
            return;
        m_problems.insert(text);
        log(QStringLiteral("broker: %1").arg(text));
    });
    // Also delivered from runWrites(), so that a round in progress finds a request
    // before its next read.
    connect(&m_client, &MqttClient::messageReceived, this, &Bridge::onMessage);
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
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->stop();
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
    m_connected = true;
    // Subscribed first: once "online" is out, writes are taken.
    m_client.subscribe(m_base + QStringLiteral("/+/+/set"), m_settings.qos);
    m_client.publish(statusTopic(), busStatus(), 1, true);
    // The statuses wait for a connection (see publishStatus); in the stations' order,
    // as a round would have published them.
    for (int station : qAsConst(m_settings.stations)) {
        const QByteArray &status = m_stations.constFind(station)->status;
        if (!status.isEmpty())
            m_client.publish(stationTopic(station), status, 1, true);
    }
    // A broker that lost its retained messages gets every value again; before the first
    // connect the library holds what was published and sends it now.
    if (m_reconnect) {
        for (auto it = m_published.cbegin(); it != m_published.cend(); ++it)
            m_client.publish(it.key(), it.value().payload, m_settings.qos, true);
    }
    m_reconnect = true;
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->connected();
}

void Bridge::onMessage(const QString &topic, const QByteArray &payload,
                       const QString &responseTopic, const QByteArray &correlation,
                       bool retained)
{
    for (BridgeConvention *convention : qAsConst(m_conventions)) {
        if (convention->takeMessage(topic, payload, retained))
            return;
    }
    enqueue(Write{topic, payload, responseTopic, correlation, retained, nullptr, {}});
}

void Bridge::requestWrite(const BridgeConvention::WriteRequest &request, BridgeConvention *from)
{
    // The set topic it stands for: the same parameter, the same duplicates; a bit's
    // has a level of its own, so that its payload is never taken for the whole value's.
    const QString bit = request.bit < 0 ? QString() : QStringLiteral("/%1").arg(request.bit);
    enqueue(Write{valueTopic(request.station, request.name) + bit + QStringLiteral("/set"),
                  request.payload, QString(), QByteArray(), request.retained, from, request});
}

void Bridge::enqueue(const Write &write)
{
    if (m_waiting.size() < MaxWaitingWrites) {
        m_waiting.append(write);
        // Came through the event loop, between two rounds: carried out next.
        if (!m_writesDue) {
            m_writesDue = true;
            QMetaObject::invokeMethod(this, [this] {
                m_writesDue = false;
                runWrites();
            }, Qt::QueuedConnection);
        }
        return;
    }
    // A flood is not kept: refused at once and counted with the refused writes.
    ++m_overflowed;
    ++m_counters.writesRefused;
    sendResult(write, writeResult("refused",
                                  QStringLiteral("%1 writes are waiting for the bus already; "
                                                 "this one is not carried out")
                                      .arg(MaxWaitingWrites)));
}

bool Bridge::runWrites()
{
    takeIncoming();
    while (!m_ended && !m_waiting.isEmpty()) {
        if (!runWrite(m_waiting.takeFirst()))
            end();
        takeIncoming();
    }
    return !m_ended;
}

void Bridge::takeIncoming()
{
    m_client.deliverWaiting(); // onMessage for each
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->takeIncoming();
    if (m_overflowed == 0)
        return;
    log(QStringLiteral("%1 writes refused: %2 were waiting for the bus already")
            .arg(m_overflowed)
            .arg(MaxWaitingWrites));
    m_overflowed = 0;
}

bool Bridge::runWrite(const Write &write)
{
    // PREFIX/BUS/STATION/NAME/set, as the subscription lets through (a bit's: NAME/BIT/set).
    const QStringList parts = write.topic.mid(m_base.size() + 1).split(QLatin1Char('/'));
    if (!write.topic.startsWith(m_base + QLatin1Char('/'))
        || parts.size() != (write.request.bit < 0 ? 3 : 4) || parts.last() != QLatin1String("set"))
        return true;
    Target target;
    target.stationLevel = parts.at(0);
    target.name = parts.at(1);
    // Only the level the values are published under: "1", not "01" or " 1".
    bool ok = false;
    const int station = target.stationLevel.toInt(&ok);
    if (ok && target.stationLevel == QString::number(station) && m_stations.contains(station))
        target.station = station;
    target.entry = m_catalogue.find(target.name);

    QJsonObject result;
    QString error = refusal(write, target);
    bool unidentified = false;
    if (error.isEmpty()) {
        if (!checkIdentity(target.station))
            return false;
        error = m_stations.value(target.station).drive.refusal();
        unidentified = !error.isEmpty();
    }
    if (error.isEmpty() && isDuplicate(write, &result)) {
        log(QStringLiteral("write %1: a duplicate of a request already carried out; "
                           "answered, not written again")
                .arg(target.where()));
        publishResult(write, result);
        return true;
    }
    QJsonValue value;
    if (error.isEmpty())
        parseValue(write.payload, &value, &error);
    if (error.isEmpty() && write.request.bit >= 0
        && !withBit(target, write.request.bit, &value, &error))
        return false;
    if (error.isEmpty()) {
        m_bus.holdWritesTo(m_stations.value(target.station).drive.identifiedAt());
        if (!carryOut(write, target, value, &result))
            return false;
        publishResult(write, result);
        return true;
    }
    ++m_counters.writesRefused;
    // What the drive's identity said is logged once, when it was read.
    log(QStringLiteral("write %1 refused: %2")
            .arg(target.where(),
                 unidentified ? QStringLiteral("station %1: %2")
                                    .arg(target.station)
                                    .arg(QString::fromLatin1(m_stations.value(target.station).status))
                              : error));
    publishResult(write, writeResult("refused", error));
    return true;
}

QString Bridge::refusal(const Write &write, const Target &target) const
{
    // First what the message itself says: a stored or misdirected request is refused
    // whatever it asks for.
    if (!write.responseTopic.isEmpty() && !acceptsResponseTopic(write.responseTopic))
        return QStringLiteral("the response topic '%1' lies outside %2/#; not carried out")
            .arg(write.responseTopic, m_replyPrefix);
    if (write.retained)
        return QStringLiteral("a retained set message is not carried out: publish set "
                              "messages without retain");
    if (target.station < 0)
        return QStringLiteral("station '%1' is not on this bridge").arg(target.stationLevel);
    if (!m_settings.allowWrites)
        return QStringLiteral("writes are off: the bridge runs without --allow-writes");
    if (!target.entry)
        return QStringLiteral("no parameter '%1' in %2").arg(target.name, m_catalogue.fileName());
    if (target.entry->readOnly)
        return QStringLiteral("%1 is read-only (\"ro\")").arg(target.name);
    if (isSilent(target.station))
        return QStringLiteral("not tried: station %1 does not answer").arg(target.station);
    return QString();
}

bool Bridge::carryOut(const Write &write, const Target &target, const QJsonValue &value,
                      QJsonObject *result)
{
    const CatalogueEntry &entry = *target.entry;
    QJsonValue sent;
    const BusAccess::Result written = m_bus.write(target.station, entry, value, &sent);
    if (written.outcome == BusAccess::Stopped)
        return false;
    noteLine(target.station, written);
    if (written.outcome == BusAccess::Unknown) {
        // What the servo holds is not known until read back: a repeat is written again.
        m_lastWrites.remove(write.topic);
        return settle(target, written, sent, result);
    }
    if (written.outcome == BusAccess::Failed) {
        ++m_counters.writesRefused;
        log(QStringLiteral("write %1 refused: %2").arg(target.where(), written.error));
        *result = writeResult("refused", written.error);
        return true;
    }
    ++m_counters.writes;
    *result = writeResult("done", sent);
    QJsonValue held;
    BusAccess::Result back;
    if (!readBack(target, &held, &back))
        return false;
    if (back.outcome != BusAccess::Done) {
        m_lastWrites.remove(write.topic);
        return true;
    }
    result->insert(QStringLiteral("value"), held);
    m_lastWrites.insert(write.topic,
                        {write.payload, *result, valueContent(entry, held), m_clock.elapsed()});
    return true;
}

bool Bridge::readBack(const Target &target, QJsonValue *held, BusAccess::Result *back)
{
    *back = m_bus.read(target.station, *target.entry, held, false);
    if (back->outcome == BusAccess::Stopped)
        return false;
    noteLine(target.station, *back);
    // What the servo holds now, as the poll would publish it.
    if (back->outcome == BusAccess::Done)
        publishValue(target.station, *target.entry, valueContent(*target.entry, *held));
    return true;
}

bool Bridge::settle(const Target &target, const BusAccess::Result &written,
                    const QJsonValue &sent, QJsonObject *result)
{
    QJsonValue held;
    BusAccess::Result back;
    if (!readBack(target, &held, &back))
        return false;
    if (back.outcome != BusAccess::Done) {
        ++m_counters.writesUnknown;
        const QString error = QStringLiteral("%1; reading it back failed too (%2): the servo "
                                             "may hold the new value")
                                  .arg(written.error, back.error);
        log(QStringLiteral("write %1: outcome unknown: %2").arg(target.where(), error));
        *result = writeResult("unknown", error);
        return true;
    }
    if (held == sent) {
        ++m_counters.writes;
        log(QStringLiteral("write %1: %2; confirmed by read back")
                .arg(target.where(), written.error));
        *result = writeResult("done", held);
        result->insert(QStringLiteral("note"), QStringLiteral("confirmed by read back"));
        return true;
    }
    ++m_counters.writesRefused;
    const QString error = QStringLiteral("no reply; read back shows %1: not carried out")
                              .arg(jsonText(held));
    log(QStringLiteral("write %1 refused: %2 (%3)").arg(target.where(), error, written.error));
    *result = writeResult("refused", error);
    return true;
}

bool Bridge::withBit(const Target &target, int bit, QJsonValue *value, QString *error)
{
    const CatalogueEntry &entry = *target.entry;
    const int width = entry.bitWidth();
    if (bit >= width) {
        *error = QStringLiteral("%1 has no bit %2").arg(entry.name).arg(bit);
        return true;
    }
    if (!value->isBool() && *value != QJsonValue(0) && *value != QJsonValue(1)) {
        *error = QStringLiteral("bad bit value %1: expected 1, 0, true or false")
                     .arg(jsonText(*value));
        return true;
    }
    const bool on = value->isBool() ? value->toBool() : value->toInt() == 1;
    // The other bits keep what the servo holds now, not what the last poll saw.
    QJsonValue held;
    const BusAccess::Result read = m_bus.read(target.station, entry, &held, false);
    if (read.outcome == BusAccess::Stopped)
        return false;
    noteLine(target.station, read);
    if (read.outcome != BusAccess::Done) {
        *error = QStringLiteral("reading %1 before changing bit %2 failed: %3")
                     .arg(entry.name)
                     .arg(bit)
                     .arg(read.error);
        return true;
    }
    quint64 word = quint64(qint64(held.toDouble())) & ((quint64(1) << width) - 1);
    word = on ? word | (quint64(1) << bit) : word & ~(quint64(1) << bit);
    // Back into the type's own range: a signed type's top bit is its sign.
    const bool negative = dataTypeInfo(entry.type).signedRaw && (word >> (width - 1)) != 0;
    *value = double(negative ? qint64(word) - (qint64(1) << width) : qint64(word));
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
        // A silent station is read once it answers again; a lost bus once it is back.
        if (!isSilent(station) && !m_busLost && !checkIdentity(station)) {
            end();
            return;
        }
        for (const QString &name : poll.names) {
            const CatalogueEntry &entry = *m_catalogue.find(name);
            if (isResting(station))
                publishValue(station, entry, notTried(station));
            else if (!pollOne(station, entry, isSilent(station)))
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

bool Bridge::pollOne(int station, const CatalogueEntry &entry, bool probe)
{
    QJsonValue value;
    ++m_counters.reads;
    const BusAccess::Result result = m_bus.read(station, entry, &value, probe);
    if (result.outcome == BusAccess::Stopped)
        return false;
    noteLine(station, result);
    QJsonObject content;
    if (result.outcome == BusAccess::Done) {
        content = valueContent(entry, value);
    } else {
        ++m_counters.readErrors;
        content = isSilent(station) ? notTried(station)
                                    : QJsonObject{{QStringLiteral("ok"), false},
                                                  {QStringLiteral("error"), result.error}};
    }
    publishValue(station, entry, content);
    return true;
}

QJsonObject Bridge::notTried(int station)
{
    return {{QStringLiteral("ok"), false},
            {QStringLiteral("error"),
             QStringLiteral("not tried: station %1 does not answer").arg(station)}};
}

bool Bridge::isResting(int station) const
{
    const Station state = m_stations.value(station);
    return state.silent && m_clock.elapsed() < state.probeAtMs;
}

void Bridge::noteLine(int station, const BusAccess::Result &result)
{
    switch (result.line) {
    case BusAccess::NotSent:
        break;
    case BusAccess::LinkLost:
        // Not the stations' fault: they are not counted as silent for it.
        busLost(result.linkError);
        break;
    case BusAccess::Answered:
        busBack();
        answeredBy(station);
        break;
    case BusAccess::NoResponse:
        busBack();
        noResponseFrom(station);
        break;
    }
}

void Bridge::busLost(const QString &why)
{
    if (m_busLost)
        return;
    m_busLost = true;
    m_busLostAtMs = m_clock.elapsed();
    log(QStringLiteral("bus lost: %1; its values are unavailable until it is back").arg(why));
    publishStatus(statusTopic(), busStatus());
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->busStatusChanged(busStatus());
}

void Bridge::busBack()
{
    if (!m_busLost)
        return;
    m_busLost = false;
    log(QStringLiteral("bus back after %1 s")
            .arg(double(m_clock.elapsed() - m_busLostAtMs) / 1e3, 0, 'f', 1));
    // Whatever answers now may have taken the place of a drive.
    for (Station &state : m_stations)
        state.drive.recheck();
    publishStatus(statusTopic(), busStatus());
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->busStatusChanged(busStatus());
}

QByteArray Bridge::busStatus() const
{
    return m_busLost ? QByteArrayLiteral("bus lost") : QByteArrayLiteral("online");
}

void Bridge::answeredBy(int station)
{
    Station &state = m_stations[station];
    state.noResponses = 0;
    if (state.silent) {
        state.silent = false;
        state.drive.recheck();
        log(QStringLiteral("station %1 answers again").arg(station));
    }
    updateStationStatus(station);
}

void Bridge::noResponseFrom(int station)
{
    Station &state = m_stations[station];
    const qint64 now = m_clock.elapsed();
    if (state.silent) {
        state.probeDelayMs = qMin(state.probeDelayMs * 2, SilentProbeMaxMs);
        state.probeAtMs = now + state.probeDelayMs;
        return;
    }
    if (++state.noResponses < SilentAfter)
        return;
    state.silent = true;
    state.probeDelayMs = SilentProbeFirstMs;
    state.probeAtMs = now + state.probeDelayMs;
    log(QStringLiteral("station %1 does not answer; asked once every %2 to %3 s until it does")
            .arg(station)
            .arg(SilentProbeFirstMs / 1000)
            .arg(SilentProbeMaxMs / 1000));
    updateStationStatus(station);
}

bool Bridge::identityDue(int station) const
{
    return !m_identityEntries.isEmpty() && m_stations.constFind(station)->drive.isDue(m_bus);
}

bool Bridge::checkIdentity(int station)
{
    if (!identityDue(station))
        return true;
    const BusAccess::Result result = m_stations[station].drive.readNow(m_bus, m_identityEntries);
    if (result.outcome == BusAccess::Stopped)
        return false;
    noteLine(station, result);
    const StationDrive &drive = m_stations[station].drive;
    bool identified = false;
    const StationDrive::Change change = m_stations[station].drive.settle(&identified);
    if (identified) {
        log(QStringLiteral("%1 is %2").arg(drive.where(), drive.identity().text()));
        publishIdentity(station);
        for (BridgeConvention *convention : qAsConst(m_conventions))
            convention->identityRead(station, drive.identity());
    }
    if (change == StationDrive::Change::None)
        return true;
    // Logged once, when it changes.
    log(change == StationDrive::Change::Refused
            ? drive.refusal()
            : QStringLiteral("%1 is the drive identified there: writes go to it again")
                  .arg(drive.where()));
    updateStationStatus(station);
    return true;
}

void Bridge::publishIdentity(int station)
{
    // Kept with the values, which go out again to a broker that lost them.
    const QString topic = valueTopic(station, QStringLiteral("identity"));
    const QJsonObject identity = m_stations.value(station).drive.identity().toJson();
    Published published{identity, compact(identity), m_clock.elapsed()};
    m_client.publish(topic, published.payload, m_settings.qos, true);
    ++m_counters.published;
    m_published.insert(topic, published);
}

void Bridge::updateStationStatus(int station)
{
    Station &state = m_stations[station];
    const QByteArray status = state.silent                     ? QByteArrayLiteral("silent")
                              : state.drive.isAnotherDrive()     ? QByteArrayLiteral("another drive")
                              : !state.drive.refusal().isEmpty() ? QByteArrayLiteral("not identified")
                                                                 : QByteArrayLiteral("online");
    if (state.status == status)
        return;
    state.status = status;
    publishStatus(stationTopic(station), status);
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->stationStatusChanged(station, status);
}

void Bridge::publishStatus(const QString &topic, const QByteArray &status)
{
    // Before the connection they go out on connecting: a QoS 1 message queued during
    // the TLS handshake was seen to hold the connect up for seconds.
    if (m_connected)
        m_client.publish(topic, status, 1, true);
}

bool Bridge::acceptsResponseTopic(const QString &topic) const
{
    // Under the prefix, and a name rather than a pattern.
    return topic.startsWith(m_replyPrefix + QLatin1Char('/'))
           && topic.size() > m_replyPrefix.size() + 1
           && !topic.contains(QLatin1Char('+')) && !topic.contains(QLatin1Char('#'));
}

void Bridge::publishValue(int station, const CatalogueEntry &entry, const QJsonObject &content)
{
    for (BridgeConvention *convention : qAsConst(m_conventions))
        convention->valueRead(station, entry, content);
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
    if (write.from) {
        write.from->writeSettled(write.request, result);
        return;
    }
    result.insert(QStringLiteral("ts"), now());
    if (acceptsResponseTopic(write.responseTopic))
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
                      {QStringLiteral("writesRefused"), double(m_counters.writesRefused)},
                      {QStringLiteral("writesUnknown"), double(m_counters.writesUnknown)},
                      {QStringLiteral("published"), double(m_counters.published)}};
    if (m_linkStatistics)
        stats.insert(QStringLiteral("link"), m_linkStatistics());
    m_client.publish(statsTopic(), compact(stats), m_settings.qos, true);
}
