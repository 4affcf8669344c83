#include "webbus.h"

#include "addresscheck.h"
#include "addresstext.h"
#include "errortexts.h"
#include "linkdiagnostics.h"
#include "livestream.h"
#include "requestguard.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QSocketNotifier>
#include <QtCore/QThread>
#include <QtCore/QTimer>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

using LustBus::Catalogue;
using LustBus::CatalogueEntry;

namespace {

constexpr int TickMs = 100;
constexpr int BusEventMs = 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString key(int station, const QString &name)
{
    return QString::number(station) + QLatin1Char('/') + name;
}

// One JSON value as text, for the log: 5, "text", [1,2].
QString jsonText(const QJsonValue &value)
{
    if (value.isUndefined() || value.isNull())
        return QStringLiteral("-");
    const QByteArray list = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(list.mid(1, list.size() - 2));
}

QJsonValue orNull(const QJsonValue &value)
{
    return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
}

} // namespace

WebBus::WebBus(const Catalogue *catalogue, LinkBusAccess &bus, const Settings &settings,
               LinkDiagnostics *diagnostics, QObject *parent)
    : QObject(parent), m_catalogue(catalogue),
      m_identityEntries(catalogue ? DriveIdentity::entries(*catalogue)
                                  : QList<CatalogueEntry>()),
      m_bus(bus), m_settings(settings), m_diagnostics(diagnostics)
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        m_wake = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(m_wake, &QSocketNotifier::activated, this, &WebBus::onWake);
    }
    for (int station : qAsConst(m_settings.stations)) {
        Station state;
        state.drive = StationDrive(station, m_settings.linkDescription,
                                   QStringLiteral("lustbus web is started anew"));
        m_stations.insert(station, state);
    }
    m_clock.start();
}

WebBus::~WebBus()
{
    stop();
    delete m_wake;
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool WebBus::resolve(const QString &name, CatalogueEntry *entry, QString *error) const
{
    if (!name.contains(QLatin1Char(':'))) {
        const CatalogueEntry *found = m_catalogue ? m_catalogue->find(name) : nullptr;
        if (!found) {
            *error = m_catalogue ? QStringLiteral("no parameter '%1' in %2")
                                       .arg(name, m_catalogue->fileName())
                                 : QStringLiteral("no parameter '%1': without a catalogue, "
                                                  "name parameters as TYPE:NUMBER")
                                       .arg(name);
            return false;
        }
        *entry = *found;
        return true;
    }
    LustBus::ParameterAddress address;
    QString problem = AddressCheck::problem(name);
    if (problem.isEmpty() && (!LustBus::parseParameterAddress(name, address)
                              || address.index >= 0 || name.contains(QLatin1Char('.'))
                              || address.parameter < 0 || address.parameter > 0xFFFF))
        problem = QStringLiteral("bad address '%1': expected TYPE:NUMBER, a simple parameter")
                      .arg(name);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    *entry = CatalogueEntry();
    entry->name = name;
    entry->number = quint16(address.parameter);
    entry->type = address.type;
    return true;
}

WebBus::Reply WebBus::call(const std::function<Reply()> &job, int timeoutMs)
{
    return run([job](Reply *reply) {
        *reply = job();
        return true;
    }, timeoutMs);
}

WebBus::Reply WebBus::run(const std::function<bool(Reply *)> &step, int timeoutMs)
{
    struct Waiting
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        Reply reply;
    };
    auto waiting = std::make_shared<Waiting>();
    const auto finish = [waiting](const Reply &reply) {
        std::lock_guard<std::mutex> lock(waiting->mutex);
        waiting->reply = reply;
        waiting->finished = true;
        waiting->done.notify_all();
    };
    post([step, finish] {
        Reply reply;
        if (!step(&reply))
            return false;
        finish(reply);
        return true;
    }, [finish] { finish({503, {{QStringLiteral("error"), QStringLiteral("the server stops")}}}); });
    std::unique_lock<std::mutex> lock(waiting->mutex);
    if (!waiting->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&waiting] { return waiting->finished; }))
        return {503, {{QStringLiteral("error"),
                       QStringLiteral("the bus did not get to the request within %1 s")
                           .arg(timeoutMs / 1000)}}};
    return waiting->reply;
}

void WebBus::post(Step step, std::function<void()> cancelled)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopped) {
            m_actions.push_back({std::move(step), std::move(cancelled)});
            cancelled = nullptr;
        }
    }
    if (cancelled)
        cancelled();
    schedule();
}

void WebBus::addStream(const std::shared_ptr<LiveStream> &stream)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streams.push_back(stream);
        ++m_streamsChanged;
    }
    schedule();
}

