// The DataAddress a host fills for one request, in one line.
#ifndef LUSTBUS_BENCHADDRESS_H
#define LUSTBUS_BENCHADDRESS_H

#include "driverinterface.h"

inline DataAddress makeAddress(qint32 kind, quint64 count, const char *text)
{
    DataAddress address;
    address.kind = kind;
    address.count = count;
    address.text = QString::fromLatin1(text);
    return address;
}

#endif // LUSTBUS_BENCHADDRESS_H
