// What one client of the gateway did and met, and a table of many for a log: the
// first questions when an HMI and a logger share a bus and one of them is slow.
#ifndef LUSTBUS_GATEWAYSTATS_H
#define LUSTBUS_GATEWAYSTATS_H

#include <QtCore/QList>
#include <QtCore/QString>

struct GatewayClientStats
{
    int id = 0;       //!< 1, 2, ... in the order the clients came
    QString peer;     //!< "127.0.0.1:40312"
    quint64 exchanges = 0;     //!< requests passed to the bus
    // Requests that brought the client no whole reply: none or a broken one within the
    // bus link's time-outs, the bus away, a reply held back because the client had
    // sent something else meanwhile, or a request replaced by a newer one before its
    // turn (the client had given up on it).
    quint64 errors = 0;
    quint64 badTelegrams = 0;  //!< runs of bytes that formed no request, dropped
    quint64 refusedWrites = 0; //!< read-only gateway: writes answered with NAK
    quint64 bytesIn = 0;
    quint64 bytesOut = 0;
    qint64 waitUs = 0;         //!< time complete requests waited for the bus, summed
    qint64 maxWaitUs = 0;

    void add(const GatewayClientStats &other); //!< sums, and the larger maximum
};

// One line per client and one for total ("all N clients"), with a header.
QString gatewayStatsTable(const QList<GatewayClientStats> &clients,
                          const GatewayClientStats &total, int clientCount);

#endif // LUSTBUS_GATEWAYSTATS_H