void WebBus::removeStream(const std::shared_ptr<LiveStream> &stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.erase(std::remove(m_streams.begin(), m_streams.end(), stream), m_streams.end());
    ++m_streamsChanged;
}

int WebBus::streamCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_streams.size());
}

WebBus::Streams WebBus::streams() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streams;
}

void WebBus::broadcast(const char *event, const QJsonObject &data)
{
    for (const auto &stream : streams())
        stream->pushEvent(event, data);
}

QStringList WebBus::traceLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trace;
}

void WebBus::addTraceLine(const QString &line)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_trace.append(line);
        if (m_trace.size() > TraceLines)
            m_trace.removeFirst();
    }
    m_newTrace.append(line);
    if (m_newTrace.size() > TraceLines)
        m_newTrace.removeFirst();
}

void WebBus::start()
{
    m_tick = new QTimer(this);
    connect(m_tick, &QTimer::timeout, this, &WebBus::tick);
    m_tick->start(TickMs);
    schedule();
}

void WebBus::stop()
{
    std::deque<Action> actions;
    Streams streams;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        actions.swap(m_actions);
        streams = m_streams;
    }
    for (const Action &action : actions) {
        if (action.cancelled)
            action.cancelled();
    }
    for (const auto &stream : streams)
        stream->close();
    if (m_tick)
        m_tick->stop();
}

void WebBus::end()
{
    if (m_ended)
        return;
    m_ended = true;
    emit ended();
}

void WebBus::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

void WebBus::schedule()
{
    if (QThread::currentThread() != thread()) {
        const quint64 one = 1;
        if (m_wakeFd >= 0 && ::write(m_wakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
            qWarning("lustbus web: cannot wake the bus owner: %s", strerror(errno));
        return;
    }
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, [this] {
        m_scheduled = false;
        turn();
    }, Qt::QueuedConnection);
}

void WebBus::onWake()
{
    quint64 count = 0;
    if (::read(m_wakeFd, &count, sizeof count) < 0 && errno != EAGAIN)
        qWarning("lustbus web: cannot read the bus owner's wake: %s", strerror(errno));
    schedule();
}

void WebBus::turn()
{
    // Requests follow one another without a pass through the event loop: the lanes
    // take the HTTP threads' jobs from their queue between two of them anyway. The
    // loop (the tick, the wake, a stop) gets its turn at least every PassMs.
    QElapsedTimer pass;
    pass.start();
    while (!m_ended) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopped)
                return;
        }
        bool worked = false;
        for (int i = 0; i < Lanes && !worked && !m_ended; ++i) {
            const int lane = (m_nextLane + i) % Lanes;
            worked = lane == TableLane   ? runTable()
                     : lane == TrendLane ? runTrend()
                                         : runAction();
            if (worked)
                m_nextLane = (lane + 1) % Lanes;
        }
        // Nothing to do: a new job, a stream or the tick wakes it.
        if (!worked)
            return;
        if (pass.elapsed() >= PassMs) {
            schedule();
            return;
        }
    }
}

bool WebBus::runAction()
{
    Action action;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_actions.empty())
            return false;
        action = std::move(m_actions.front());
        m_actions.pop_front();
    }
    if (action.step())
        return true;
    // Not finished: its next step after the others waiting.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped) {
        if (action.cancelled)
            action.cancelled();
    } else {
        m_actions.push_back(std::move(action));
    }
    return true;
}

bool WebBus::runTable()
{
    if (!m_roundRunning) {
        if (m_clock.elapsed() - m_roundStartedMs < MinRoundMs)
            return false;
        QSet<QString> seen;
        m_round.clear();
        for (const auto &stream : streams()) {
            for (const QString &name : stream->table) {
                if (!seen.contains(key(stream->station, name))) {
                    seen.insert(key(stream->station, name));
                    m_round.append({stream->station, name});
                }
            }
        }
        if (m_round.isEmpty())
            return false;
        m_roundRunning = true;
        m_roundStartedMs = m_clock.elapsed();
    }
    // Which drive answers, for the page, before its values.
    const int station = m_round.first().station;
    if (m_stations.contains(station) && identityDue(station) && !m_stations[station].silent
        && m_stations[station].answered
        && m_clock.elapsed() - m_stations[station].identityTriedMs >= IdentityRetryMs) {
        checkIdentity(station);
        return true;
    }
    const Read read = m_round.takeFirst();
    CatalogueEntry entry;
    QString error;
    if (resolve(read.name, &entry, &error))
        m_values.insert(key(read.station, read.name), readOne(read.station, entry));
    if (m_round.isEmpty())
        finishRound();
    return true;
}

