#include "linkdiagnostics.h"

#include "wirecodec.h"

#include <QtCore/QJsonArray>
#include <QtCore/QMutexLocker>

#include <algorithm>

namespace {

QString milliseconds(qint64 us)
{
    return us < 0 ? QStringLiteral("-") : QString::number(double(us) / 1000.0, 'f', 1);
}

} // namespace

QJsonObject StationDiagnostics::toJson() const
{
    QJsonObject byText;
    for (auto it = errorsByText.cbegin(); it != errorsByText.cend(); ++it)
        byText.insert(it.key(), double(it.value()));
    QJsonObject latency;
    latency.insert(QStringLiteral("replies"), double(replies));
    if (replies > 0) {
        latency.insert(QStringLiteral("minMs"), double(latencyMinUs) / 1000.0);
        latency.insert(QStringLiteral("medianMs"), double(latencyMedianUs) / 1000.0);
        latency.insert(QStringLiteral("maxMs"), double(latencyMaxUs) / 1000.0);
    }
    QJsonObject o;
    o.insert(QStringLiteral("station"), station);
    o.insert(QStringLiteral("requests"), double(requests));
    o.insert(QStringLiteral("successes"), double(successes));
    o.insert(QStringLiteral("retries"), double(retries));
    o.insert(QStringLiteral("errors"), double(errors));
    o.insert(QStringLiteral("errorsByText"), byText);
    o.insert(QStringLiteral("lastError"), lastError.isEmpty() ? QJsonValue() : QJsonValue(lastError));
    o.insert(QStringLiteral("lastErrorTime"),
             lastErrorTime.isValid() ? QJsonValue(lastErrorTime.toString(Qt::ISODateWithMs))
                                     : QJsonValue());
    o.insert(QStringLiteral("latency"), latency);
    return o;
}

LinkDiagnostics::LinkDiagnostics(const LinkClock &clock) : m_clock(&clock)
{
}

void LinkDiagnostics::attemptStarted(int station)
{
    QMutexLocker lock(&m_mutex);
    Record &record = m_records[station];
    record.counts.station = station;
    ++record.attempts;
}

void LinkDiagnostics::replyStarted(int station, qint64 latencyUs)
{
    QMutexLocker lock(&m_mutex);
    Record &record = m_records[station];
    record.counts.station = station;
    ++record.counts.replies;
    record.latencies.append(latencyUs);
    if (record.latencies.size() > LatencyWindow)
        record.latencies.removeFirst();
    StationDiagnostics &c = record.counts;
    c.latencyMinUs = c.latencyMinUs < 0 ? latencyUs : qMin(c.latencyMinUs, latencyUs);
    c.latencyMaxUs = qMax(c.latencyMaxUs, latencyUs);
}

void LinkDiagnostics::finishRequest(int station, bool failed, const QString &errorText)
{
    QMutexLocker lock(&m_mutex);
    Record &record = m_records[station];
    StationDiagnostics &c = record.counts;
    c.station = station;
    ++c.requests;
    // A request refused before anything was sent made no attempt, and no retry.
    if (record.attempts > 1)
        c.retries += record.attempts - 1;
    record.attempts = 0;
    if (failed) {
        ++c.errors;
        ++c.errorsByText[errorText];
        c.lastError = errorText;
        c.lastErrorTime = QDateTime::currentDateTimeUtc();
    } else {
        ++c.successes;
    }
}

StationDiagnostics LinkDiagnostics::summary(const Record &record)
{
    StationDiagnostics s = record.counts;
    if (!record.latencies.isEmpty()) {
        QList<qint64> sorted = record.latencies;
        const auto middle = sorted.begin() + sorted.size() / 2;
        std::nth_element(sorted.begin(), middle, sorted.end());
        s.latencyMedianUs = *middle;
    }
    return s;
}

StationDiagnostics LinkDiagnostics::station(int station) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(station);
    if (it == m_records.cend()) {
        StationDiagnostics none;
        none.station = station;
        return none;
    }
    return summary(*it);
}

QList<StationDiagnostics> LinkDiagnostics::stations() const
{
    QMutexLocker lock(&m_mutex);
    QList<StationDiagnostics> list;
    for (const Record &record : m_records)
        list.append(summary(record));
    return list;
}

void LinkDiagnostics::clear()
{
    QMutexLocker lock(&m_mutex);
    m_records.clear();
}

QJsonObject LinkDiagnostics::toJson() const
{
    QJsonArray list;
    for (const StationDiagnostics &s : stations())
        list.append(s.toJson());
    QJsonObject o;
    o.insert(QStringLiteral("stations"), list);
    return o;
}

QString LinkDiagnostics::toText() const
{
    QString text = QStringLiteral("station  requests  ok  retries  errors  latency min/median/max ms  last error\n");
    for (const StationDiagnostics &s : stations()) {
        const QString latency = QStringLiteral("%1/%2/%3")
                                    .arg(milliseconds(s.latencyMinUs),
                                         milliseconds(s.latencyMedianUs),
                                         milliseconds(s.latencyMaxUs));
        QString last = s.lastError;
        if (s.lastErrorTime.isValid())
            last += QStringLiteral(" (%1)").arg(s.lastErrorTime.toString(Qt::ISODate));
        text += QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n")
                    .arg(s.station, 7)
                    .arg(s.requests, 8)
                    .arg(s.successes, 2)
                    .arg(s.retries, 7)
                    .arg(s.errors, 6)
                    .arg(latency, 25)
                    .arg(last);
        for (auto it = s.errorsByText.cbegin(); it != s.errorsByText.cend(); ++it)
            text += QStringLiteral("         %1 x %2\n").arg(it.value(), 6).arg(it.key());
    }
    return text;
}

DiagnosticLink::DiagnosticLink(LinkDevice &link, LinkDiagnostics &diagnostics)
    : m_link(link)
    , m_diagnostics(diagnostics)
{
}

void DiagnosticLink::noteReceived(int result)
{
    if (result > 0 && m_sentAt >= 0) {
        m_diagnostics.replyStarted(m_station, m_diagnostics.nowUs() - m_sentAt);
        m_sentAt = -1;
    }
}

int DiagnosticLink::receiveExact(char *data, int count)
{
    const int result = m_link.receiveExact(data, count);
    noteReceived(result);
    return result;
}

int DiagnosticLink::receive(char *data, int room)
{
    const int result = m_link.receive(data, room);
    noteReceived(result);
    return result;
}

int DiagnosticLink::send(const char *data, int count)
{
    const LustBus::RequestScan scan = LustBus::scanRequest(data, data ? count : 0);
    const int result = m_link.send(data, count);
    if (scan.status == LustBus::RequestScan::Complete) {
        m_station = scan.request.station;
        m_diagnostics.attemptStarted(m_station);
        m_sentAt = m_diagnostics.nowUs();
    }
    return result;
}

QVariant DiagnosticLink::control(int code, const QVariant &value)
{
    return m_link.control(code, value);
}

int DiagnosticLink::retryCount() const
{
    return m_link.retryCount();
}

int DiagnosticLink::stationId() const
{
    return m_link.stationId();
}

int DiagnosticLink::delayMs() const
{
    return m_link.delayMs();
}

void DiagnosticLink::finishRequest(bool failed, const QString &errorText)
{
    m_sentAt = -1;
    m_diagnostics.finishRequest(m_link.stationId() & 0xFF, failed, errorText);
}
