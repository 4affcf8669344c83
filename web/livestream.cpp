#include "livestream.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

#include <algorithm>
#include <chrono>

namespace {

QByteArray eventText(const char *name, const QJsonObject &data)
{
    return QByteArrayLiteral("event: ") + name + QByteArrayLiteral("\ndata: ")
           + QJsonDocument(data).toJson(QJsonDocument::Compact) + QByteArrayLiteral("\n\n");
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

void LiveStream::pushEvent(const char *name, const QJsonObject &data)
{
    const bool values = qstrcmp(name, "values") == 0;
    const QByteArray text = eventText(name, data);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return;
    if (int(m_events.size()) >= MaxEvents) {
        // A newer round replaces an old one; any other event makes room from the front.
        const auto old = std::find_if(m_events.begin(), m_events.end(),
                                      [](const Event &event) { return event.values; });
        m_events.erase(old != m_events.end() ? old : m_events.begin());
    }
    m_events.push_back({values, text});
    m_ready.notify_one();
}

void LiveStream::pushSample(const QString &name, qint64 atMs, double value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return;
    if (int(m_samples.size()) >= MaxSamples) {
        m_samples.pop_front();
        ++m_dropped;
    }
    m_samples.push_back({name, atMs, value});
    m_ready.notify_one();
}

void LiveStream::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_ready.notify_all();
}

bool LiveStream::isClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

quint64 LiveStream::droppedSamples() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

bool LiveStream::samplesDue(qint64 now) const
{
    return !m_samples.empty() && now - m_samplesSentMs >= SamplesEveryMs;
}

QByteArray LiveStream::take(int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (m_closed)
            return QByteArray();
        const qint64 now = nowMs();
        if (!m_events.empty() || samplesDue(now))
            break;
        // Samples that came too soon after the last event wait out the rest of its gap.
        auto wakeAt = until;
        if (!m_samples.empty())
            wakeAt = std::min(wakeAt, std::chrono::steady_clock::now()
                                          + std::chrono::milliseconds(
                                              SamplesEveryMs - (now - m_samplesSentMs)));
        if (m_ready.wait_until(lock, wakeAt) == std::cv_status::timeout
            && std::chrono::steady_clock::now() >= until && m_events.empty()
            && !samplesDue(nowMs()))
            return QByteArray();
    }
    QByteArray text;
    for (const Event &event : m_events)
        text += event.text;
    m_events.clear();
    if (samplesDue(nowMs()))
        text += samplesEvent();
    return text;
}

QByteArray LiveStream::samplesEvent()
{
    QJsonArray samples;
    for (const Sample &sample : m_samples)
        samples.append(QJsonArray{sample.name, double(sample.atMs), sample.value});
    m_samples.clear();
    m_samplesSentMs = nowMs();
    return eventText("samples", {{QStringLiteral("station"), station},
                                 {QStringLiteral("samples"), samples}});
}