void WebBus::finishRound()
{
    m_roundRunning = false;
    for (const auto &stream : streams()) {
        QJsonArray values;
        for (const QString &name : stream->table) {
            QJsonObject value = m_values.value(key(stream->station, name));
            if (value.isEmpty())
                continue; // came with a stream that joined during the round
            value.insert(QStringLiteral("name"), name);
            values.append(value);
        }
        if (!values.isEmpty())
            stream->pushEvent("values", {{QStringLiteral("station"), stream->station},
                                         {QStringLiteral("values"), values}});
    }
}

void WebBus::makeTrend()
{
    Streams all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_trendMadeAt == m_streamsChanged)
            return;
        m_trendMadeAt = m_streamsChanged;
        all = m_streams;
    }
    m_trend.clear();
    QHash<QString, int> index; // "STATION/NAME": its place in m_trend
    for (const auto &stream : all) {
        for (const QString &name : stream->trend) {
            const QString readKey = key(stream->station, name);
            auto it = index.find(readKey);
            if (it == index.end()) {
                TrendRead read{stream->station, name, {}, {}};
                QString error;
                if (!resolve(name, &read.entry, &error))
                    continue;
                it = index.insert(readKey, int(m_trend.size()));
                m_trend.append(read);
            }
            m_trend[*it].streams.push_back(stream);
        }
    }
}

bool WebBus::runTrend()
{
    makeTrend();
    if (m_trend.isEmpty())
        return false;
    m_trendIndex = (m_trendIndex + 1) % int(m_trend.size());
    const TrendRead &read = m_trend.at(m_trendIndex);
    if (isResting(read.station))
        return false;
    QJsonValue value;
    const BusAccess::Result result = timedRead(read.station, read.entry, &value, false);
    const qint64 at = nowMs();
    // A failed read is counted in the bus's statistics, not sent.
    if (result.outcome != BusAccess::Done || !value.isDouble())
        return true;
    for (const auto &stream : read.streams)
        stream->pushSample(read.name, at, value.toDouble());
    return true;
}

BusAccess::Result WebBus::timedRead(int station, const CatalogueEntry &entry, QJsonValue *value,
                                    bool once)
{
    QElapsedTimer took;
    took.start();
    const BusAccess::Result result = m_bus.read(station, entry, value, once);
    if (result.outcome == BusAccess::Stopped)
        end();
    else
        noteLine(station, result, took.nsecsElapsed() / 1000);
    return result;
}

QJsonObject WebBus::readOne(int station, const CatalogueEntry &entry)
{
    if (isResting(station))
        return {{QStringLiteral("ok"), false},
                {QStringLiteral("error"), RequestGuard::notTriedText(station)},
                {QStringLiteral("ts"), double(nowMs())}};
    QJsonValue value;
    const BusAccess::Result result =
        timedRead(station, entry, &value, m_stations.value(station).silent);
    QJsonObject read{{QStringLiteral("ok"), result.outcome == BusAccess::Done},
                     {QStringLiteral("ts"), double(nowMs())}};
    if (result.outcome == BusAccess::Done)
        read.insert(QStringLiteral("value"), value);
    else
        read.insert(QStringLiteral("error"), result.error);
    return read;
}

bool WebBus::isResting(int station) const
{
    const auto it = m_stations.constFind(station);
    return it != m_stations.cend() && it->silent && m_clock.elapsed() < it->probeAtMs;
}

void WebBus::noteLine(int station, const BusAccess::Result &result, qint64 tookUs)
{
    if (!m_stations.contains(station))
        return;
    Station &state = m_stations[station];
    state.busyUs += tookUs;
    switch (result.line) {
    case BusAccess::NotSent:
        return;
    case BusAccess::LinkLost:
        if (!m_busLost)
            log(QStringLiteral("bus lost: %1").arg(result.linkError));
        m_busLost = true;
        return;
    case BusAccess::Answered:
    case BusAccess::NoResponse:
        break;
    }
    if (m_busLost) {
        m_busLost = false;
        log(QStringLiteral("bus back"));
        // Whatever answers now may have taken the place of a drive.
        for (Station &other : m_stations)
            other.drive.recheck();
    }
    if (result.line == BusAccess::Answered) {
        state.answered = true;
        if (state.silent) {
            log(QStringLiteral("station %1 answers again").arg(station));
            state.drive.recheck();
        }
        state.noResponses = 0;
        state.silent = false;
        return;
    }
    state.probeAtMs = m_clock.elapsed() + SilentProbeMs;
    if (!state.silent && ++state.noResponses >= SilentAfter) {
        state.silent = true;
        log(QStringLiteral("station %1 does not answer; asked once every %2 s until it does")
                .arg(station)
                .arg(SilentProbeMs / 1000));
    }
}

