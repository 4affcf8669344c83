// One client's live stream of server-sent events: what the bus owner hands it waits
// here until the stream's HTTP thread takes it. Bounded both ways, so that a client
// that does not keep up loses its oldest data instead of the server growing: at most
// MaxSamples trend samples (the oldest dropped first) and MaxEvents other events (the
// oldest "values" event first, as the next round brings newer ones).
#ifndef LUSTBUS_LIVESTREAM_H
#define LUSTBUS_LIVESTREAM_H

#include <QtCore/QByteArray>
#include <QtCore/QJsonObject>
#include <QtCore/QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>

class LiveStream
{
public:
    static constexpr int MaxSamples = 4096;
    static constexpr int MaxEvents = 64;
    static constexpr int SamplesEveryMs = 20;

    LiveStream(int station, const QStringList &table, const QStringList &trend)
        : station(station), table(table), trend(trend)
    {
    }

    // From the bus owner: an event such as "values", "bus" or "restore".
    void pushEvent(const char *name, const QJsonObject &data);
    void pushSample(const QString &name, qint64 atMs, double value);
    // Wakes the waiting thread for good: the stream ends.
    void close();

    // The stream's thread: the text to send now, waiting up to waitMs for some; empty
    // when nothing came (or the stream was closed).
    QByteArray take(int waitMs);
    bool isClosed() const;
    quint64 droppedSamples() const;

    const int station;
    const QStringList table;
    const QStringList trend;

private:
    struct Sample
    {
        QString name;
        qint64 atMs;
        double value;
    };
    struct Event
    {
        bool values;
        QByteArray text;
    };
    bool samplesDue(qint64 nowMs) const;
    QByteArray samplesEvent();

    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Event> m_events;
    std::deque<Sample> m_samples;
    qint64 m_samplesSentMs = 0;
    quint64 m_dropped = 0;
    bool m_closed = false;
};

#endif // LUSTBUS_LIVESTREAM_H
