// What the bridge needs of its bus: catalogue parameters read and written by station,
// in their JSON form. The command that owns the link provides it.
#ifndef LUSTBUS_BUSACCESS_H
#define LUSTBUS_BUSACCESS_H

#include "catalogueentry.h"

#include <QtCore/QJsonValue>
#include <QtCore/QString>

class BusAccess
{
public:
    enum Outcome { Done, Failed, Stopped };

    virtual ~BusAccess() = default;

    // The whole parameter as JSON: a number, a text for STRING, a list for an array.
    // Failed with the driver's error text; Stopped once the program is to end.
    virtual Outcome read(int station, const LustBus::CatalogueEntry &entry, QJsonValue *value,
                         QString *error) = 0;
    // Checks value against the parameter's type and range first: a refused value is
    // Failed with the cause before anything goes on the bus (*sent stays false).
    virtual Outcome write(int station, const LustBus::CatalogueEntry &entry,
                          const QJsonValue &value, bool *sent, QString *error) = 0;
};

#endif // LUSTBUS_BUSACCESS_H
