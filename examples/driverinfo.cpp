// Loads the driver plugin the way a host does and prints its identity and defaults,
// with the version of the host kit it runs with; then a driver of its own from the
// plugin's CreateDriver, as hosts that load the plugin as a library get one.
//
//   driverinfo [PLUGIN]   default: the plugin of the installed package
#include <driverinterface.h>
#include <lustbusversion.h>
#include <portsettings.h>
#include <protocolsettings.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QLibrary>
#include <QtCore/QPluginLoader>
#include <QtCore/QTextStream>

#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QStringLiteral(LUSTBUS_PLUGIN);
    QTextStream out(stdout);
    QPluginLoader loader(path);
    auto *driver = qobject_cast<DriverInterface *>(loader.instance());
    if (!driver) {
        QTextStream(stderr) << "cannot load driver plugin " << path << ": "
                            << loader.errorString() << '\n';
        return 1;
    }
    QLibrary library(path);
    const auto create = reinterpret_cast<CreateDriverFunction>(library.resolve("CreateDriver"));
    const std::unique_ptr<DriverInterface> own(create ? create() : nullptr);
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    out << "plugin:        " << path << '\n'
        << "interface:     " << loader.metaData().value(QStringLiteral("IID")).toString() << '\n'
        << "name:          " << driver->name() << '\n'
        << "manufacturer:  " << driver->manufacturer() << '\n'
        << "version:       " << driver->version() << '\n'
        << "driver code:   " << driver->driverCode() << '\n'
        << "limits:        " << driver->limitA() << ' ' << driver->limitB() << ' '
        << driver->limitC() << '\n'
        << "settings text: " << driver->defaultSettingsText() << '\n'
        << "port:          " << port->debugLine() << '\n'
        << "protocol:      " << protocol->debugLine() << '\n'
        << "host kit:      " << lustbusVersion() << '\n'
        << "CreateDriver:  " << (own ? own->name() : library.errorString()) << '\n';
    return 0;
}
