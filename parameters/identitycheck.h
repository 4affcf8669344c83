// The drive at one station of an open link, kept apart from any other that takes its
// place: its identity (DriveIdentity) is read at the start and again once the link was
// reopened since (StreamLink::reconnectCount), and writes are held to the link as it was
// when the identity last agreed (RequestGuard::holdWritesTo).
//
// Messages name the station, the link and both identities:
//   "station 1 on tcp 127.0.0.1:5020: the link was reopened and another drive answers:
//    was drive_type="CDE", firmware_version=66051, now drive_type="CDX", ..."
#ifndef LUSTBUS_IDENTITYCHECK_H
#define LUSTBUS_IDENTITYCHECK_H

#include "driveidentity.h"

#include <memory>

class RequestGuard;
class StreamLink;

class IdentityCheck
{
public:
    enum Outcome {
        Same,       //!< the drive it was (or, at the start, one that could be identified)
        Changed,    //!< another drive answers since the link was reopened
        Unreadable, //!< the identity could not be read (or the catalogue gives none)
        Stopped     //!< a signal came
    };

    IdentityCheck(std::unique_ptr<BusAccess> bus, int station, const QString &link,
                  const StreamLink &stream, RequestGuard &guard,
                  const QList<LustBus::CatalogueEntry> &entries);
    ~IdentityCheck();

    bool canIdentify() const { return !m_entries.isEmpty(); }
    bool identified() const { return !m_identity.isEmpty(); }
    const DriveIdentity &identity() const { return m_identity; }

    // The first read; Unreadable with "cannot identify station N on LINK: ...". Same,
    // with nothing read, when the catalogue gives no identity entries.
    Outcome start(QString *message);
    // After any request: when the link was reopened since the identity was read, reads
    // it again and compares. Same when nothing was reopened.
    Outcome confirm(QString *message);

private:
    Outcome readNow(DriveIdentity *identity, int *reconnects, QString *error);
    QString where() const;

    std::unique_ptr<BusAccess> m_bus;
    int m_station;
    QString m_link;
    const StreamLink &m_stream;
    RequestGuard &m_guard;
    QList<LustBus::CatalogueEntry> m_entries;
    DriveIdentity m_identity;
    int m_confirmed = 0; //!< the link's reopens when the identity last agreed
};

#endif // LUSTBUS_IDENTITYCHECK_H
