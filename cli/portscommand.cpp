// lustbus ports: the serial ports of this machine, as QSerialPortInfo finds them, with
// what identifies an adapter: description, manufacturer, serial number, USB ids.
#include "portscommand.h"

#include "commands.h"
#include "console.h"
#include "exitstatus.h"
#include "options.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtSerialPort/QSerialPortInfo>

#include <algorithm>
#include <vector>

namespace Ports {

QList<Port> available()
{
    QList<Port> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append({info.systemLocation(), info.description(), info.manufacturer(),
                      info.serialNumber(),
                      info.hasVendorIdentifier() ? info.vendorIdentifier() : -1,
                      info.hasProductIdentifier() ? info.productIdentifier() : -1});
    std::sort(ports.begin(), ports.end(),
              [](const Port &a, const Port &b) { return a.device < b.device; });
    return ports;
}

namespace {

QString usbId(int id)
{
    return id < 0 ? QString() : QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

} // namespace

QString table(const QList<Port> &ports)
{
    QList<QStringList> rows{{QStringLiteral("device"), QStringLiteral("description"),
                             QStringLiteral("manufacturer"), QStringLiteral("serial number"),
                             QStringLiteral("usb id")}};
    for (const Port &port : ports) {
        const QString id = port.vendorId < 0 && port.productId < 0
                               ? QString()
                               : usbId(port.vendorId) + QLatin1Char(':') + usbId(port.productId);
        QStringList row{port.device, port.description, port.manufacturer, port.serialNumber, id};
        for (QString &field : row)
            field = field.simplified().isEmpty() ? QStringLiteral("-") : field.simplified();
        rows.append(row);
    }
    std::vector<int> widths(size_t(rows.first().size()), 0);
    for (const QStringList &row : rows) {
        for (int i = 0; i < row.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], int(row[i].size()));
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += row[i].leftJustified(i + 1 < row.size() ? widths[size_t(i)] + 2 : 0);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QJsonObject json(const QList<Port> &ports)
{
    QJsonArray list;
    for (const Port &port : ports) {
        auto id = [](int value) { return value < 0 ? QJsonValue() : QJsonValue(usbId(value)); };
        list.append(QJsonObject{{QStringLiteral("device"), port.device},
                                {QStringLiteral("description"), port.description},
                                {QStringLiteral("manufacturer"), port.manufacturer},
                                {QStringLiteral("serialNumber"), port.serialNumber},
                                {QStringLiteral("vendorId"), id(port.vendorId)},
                                {QStringLiteral("productId"), id(port.productId)}});
    }
    return QJsonObject{{QStringLiteral("ports"), list}};
}

} // namespace Ports

namespace {

const char Description[] =
    "Lists the serial ports of this machine as Qt's serial port module finds them:\n"
    "device, description, manufacturer, serial number and, for USB adapters, vendor\n"
    "and product id, so that an adapter can be told apart from the others before it\n"
    "is named with --port. Pseudo-terminals are not listed. Nothing is opened.";

class PortsCommand : public Command
{
public:
    PortsCommand()
        : Command({"ports", "lists the serial ports: description, manufacturer, serial number",
                   Description,
                   "Examples:\n"
                   "  lustbus ports\n"
                   "  lustbus ports --json\n",
                   {}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return {Options::Json.with("Prints one JSON object: ports, one entry per port.")};
    }

    int run(const QCommandLineParser &parser) override
    {
        const QList<Ports::Port> ports = Ports::available();
        if (Options::Json.isSet(parser)) {
            printJson(Ports::json(ports));
            return ExitSuccess;
        }
        if (ports.isEmpty()) {
            Console::err() << "lustbus ports: no serial ports found" << Qt::endl;
            return ExitSuccess;
        }
        Console::out() << Ports::table(ports);
        return ExitSuccess;
    }
};

} // namespace

std::unique_ptr<Command> Commands::ports()
{
    return std::make_unique<PortsCommand>();
}
