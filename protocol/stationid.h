// Station ids as people type them, for every front end that takes one: a whole number
// in the codec's range, MinStationId to MaxStationId, blanks around it allowed.
#ifndef LUSTBUS_STATIONID_H
#define LUSTBUS_STATIONID_H

#include <QtCore/QString>

namespace LustBus {

// False with why ("expected a whole number from 0 to 63") for any other text.
bool parseStationId(const QString &text, int *station, QString *why);

} // namespace LustBus

#endif // LUSTBUS_STATIONID_H
