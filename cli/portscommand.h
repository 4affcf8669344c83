// The serial ports of this machine as lustbus ports shows them.
#ifndef LUSTBUS_PORTSCOMMAND_H
#define LUSTBUS_PORTSCOMMAND_H

#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QString>

namespace Ports {

struct Port
{
    QString device; //!< /dev/ttyUSB0
    QString description;
    QString manufacturer;
    QString serialNumber;
    int vendorId = -1; //!< -1: none (not a USB adapter)
    int productId = -1;
};

QList<Port> available();
// One line per port under a header, "-" for what a port does not tell.
QString table(const QList<Port> &ports);
// {"ports": [{"device", "description", "manufacturer", "serialNumber", "vendorId",
// "productId"}]}, the ids as four hex digits or null.
QJsonObject json(const QList<Port> &ports);

} // namespace Ports

#endif // LUSTBUS_PORTSCOMMAND_H
