#include "stationid.h"

#include "wirecodec.h"

namespace LustBus {

bool parseStationId(const QString &text, int *station, QString *why)
{
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < MinStationId || number > MaxStationId) {
        *why = QStringLiteral("expected a whole number from %1 to %2")
                   .arg(MinStationId)
                   .arg(MaxStationId);
        return false;
    }
    *station = int(number);
    return true;
}

} // namespace LustBus