bool WebBus::identityDue(int station) const
{
    return !m_identityEntries.isEmpty() && m_stations.constFind(station)->drive.isDue(m_bus);
}

void WebBus::checkIdentity(int station)
{
    if (!identityDue(station))
        return;
    m_stations[station].identityTriedMs = m_clock.elapsed();
    QElapsedTimer took;
    took.start();
    const BusAccess::Result result = m_stations[station].drive.readNow(m_bus, m_identityEntries);
    if (result.outcome == BusAccess::Stopped) {
        end();
        return;
    }
    noteLine(station, result, took.nsecsElapsed() / 1000);
    const StationDrive &drive = m_stations[station].drive;
    bool identified = false;
    const StationDrive::Change change = m_stations[station].drive.settle(&identified);
    if (identified)
        log(QStringLiteral("%1 is %2").arg(drive.where(), drive.identity().text()));
    if (change == StationDrive::Change::Refused)
        log(drive.refusal());
    else if (change == StationDrive::Change::Back)
        log(QStringLiteral("%1 holds the drive identified there: writes go to it again")
                .arg(drive.where()));
}

QString WebBus::writeRefusal(int station)
{
    if (!m_stations.contains(station))
        return QStringLiteral("station %1 is not one of lustbus web's").arg(station);
    if (m_stations.value(station).silent)
        return RequestGuard::notTriedText(station);
    if (m_identityEntries.isEmpty())
        return m_catalogue ? DriveIdentity::noEntriesText(*m_catalogue)
                           : QStringLiteral("no catalogue names what identifies a drive");
    checkIdentity(station);
    return m_ended ? QStringLiteral("the server stops") : m_stations.value(station).drive.refusal();
}

WebBus::Reply WebBus::write(int station, const CatalogueEntry &entry, const QJsonValue &value,
                            const QString &user)
{
    const auto refused = [](int status, const QString &error) {
        return Reply{status, {{QStringLiteral("outcome"), QStringLiteral("refused")},
                              {QStringLiteral("error"), error}}};
    };
    QByteArray host;
    QString error;
    if (entry.readOnly)
        return refused(422, QStringLiteral("%1 is read-only (\"ro\")").arg(entry.name));
    if (!m_bus.checkValue(entry, value, &host, &error))
        return refused(422, error);
    error = writeRefusal(station);
    if (!error.isEmpty())
        return refused(409, error);
    // The value before, for the log and the page; a failed read does not stop the write.
    QJsonValue old;
    if (timedRead(station, entry, &old, false).outcome == BusAccess::Stopped)
        return refused(503, QStringLiteral("the server stops"));
    holdWritesFor(station);
    QJsonValue sent;
    QElapsedTimer took;
    took.start();
    const BusAccess::Result written = m_bus.write(station, entry, value, &sent);
    if (written.outcome == BusAccess::Stopped) {
        end();
        return refused(503, QStringLiteral("the server stops"));
    }
    noteLine(station, written, took.nsecsElapsed() / 1000);
    QJsonObject body{{QStringLiteral("old"), orNull(old)}};
    Reply reply{200, body};
    if (written.outcome == BusAccess::Unknown) {
        reply = settle(station, entry, written, sent, body);
    } else if (written.outcome == BusAccess::Failed) {
        body.insert(QStringLiteral("outcome"), QStringLiteral("refused"));
        body.insert(QStringLiteral("value"), QJsonValue::Null);
        body.insert(QStringLiteral("error"), written.error);
        reply.body = body;
    } else {
        QJsonValue back;
        const BusAccess::Result read = timedRead(station, entry, &back, false);
        body.insert(QStringLiteral("outcome"), QStringLiteral("done"));
        body.insert(QStringLiteral("value"), orNull(back));
        if (read.outcome != BusAccess::Done)
            body.insert(QStringLiteral("error"),
                        QStringLiteral("written; reading it back failed: %1").arg(read.error));
        reply.body = body;
    }
    // The value as it went out, or as asked for when it did not.
    logWrite(user, station, entry.name, old, sent.isUndefined() ? value : sent,
             reply.body.value(QStringLiteral("outcome")).toString());
    return reply;
}

