// lustbus ports: the serial ports of this machine, as QSerialPortInfo finds them, with
// what identifies an adapter: description, manufacturer, serial number, USB ids.
#ifndef LUSTBUS_PORTSCOMMAND_H
#define LUSTBUS_PORTSCOMMAND_H

#include "command.h"

#include <QtCore/QJsonObject>

class PortsCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("ports"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

    struct Port
    {
        QString device; //!< /dev/ttyUSB0
        QString description;
        QString manufacturer;
        QString serialNumber;
        int vendorId = -1; //!< -1: none (not a USB adapter)
        int productId = -1;
    };
    static QList<Port> available();
    // One line per port under a header, "-" for what a port does not tell.
    static QString table(const QList<Port> &ports);
    // {"ports": [{"device", "description", "manufacturer", "serialNumber", "vendorId",
    // "productId"}]}, the ids as four hex digits or null.
    static QJsonObject json(const QList<Port> &ports);
};

#endif // LUSTBUS_PORTSCOMMAND_H
