// lustbus bridge: a bus's catalogue parameters on an MQTT broker.
//
//   PREFIX/BUS/status             "online", "bus lost" or "offline", retained; "offline"
//                                 is the will
//   PREFIX/BUS/stats              the bridge's and the link's counters, every minute
//   PREFIX/BUS/STATION/status     "online", "silent", "not identified" or "another
//                                 drive", retained
//   PREFIX/BUS/STATION/identity   the drive's identity as first read there, retained:
//                                 {"NAME": value, ...} of the catalogue's identity entries
//   PREFIX/BUS/STATION/NAME       {"value", "unit", "ts", "ok": true} or
//                                 {"ok": false, "error", "ts"}, retained; on a change
//                                 and at least every heartbeat
//   PREFIX/BUS/STATION/NAME/set   a JSON value to write (with writes allowed), published
//                                 without retain
//   PREFIX/BUS/STATION/NAME/result {"ok", "outcome": "done", "refused" or "unknown",
//                                 "value" or "error"}, or the request's MQTT 5 response
//                                 topic, under the reply prefix only, with its
//                                 correlation data
//
// Every poll group is read on every station at its own interval on the thread that
// owns the bridge; a round that takes longer than its interval is counted as an
// overrun and the next one starts once it is over, never stacked. Writes that came in
// go to the bus before the next read, also in the middle of a round, so that a silent
// station delays them by one timeout at most: the bridge asks the client for what came
// in (MqttClient::deliverWaiting) between two requests, and everything it does runs on
// its one thread.
//
// A station whose SilentAfter requests in a row got no response is silent: its values
// are published as not tried, writes to it are refused without sending, and it is
// asked once (one attempt, no retries) SilentProbeFirstMs later, then at doubling
// intervals up to SilentProbeMaxMs, until it answers. A link that fails by itself
// (device gone, connection closed) makes the bus "bus lost" until a request goes
// through again; its stations are not counted as silent meanwhile.
//
// Writes go only to the drive identified at a station (DriveIdentity). Its identity is
// read when the station first answers, and again after the link was reopened, the bus
// came back or the station answered after being silent: in the next round, and in any
// case before the next write, which is held to the link as it was then
// (BusAccess::holdWritesTo). Until it has been read (and reads as first), the status
// is "not identified" and writes to it are refused; once another drive answers there,
// the status is "another drive" and no write goes to it until the bridge is started
// anew. Its values are published all the same: they are what the bus holds.
//
// A set message is taken only as asked for now: one with the retain flag (a stored
// request that the broker hands out at every subscription) is refused, and so is one
// whose MQTT 5 response topic lies outside the reply prefix, whose result then goes to
// .../result, never to the topic it named.
//
// QoS 1 delivers at least once, so a write may come twice. A request that carries
// MQTT 5 correlation data is carried out once: a duplicate of it gets the same result
// without a second write. Without correlation data, a request that repeats the last
// write to the same parameter (same payload) within DuplicateWindowMs, while the
// servo still holds what that write left, is taken for a duplicate in the same way;
// a client that means to write the same value again at once gives each request its
// own correlation data. At most MaxWaitingWrites requests wait for the bus; one more
// is refused as it comes in, before the next request goes to the bus, with a result
// like any other refusal.
#ifndef LUSTBUS_BRIDGE_H
#define LUSTBUS_BRIDGE_H

#include "bridgeconvention.h"
#include "busaccess.h"
#include "catalogue.h"
#include "driveidentity.h"
#include "stationdrive.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QSet>
#include <QtCore/QStringList>

#include <functional>

class MqttClient;
class QTimer;

class Bridge : public QObject
{
    Q_OBJECT
public:
    struct PollGroup
    {
        QStringList names;
        int intervalMs = 1000;
    };
    struct Settings
    {
        QString prefix = QStringLiteral("lustbus");
        QString bus;
        QList<int> stations;
        QList<PollGroup> groups; //!< empty: the whole catalogue at 1000 ms
        int heartbeatSeconds = 60;
        int statsIntervalSeconds = 60;
        bool allowWrites = false;
        int qos = 0;
        QString replyPrefix; //!< empty: PREFIX/replies
        QString link;        //!< the link as messages name it: "tcp 127.0.0.1:5020"
    };
    struct Counters
    {
        quint64 rounds = 0;
        quint64 overruns = 0;
        quint64 reads = 0;
        quint64 readErrors = 0;
        quint64 writes = 0;
        quint64 writesRefused = 0;
        quint64 writesUnknown = 0;
        quint64 published = 0;
    };

