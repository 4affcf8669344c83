// The drive identified at one station of a service that runs for long (the bridge,
// lustbus web): its identity as first read, read again before the next write once the
// link was reopened or the caller asks for it (the bus came back, the station answers
// after being silent), and why writes to it are refused meanwhile. Once another drive
// answers there, writes stay refused until the service is started anew.
//
// A read is two calls, so that the caller follows what the line did in between:
// readNow() sends the requests, settle() compares what came with the first identity.
#ifndef LUSTBUS_STATIONDRIVE_H
#define LUSTBUS_STATIONDRIVE_H

#include "driveidentity.h"

#include <QtCore/QList>
#include <QtCore/QString>

class StationDrive
{
public:
    // What settle() changed in the refusal, for the caller's log.
    enum class Change {
        None,    //!< it is as it was
        Refused, //!< writes are refused now, for refusal()
        Back,    //!< writes go to it again
    };

    // link names the link in messages ("station 1 on tcp 127.0.0.1:5020: ..."), restart
    // what lifts a refusal for another drive ("the bridge is started anew").
    StationDrive() = default;
    StationDrive(int station, const QString &link, const QString &restart)
        : m_station(station),
          m_where(QStringLiteral("station %1 on %2").arg(station).arg(link)), m_restart(restart)
    {
    }

    // Whether the identity is to be read before the next write.
    bool isDue(const BusAccess &bus) const;
    // Read it again at the next chance: whatever answers now may be another drive.
    void recheck() { m_recheck = !m_identity.isEmpty(); }

    // Reads the entries; the result of the last request, which the caller follows
    // before settle().
    BusAccess::Result readNow(BusAccess &bus, const QList<LustBus::CatalogueEntry> &entries);
    // *identified: read for the first time, identity() is new.
    Change settle(bool *identified);

    const DriveIdentity &identity() const { return m_identity; }
    QString where() const { return m_where; }
    // The link's reopens when the identity last read as the first.
    int identifiedAt() const { return m_identifiedAt; }
    bool isAnotherDrive() const { return m_anotherDrive; }
    // Why writes to it are refused now; empty when they are not.
    QString refusal() const { return m_refusal; }

private:
    Change refuse(const QString &refusal);

    int m_station = -1;
    QString m_where;
    QString m_restart;
    DriveIdentity m_identity;
    int m_identifiedAt = 0;
    bool m_recheck = false;
    bool m_anotherDrive = false;
    QString m_refusal;
    // What readNow() read, for settle().
    DriveIdentity m_read;
    QString m_readError;
    int m_readReopens = 0;
};

#endif // LUSTBUS_STATIONDRIVE_H
