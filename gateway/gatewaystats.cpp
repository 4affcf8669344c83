#include "gatewaystats.h"

#include <QtCore/QStringList>

void GatewayClientStats::add(const GatewayClientStats &other)
{
    exchanges += other.exchanges;
    errors += other.errors;
    badTelegrams += other.badTelegrams;
    refusedWrites += other.refusedWrites;
    bytesIn += other.bytesIn;
    bytesOut += other.bytesOut;
    waitUs += other.waitUs;
    maxWaitUs = qMax(maxWaitUs, other.maxWaitUs);
}

namespace {

QString milliseconds(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 1);
}

// Right-aligned columns but the peer's.
QString row(const QStringList &cells)
{
    static const int widths[] = {6, -22, 9, 6, 3, 7, 9, 9, 20};
    QString text;
    for (int i = 0; i < cells.size(); ++i)
        text += QString(i == 0 ? 0 : i == 1 ? 2 : 1, QLatin1Char(' '))
                + QStringLiteral("%1").arg(cells[i], widths[i]);
    return text + QLatin1Char('\n');
}

QString row(const QString &client, const QString &peer, const GatewayClientStats &s)
{
    return row({client, peer, QString::number(s.exchanges), QString::number(s.errors),
                QString::number(s.badTelegrams), QString::number(s.refusedWrites),
                QString::number(s.bytesIn), QString::number(s.bytesOut),
                milliseconds(s.waitUs) + QLatin1Char('/') + milliseconds(s.maxWaitUs)});
}

} // namespace

QString gatewayStatsTable(const QList<GatewayClientStats> &clients,
                          const GatewayClientStats &total, int clientCount)
{
    QString text = row({QStringLiteral("client"), QStringLiteral("peer"),
                        QStringLiteral("exchanges"), QStringLiteral("errors"),
                        QStringLiteral("bad"), QStringLiteral("refused"),
                        QStringLiteral("bytes in"), QStringLiteral("bytes out"),
                        QStringLiteral("bus wait ms sum/max")});
    for (const GatewayClientStats &s : clients)
        text += row(QString::number(s.id), s.peer, s);
    text += row(QStringLiteral("all"),
                QStringLiteral("%1 client%2").arg(clientCount).arg(clientCount == 1 ? "" : "s"),
                total);
    return text;
}
