// The bus as lustbus web uses it: one owner, the thread the link was opened on, that
// sends every request. The HTTP threads never touch the bus: they hand it jobs
// (call, post) and take what it gives to their live streams.
//
// Work comes in three lanes, served in fair turns of one request each (several turns
// follow one another for up to PassMs before the event loop has its turn): the table (the
// union of every live stream's table names, read round by round, a round at most every
// MinRoundMs), the trend (the union of their trend names, read one after the other as
// fast as its turns allow) and actions (writes, reads, scans, backups, restores), the
// oldest first; a long action takes one step per turn.
//
// A station that left SilentAfter requests in a row without a response is silent: its
// values are "not tried", writes to it are refused without sending, and it is asked
// once (one attempt) every SilentProbeMs until it answers. Writes go only to a drive
// identified at a station: its identity is read before the first write to it, and again
// once the link was reopened, the bus came back or the station answered after being
// silent; the write is held to the link as it was then (BusAccess::holdWritesTo). Once
// another drive answers there, no write goes to it until lustbus web is started anew.
#ifndef LUSTBUS_WEBBUS_H
#define LUSTBUS_WEBBUS_H

#include "catalogue.h"
#include "driveidentity.h"
#include "linkbusaccess.h"
#include "stationdrive.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QJsonObject>
#include <QtCore/QObject>
#include <QtCore/QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class LinkDiagnostics;
class LiveStream;
class QSocketNotifier;
class QTimer;

class WebBus : public QObject
{
    Q_OBJECT
public:
    static constexpr int MinRoundMs = 200;
    static constexpr int PassMs = 20;
    static constexpr int SilentAfter = 2;
    static constexpr int SilentProbeMs = 2000;
    static constexpr int TraceLines = 500;
    // A station's identity is read by itself when it first answers, and tried again at
    // most this often while it cannot be read.
    static constexpr int IdentityRetryMs = 5000;

    struct Settings
    {
        QList<int> stations;
        QString link; //!< for the page: the link factory's text, "sim, on ..." for --sim
        QString linkDescription; //!< the link factory's, for messages
    };
    // An HTTP status and its JSON body.
    struct Reply
    {
        Reply() = default;
        Reply(int status, const QJsonObject &body) : status(status), body(body) {}

        int status = 200;
        QJsonObject body;
        QByteArray file;  //!< when not empty, sent instead of body as a download
        QString fileName; //!< of the download
    };
    // A step of a long action, on the owner's thread: true once it is finished.
    using Step = std::function<bool()>;

    // catalogue may be null: parameters are then named by address texts only.
    WebBus(const LustBus::Catalogue *catalogue, LinkBusAccess &bus, const Settings &settings,
           LinkDiagnostics *diagnostics, QObject *parent = nullptr);
    ~WebBus() override;

    // Any thread.
    const LustBus::Catalogue *catalogue() const { return m_catalogue; }
    const Settings &settings() const { return m_settings; }
    bool hasStation(int station) const { return m_settings.stations.contains(station); }
    // A catalogue name or a simple address text (INT16:12) as an entry; false with
    // "no parameter 'NAME' in CATALOGUE" or what is wrong with the text.
    bool resolve(const QString &name, LustBus::CatalogueEntry *entry, QString *error) const;
    // Runs job in the action lane and waits up to timeoutMs for its reply; 503 when the
    // bus did not get to it in time or the server stops.
    Reply call(const std::function<Reply()> &job, int timeoutMs = 60000);
    // The same for a job of several steps, one per action turn: step() returns true with
    // the reply once it is finished.
    Reply run(const std::function<bool(Reply *)> &step, int timeoutMs = 120000);
    // A long action: step() once per action turn until it returns true. cancelled() is
    // called instead when the server stops first.
    void post(Step step, std::function<void()> cancelled = {});
    void addStream(const std::shared_ptr<LiveStream> &stream);
    void removeStream(const std::shared_ptr<LiveStream> &stream);
    int streamCount() const;
    // To every stream (scan and restore progress).
    void broadcast(const char *event, const QJsonObject &data);
    QStringList traceLines() const;
    // The link's trace sink; on the owner's thread.
    void addTraceLine(const QString &line);