void WebBus::logWrite(const QString &user, int station, const QString &name,
                      const QJsonValue &old, const QJsonValue &now, const QString &outcome) const
{
    log(QStringLiteral("write by %1: station %2 %3 %4 -> %5: %6")
            .arg(user.isEmpty() ? QStringLiteral("-") : user)
            .arg(station)
            .arg(name, jsonText(old), jsonText(now), outcome));
}

void WebBus::holdWritesFor(int station)
{
    m_bus.holdWritesTo(m_stations.value(station).drive.identifiedAt());
}

WebBus::Reply WebBus::settle(int station, const CatalogueEntry &entry,
                             const BusAccess::Result &written, const QJsonValue &sent,
                             QJsonObject reply)
{
    QJsonValue held;
    const BusAccess::Result back = timedRead(station, entry, &held, false);
    reply.insert(QStringLiteral("value"), orNull(held));
    if (back.outcome != BusAccess::Done) {
        reply.insert(QStringLiteral("outcome"), QStringLiteral("unknown"));
        reply.insert(QStringLiteral("error"),
                     QStringLiteral("%1; reading it back failed too (%2): the servo may hold "
                                    "the new value")
                         .arg(written.error, back.error));
    } else if (held == sent) {
        reply.insert(QStringLiteral("outcome"), QStringLiteral("done"));
        reply.insert(QStringLiteral("error"),
                     QStringLiteral("%1; confirmed by read back").arg(written.error));
    } else {
        reply.insert(QStringLiteral("outcome"), QStringLiteral("refused"));
        reply.insert(QStringLiteral("error"),
                     QStringLiteral("no reply; read back shows %1: not carried out")
                         .arg(jsonText(held)));
    }
    return {200, reply};
}

QString WebBus::status(int station) const
{
    const Station &state = *m_stations.constFind(station);
    if (state.silent)
        return QStringLiteral("silent");
    if (state.drive.isAnotherDrive())
        return QStringLiteral("another drive");
    if (!state.drive.refusal().isEmpty())
        return QStringLiteral("not identified");
    // Without identity entries a station that answers is all that can be said.
    if (!state.drive.identity().isEmpty() || (m_identityEntries.isEmpty() && state.answered))
        return QStringLiteral("online");
    return QStringLiteral("unknown");
}

QJsonObject WebBus::busJson() const
{
    QJsonArray stations;
    for (int station : m_settings.stations) {
        const Station &state = *m_stations.constFind(station);
        QJsonObject object{{QStringLiteral("station"), station},
                           {QStringLiteral("status"), status(station)},
                           {QStringLiteral("identity"),
                            state.drive.identity().isEmpty()
                                ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(state.drive.identity().toJson())},
                           {QStringLiteral("busUsePercent"), state.busUsePercent}};
        const StationDiagnostics counts =
            m_diagnostics ? m_diagnostics->station(station) : StationDiagnostics();
        QJsonObject errors;
        // By kind: the driver's message, without the request it names.
        for (auto it = counts.errorsByText.cbegin(); it != counts.errorsByText.cend(); ++it) {
            const QString kind = LustBus::ErrorText::messageOf(it.key());
            errors.insert(kind, errors.value(kind).toDouble() + double(it.value()));
        }
        object.insert(QStringLiteral("requests"), double(counts.requests));
        object.insert(QStringLiteral("errors"), errors);
        object.insert(QStringLiteral("retries"), double(counts.retries));
        object.insert(QStringLiteral("latencyMs"),
                      counts.latencyMedianUs < 0 ? QJsonValue(QJsonValue::Null)
                                                 : QJsonValue(counts.latencyMedianUs / 1000.0));
        stations.append(object);
    }
    const int reopens = m_bus.reopens();
    return {{QStringLiteral("link"), m_settings.link},
            {QStringLiteral("state"), m_busLost      ? QStringLiteral("lost")
                                      : reopens > 0 ? QStringLiteral("reopened")
                                                    : QStringLiteral("connected")},
            {QStringLiteral("reopens"), reopens},
            {QStringLiteral("stations"), stations}};
}

void WebBus::tick()
{
    const qint64 now = m_clock.elapsed();
    if (!m_newTrace.isEmpty()) {
        broadcast("trace", {{QStringLiteral("lines"), QJsonArray::fromStringList(m_newTrace)}});
        m_newTrace.clear();
    }
    if (now - m_busEventMs >= BusEventMs) {
        // The share of the time since the last event that the station's requests took.
        for (Station &state : m_stations) {
            state.busUsePercent =
                qMin(100.0, double(state.busyUs) / 10.0 / double(qMax<qint64>(1, now - m_busEventMs)));
            state.busyUs = 0;
        }
        m_busEventMs = now;
        broadcast("bus", busJson());
    }
    schedule();
}
