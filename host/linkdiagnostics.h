// Per-station diagnostics of a bus: what a commissioning engineer asks first when a
// servo misbehaves. How often was it asked, how often did it answer, how many retries
// did that take, which errors came and when, and how fast does it reply.
//
// DiagnosticLink wraps the link a host hands to the driver and sees every exchange:
// each request telegram sent (one per attempt) and the time until the first reply byte
// (the reply latency). The driver's verdict is the host's to give: after each request
// the host calls finishRequest with the driver's error flag and text.
//
//   requests   requests the host finished on the station
//   successes  of them, without the error flag
//   retries    attempts beyond the first, over all requests
//   errors     failed requests, also by error text
//   latency    first reply byte after the request telegram: min, median, max
//
// The median is taken over the latest 1024 replies, so that a long watch keeps a
// bounded memory and shows the bus as it is now.
#ifndef LUSTBUS_LINKDIAGNOSTICS_H
#define LUSTBUS_LINKDIAGNOSTICS_H

#include "driverinterface.h"
#include "linkclock.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QMutex>
#include <QtCore/QString>

struct StationDiagnostics
{
    int station = 0;
    quint64 requests = 0;
    quint64 successes = 0;
    quint64 retries = 0;
    quint64 errors = 0;
    QMap<QString, quint64> errorsByText;
    QString lastError;
    QDateTime lastErrorTime; //!< UTC; invalid while no error came
    quint64 replies = 0;     //!< attempts that saw a first reply byte
    qint64 latencyMinUs = -1; //!< -1 while no reply came
    qint64 latencyMedianUs = -1;
    qint64 latencyMaxUs = -1;

    QJsonObject toJson() const;
};

class LinkDiagnostics
{
public:
    static constexpr int LatencyWindow = 1024;

    // The clock of the latencies; it must outlive the diagnostics.
    explicit LinkDiagnostics(const LinkClock &clock = LinkClock::steady());

    qint64 nowUs() const { return m_clock->nowUs(); }

    // The link's side: an attempt began on the station, a reply's first byte came.
    void attemptStarted(int station);
    void replyStarted(int station, qint64 latencyUs);
    // The host's side, after the driver's read or write returned.
    void finishRequest(int station, bool failed, const QString &errorText);

    StationDiagnostics station(int station) const;
    QList<StationDiagnostics> stations() const; //!< by station number
    void clear();

    QJsonObject toJson() const; //!< {"stations": [...]}
    QString toText() const;     //!< a table for a terminal, one line per station

private:
    struct Record
    {
        StationDiagnostics counts;
        quint64 attempts = 0; //!< of the request now running
        QList<qint64> latencies; //!< latest LatencyWindow, oldest first
    };

    static StationDiagnostics summary(const Record &record);

    const LinkClock *m_clock;
    mutable QMutex m_mutex;
    QMap<int, Record> m_records;
};

// Forwards every call to the wrapped link and tells diagnostics about each attempt
// and the latency of its reply. A request telegram is a send that the wire codec
// recognises as one, for the station it names; the EOT that closes an exchange is not
// an attempt.
class DiagnosticLink : public LinkDevice
{
public:
    DiagnosticLink(LinkDevice &link, LinkDiagnostics &diagnostics);

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override;
    int stationId() const override;
    int delayMs() const override;

    // After the driver's read or write on this link: its error flag and text, for the
    // station the link addresses now.
    void finishRequest(bool failed, const QString &errorText);

private:
    void noteReceived(int result);

    LinkDevice &m_link;
    LinkDiagnostics &m_diagnostics;
    qint64 m_sentAt = -1; //!< of the latest request telegram, until its reply starts
    int m_station = 0;
};

#endif // LUSTBUS_LINKDIAGNOSTICS_H