    static constexpr int DuplicateWindowMs = 10000;
    // Requests that wait for the bus at most; more are refused at once.
    static constexpr int MaxWaitingWrites = 256;
    static constexpr int SilentAfter = 2;
    static constexpr int SilentProbeFirstMs = 1000;
    static constexpr int SilentProbeMaxMs = 16000;

    // Call stop() before the bridge goes: "offline" goes out only then.
    Bridge(const LustBus::Catalogue &catalogue, BusAccess &bus, MqttClient &client,
           const Settings &settings, QObject *parent = nullptr);
    ~Bridge() override;

    // A topic level as MQTT allows it in a name: not empty, no '+', '#' or '/'
    // (levels: '/' inside allowed, but no empty level). False with the cause.
    static bool checkTopic(const QString &text, bool levels, QString *error);
    // "NAME[,NAME...][@MS]" of --poll; names checked against the catalogue.
    static bool parsePollGroup(const QString &text, const LustBus::Catalogue &catalogue,
                               PollGroup *group, QString *error);

    QString statusTopic() const { return m_base + QStringLiteral("/status"); }
    QString statsTopic() const { return m_base + QStringLiteral("/stats"); }
    QString valueTopic(int station, const QString &name) const;
    QString stationTopic(int station) const;
    const Settings &settings() const { return m_settings; }
    const LustBus::Catalogue &catalogue() const { return m_catalogue; }
    // The bridge has taken the broker connection up (its conventions were told), and
    // no loss came since: on its own thread, unlike MqttClient::isConnected().
    bool isConnected() const { return m_connected; }

    // Told of what happens from now on; the bridge does not own it.
    void addConvention(BridgeConvention *convention) { m_conventions.append(convention); }
    // A convention's write, queued with the set messages and carried out as they are;
    // its result goes to from->writeSettled().
    void requestWrite(const BridgeConvention::WriteRequest &request, BridgeConvention *from);
    // The link's statistics as the stats topic carries them; empty without.
    QJsonObject linkStatistics() const { return m_linkStatistics ? m_linkStatistics() : QJsonObject(); }

    void start();
    // "offline" on the status topic and a clean disconnect.
    void stop();

    const Counters &counters() const { return m_counters; }
    // The link's own statistics for the stats topic.
    void setLinkStatistics(std::function<QJsonObject()> statistics)
    {
        m_linkStatistics = std::move(statistics);
    }
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

signals:
    // The bus access said the program is to end (a signal came).
    void ended();

private:
    struct Published
    {
        QJsonObject content; //!< without "ts": what counts as a change
        QByteArray payload;
        qint64 atMs = 0;
    };
    struct Write
    {
        QString topic; //!< PREFIX/BUS/STATION/NAME/set
        QByteArray payload;
        QString responseTopic; //!< MQTT 5: where the result goes instead of .../result
        QByteArray correlation;
        bool retained = false;
        BridgeConvention *from = nullptr; //!< a convention's: the result goes back to it
        BridgeConvention::WriteRequest request;
    };
    // A parameter a write is for, as its topic names it.
    struct Target
    {
        QString stationLevel;
        QString name;
        int station = -1; //!< -1: not one of the bridge's
        const LustBus::CatalogueEntry *entry = nullptr;

        QString where() const { return stationLevel + QLatin1Char('/') + name; } //!< for the log
    };
    struct Station
    {
        int noResponses = 0; //!< in a row
        bool silent = false;
        qint64 probeAtMs = 0; //!< silent: asked again from then on
        int probeDelayMs = SilentProbeFirstMs;
        QByteArray status; //!< as published; empty before the first answer
        StationDrive drive; //!< the drive identified there, and why writes are refused
    };
    // The last write carried out on a parameter, for duplicates without correlation data.
    struct LastWrite
    {
        QByteArray payload;
        QJsonObject result;
        QJsonObject held; //!< the value topic's content the write left
        qint64 atMs = 0;
    };

