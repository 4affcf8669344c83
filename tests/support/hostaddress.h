// The address record of one request, as a host hands it to the driver.
#ifndef HOSTADDRESS_H
#define HOSTADDRESS_H

#include "driverinterface.h"

#include <QtCore/QString>

inline DataAddress address(const char *text, qint32 kind, quint64 count)
{
    DataAddress a;
    a.text = QString::fromLatin1(text);
    a.kind = kind;
    a.count = count;
    return a;
}

#endif // HOSTADDRESS_H
