// Parameter sets in lustbus web: backups (the set as lustbus backup writes it),
// restores with a preview of the differences first, comparisons of two sets or of a
// set with the live drive, and scans of the bus. Each runs on the bus owner's thread
// one parameter (or station) per action turn; restores and scans go on without the
// client that started them, their progress as "restore" and "scan" events and their
// state kept for GET /api/restore/N.
//
// A restore needs a preview of the same set on the same station first: its token,
// which names both, says that the user saw the differences.
#ifndef LUSTBUS_WEBSETS_H
#define LUSTBUS_WEBSETS_H

#include "parameterset.h"
#include "webbus.h"

#include <QtCore/QHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonObject>

#include <mutex>

class WebSets
{
public:
    static constexpr int KeptTokens = 32;
    static constexpr int KeptRestores = 32;

    explicit WebSets(WebBus &bus) : m_bus(bus) {}

    // Any thread: each hands its work to the bus and waits for it (the restore and the
    // scan only for their start).
    WebBus::Reply backup(int station);
    WebBus::Reply preview(int station, const QJsonObject &set);
    WebBus::Reply restore(int station, const QJsonObject &set, const QString &token,
                          const QString &user);
    WebBus::Reply restoreState(int id) const;
    WebBus::Reply compare(const QJsonObject &a, const QJsonObject &b);
    WebBus::Reply compareLive(const QJsonObject &a, int station);
    WebBus::Reply scan(int from, int to);

private:
    struct Restore;
    using Done = std::function<void(const ParameterSet &, WebBus::Reply *)>;

    // The set of a request; false with 400 (no set) or, with sameCatalogue, 422 (names
    // the catalogue does not have).
    bool readSet(const QJsonObject &json, const char *field, ParameterSet *set,
                 WebBus::Reply *refusal, bool sameCatalogue = true) const;
    // A backup of station in steps; done makes the reply from the set.
    std::function<bool(WebBus::Reply *)> backupSteps(int station, Done done);
    // One parameter of a restore; true once it is finished.
    bool restoreStep(Restore &restore);
    static QByteArray fingerprint(int station, const ParameterSet &set);
    static WebBus::Reply comparison(const ParameterSet &a, const ParameterSet &b);
    // Sends the restore's state as an event and keeps it, with newItem (if any) added to
    // the items kept for GET /api/restore/N: the events carry only their own item.
    void publish(const Restore &restore, const QJsonObject &newItem = QJsonObject());

    WebBus &m_bus;
    mutable std::mutex m_mutex;
    QHash<QByteArray, QByteArray> m_tokens; //!< preview token: the fingerprint it names
    QList<QByteArray> m_tokenOrder;
    struct Kept
    {
        QJsonObject last; //!< the last event
        QJsonArray items; //!< every item so far, at most one per parameter of the set
    };
    QHash<int, Kept> m_restores; //!< by id
    int m_lastId = 0;
};

#endif // LUSTBUS_WEBSETS_H