    // The owner's thread, in a job.
    LinkBusAccess &bus() { return m_bus; }
    // A read as the table does it: the value or why not, for a silent station without
    // sending; "ts" when it was read.
    QJsonObject readOne(int station, const LustBus::CatalogueEntry &entry);
    // Empty when station holds the drive identified there (its identity read when due),
    // else why no write may go to it; *stopped when the program is to end.
    QString writeRefusal(int station);
    // Writes go out only on the link as it was when station's drive was identified.
    void holdWritesFor(int station);
    // "write by USER: station N NAME OLD -> NEW: OUTCOME" on the log.
    void logWrite(const QString &user, int station, const QString &name, const QJsonValue &old,
                  const QJsonValue &now, const QString &outcome) const;
    // A checked write as the page asks for it; user for the log.
    Reply write(int station, const LustBus::CatalogueEntry &entry, const QJsonValue &value,
                const QString &user);
    // The identity first read at station; empty when none was.
    DriveIdentity identity(int station) const { return m_stations.value(station).drive.identity(); }
    // Whether the program is to end.
    bool isEnding() const { return m_ended; }
    // The /api/bus object.
    QJsonObject busJson() const;
    // What the line did with a request to station: bus and station states follow it.
    void noteLine(int station, const BusAccess::Result &result, qint64 tookUs);

    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }
    void start();
    // No more turns; waiting calls get 503 and streams end.
    void stop();

signals:
    // The bus access said the program is to end.
    void ended();

private:
    enum Lane { TableLane, TrendLane, ActionLane, Lanes };
    struct Station
    {
        int noResponses = 0;
        bool silent = false;
        qint64 probeAtMs = 0;
        StationDrive drive;
        bool answered = false; //!< at least once
        qint64 identityTriedMs = -IdentityRetryMs; //!< the last read of its identity
        qint64 busyUs = 0; //!< on the line since the last bus event
        double busUsePercent = 0;
    };
    struct Action
    {
        Step step;
        std::function<void()> cancelled;
    };
    // One parameter of a round or of the trend.
    struct Read
    {
        int station;
        QString name;
    };

    // The next turn through the event loop; from any thread.
    void schedule();
    // The owner's side of a wake from another thread.
    void onWake();
    void turn();
    bool runTable();
    bool runTrend();
    void makeTrend();
    bool runAction();
    void finishRound();
    // Streams are held in a std::vector, never in an implicitly shared list: a copy
    // taken under the lock must not share its data with the HTTP threads' list.
    using Streams = std::vector<std::shared_ptr<LiveStream>>;
    Streams streams() const;
    // Reads and notes it; false once the program is to end.
    BusAccess::Result timedRead(int station, const LustBus::CatalogueEntry &entry,
                                QJsonValue *value, bool once);
    bool isResting(int station) const;
    bool identityDue(int station) const;
    void checkIdentity(int station);
    QString status(int station) const;
    // Settles a write that got no valid reply by reading it back.
    Reply settle(int station, const LustBus::CatalogueEntry &entry, const BusAccess::Result &written,
                 const QJsonValue &sent, QJsonObject reply);
    void tick();
    void log(const QString &line) const;
    void end();

    const LustBus::Catalogue *m_catalogue;
    QList<LustBus::CatalogueEntry> m_identityEntries;
    LinkBusAccess &m_bus;
    Settings m_settings;
    LinkDiagnostics *m_diagnostics;
    std::function<void(const QString &)> m_log;

    // Shared with the HTTP threads.
    mutable std::mutex m_mutex;
    std::deque<Action> m_actions;
    Streams m_streams;
    quint64 m_streamsChanged = 0; //!< counts additions and removals
    QStringList m_trace;
    bool m_stopped = false;
    // Other threads wake the owner through an eventfd rather than a queued call: the
    // owner takes every job from m_actions under m_mutex, so a wake carries nothing.
    int m_wakeFd = -1;
    QSocketNotifier *m_wake = nullptr;
    bool m_scheduled = false; //!< the owner's: a turn is queued

    // The owner's.
    int m_nextLane = TableLane;
    QList<Read> m_round; //!< what is left of the table round
    bool m_roundRunning = false;
    qint64 m_roundStartedMs = -MinRoundMs;
    // The union of the streams' trend names, resolved, with the streams that take each:
    // made again only when the streams changed, not for every sample.
    struct TrendRead
    {
        int station = 0;
        QString name;
        LustBus::CatalogueEntry entry;
        Streams streams;
    };
    QList<TrendRead> m_trend;
    quint64 m_trendMadeAt = ~quint64(0); //!< m_streamsChanged when m_trend was made
    int m_trendIndex = 0;
    QHash<QString, QJsonObject> m_values; //!< "STATION/NAME": the last read
    QHash<int, Station> m_stations;
    QStringList m_newTrace; //!< since the last trace event
    bool m_busLost = false;
    bool m_ended = false;
    QElapsedTimer m_clock;
    qint64 m_busEventMs = 0;
    QTimer *m_tick = nullptr;
};

#endif // LUSTBUS_WEBBUS_H
