// A host of the LustBus driver plugin, built against the installed lustbus package
// alone: loads the plugin with QPluginLoader, opens the kit's TCP or serial link and
// reads one address.
//
//   readone HOST:PORT ADDRESS [KIND [COUNT]]   over a TCP serial device server
//   readone DEVICE ADDRESS [KIND [COUNT]]      over a serial port, the driver's line
//
// e.g. "readone 127.0.0.1:5020 INT16:12" next to "lustbus simulate --tcp 5020".
#include <driverinterface.h>
#include <protocolsettings.h>
#include <seriallink.h>
#include <tcplink.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QPluginLoader>
#include <QtCore/QTextStream>
#include <QtCore/QtEndian>

#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream out(stdout), err(stderr);
    if (arguments.size() < 3) {
        err << "usage: readone HOST:PORT|DEVICE ADDRESS [KIND [COUNT]]\n";
        return 2;
    }
    QPluginLoader loader(QStringLiteral(LUSTBUS_PLUGIN));
    auto *driver = qobject_cast<DriverInterface *>(loader.instance());
    if (!driver) {
        err << "cannot load " << loader.fileName() << ": " << loader.errorString() << '\n';
        return 3;
    }
    // The driver's own defaults: time-out, retries, station 1.
    const std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    const QString where = arguments[1];
    std::unique_ptr<StreamLink> link;
    if (where.startsWith(QLatin1Char('/')))
        link.reset(new SerialLink(where, driver->defaultSettingsText(), *protocol));
    else
        link.reset(new TcpLink(where.section(QLatin1Char(':'), 0, -2),
                               where.section(QLatin1Char(':'), -1).toUShort(), *protocol));
    if (!link->open()) {
        err << link->errorString() << '\n';
        return 3;
    }
    DataAddress address;
    address.text = arguments[2];
    address.kind = arguments.value(3, QStringLiteral("2")).toInt(); // 2: 16-bit elements
    address.count = arguments.value(4, QStringLiteral("1")).toULongLong();
    const QByteArray data = driver->read(*link, address);
    if (driver->hasError()) {
        err << driver->errorText() << '\n';
        return 1;
    }
    // Host data is little-endian; one element of 1, 2 or 4 bytes shows as a number.
    out << address.text << " = ";
    if (data.size() == 1)
        out << qint8(data[0]) << '\n';
    else if (data.size() == 2)
        out << qFromLittleEndian<qint16>(data.constData()) << '\n';
    else if (data.size() == 4)
        out << qFromLittleEndian<qint32>(data.constData()) << '\n';
    else
        out << data.toHex() << '\n';
    return 0;
}