    void onConnected();
    // Queues the request for the bus, or refuses it when too many wait already.
    void onMessage(const QString &topic, const QByteArray &payload, const QString &responseTopic,
                   const QByteArray &correlation, bool retained);
    void enqueue(const Write &write);
    void runRound(int group);
    // The writes that came in, in order; false once the program is to end.
    bool runWrites();
    // Takes what the client holds, and logs the writes refused meanwhile for a flood.
    void takeIncoming();
    bool runWrite(const Write &write); //!< false once the program is to end
    // Why the write is not carried out, before anything is sent; empty when it may be.
    QString refusal(const Write &write, const Target &target) const;
    // Sends the value and settles what happened; false once the program is to end.
    bool carryOut(const Write &write, const Target &target, const QJsonValue &value,
                  QJsonObject *result);
    // A write that got no valid reply, read back: done, refused or still unknown.
    bool settle(const Target &target, const BusAccess::Result &written, const QJsonValue &sent,
                QJsonObject *result);
    // Reads the parameter after a write and publishes what the servo holds; false once
    // the program is to end.
    bool readBack(const Target &target, QJsonValue *held, BusAccess::Result *back);
    // value (1, 0, true or false) made the whole value with bit set or cleared, from
    // what the servo holds now; false once the program is to end.
    bool withBit(const Target &target, int bit, QJsonValue *value, QString *error);
    bool isDuplicate(const Write &write, QJsonObject *result) const;
    static QByteArray correlationKey(const Write &write);
    static QJsonObject valueContent(const LustBus::CatalogueEntry &entry, const QJsonValue &value);
    // A silent station's values.
    static QJsonObject notTried(int station);
    void end();
    bool pollOne(int station, const LustBus::CatalogueEntry &entry, bool probe);
    // What the line did with a request to station: bus and station states follow it.
    void noteLine(int station, const BusAccess::Result &result);
    void busLost(const QString &why);
    void busBack();
    void answeredBy(int station);
    void noResponseFrom(int station);
    bool isSilent(int station) const { return m_stations.value(station).silent; }
    // Silent, and its next probe is not due yet: nothing is sent to it.
    bool isResting(int station) const;
    // Whether station's identity is to be read before it is written to.
    bool identityDue(int station) const;
    // Reads it when due and compares it with the first; false once the program is to end.
    bool checkIdentity(int station);
    void publishIdentity(int station);
    // online, silent, not identified or another drive, published when it changes.
    void updateStationStatus(int station);
    void publishStatus(const QString &topic, const QByteArray &status); //!< retained, QoS 1
    QByteArray busStatus() const;
    bool acceptsResponseTopic(const QString &topic) const;
    void publishValue(int station, const LustBus::CatalogueEntry &entry, const QJsonObject &content);
    // Remembers a correlated request's result for its duplicates, then sends it.
    void publishResult(const Write &write, const QJsonObject &result);
    // To the response topic or .../result, with "ts".
    void sendResult(const Write &write, QJsonObject result);
    void publishStats();
    void log(const QString &line) const;

    const LustBus::Catalogue &m_catalogue;
    QList<LustBus::CatalogueEntry> m_identityEntries;
    BusAccess &m_bus;
    MqttClient &m_client;
    Settings m_settings;
    QString m_base;
    QString m_replyPrefix;
    QList<QTimer *> m_timers;
    QTimer *m_statsTimer = nullptr;
    QList<Write> m_waiting; //!< for the bus, in the order they came
    bool m_writesDue = false; //!< runWrites() is queued for them
    quint64 m_overflowed = 0; //!< refused since the last log line: too many waiting
    QHash<QString, Published> m_published; //!< by value topic
    QHash<QString, LastWrite> m_lastWrites; //!< by set topic
    QSet<QString> m_problems; //!< the broker connection's errors logged since the last connect
    // The results of the last requests with correlation data, by set topic and data: a
    // QoS 1 duplicate of one gets its result again and is not written twice.
    QHash<QByteArray, QJsonObject> m_done;
    QList<QByteArray> m_doneOrder;
    QElapsedTimer m_clock;
    Counters m_counters;
    QHash<int, Station> m_stations; //!< every station of the settings, from the start
    bool m_busLost = false;
    qint64 m_busLostAtMs = 0;
    bool m_ended = false;
    bool m_reconnect = false; //!< a connect after the first
    bool m_connected = false; //!< onConnected ran, and no loss came since
    std::function<QJsonObject()> m_linkStatistics;
    QList<BridgeConvention *> m_conventions;
    std::function<void(const QString &)> m_log;
};

#endif // LUSTBUS_BRIDGE_H
