#include "infocommand.h"

#include "console.h"
#include "driverplugin.h"
#include "exitstatus.h"
#include "linkoptions.h"
#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <memory>

QString InfoCommand::summary() const
{
    return QStringLiteral("the driver's identity, constants and default settings");
}

QString InfoCommand::description() const
{
    return QStringLiteral(
        "Loads the driver plugin with QPluginLoader, as a host does, and prints its name,\n"
        "manufacturer, version, constants, default settings text and the two default\n"
        "settings records. Nothing is sent on any link.");
}

QString InfoCommand::epilogue() const
{
    return QStringLiteral("Examples:\n"
                          "  lustbus info\n"
                          "  lustbus info --json\n"
                          "  lustbus info --plugin /usr/local/lib/lustbus/drivers/"
                          "liblustbus_servo_cde.so\n");
}

QList<QCommandLineOption> InfoCommand::options() const
{
    return {LinkOptions::pluginOption(),
            QCommandLineOption(QStringLiteral("json"),
                               QStringLiteral("Prints one JSON object instead of lines; on a "
                                              "failure error and exit."))};
}

QString InfoCommand::report(const DriverPlugin &plugin)
{
    DriverInterface *driver = plugin.driver();
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    return QStringLiteral("plugin:          %1\n"
                          "interface:       %2\n"
                          "name:            %3\n"
                          "manufacturer:    %4\n"
                          "version:         %5\n"
                          "driver code:     %6\n"
                          "limits A B C:    %7 %8 %9\n")
               .arg(plugin.fileName(), plugin.interfaceId(), driver->name(),
                    driver->manufacturer(), driver->version())
               .arg(driver->driverCode())
               .arg(driver->limitA())
               .arg(driver->limitB())
               .arg(driver->limitC())
           + QStringLiteral("options A B:     %1 %2\n"
                            "settings text:   %3\n"
                            "port record:     %4\n"
                            "protocol record: %5\n")
                 .arg(driver->optionA())
                 .arg(driver->optionB())
                 .arg(driver->defaultSettingsText(), port->debugLine(), protocol->debugLine());
}

int InfoCommand::run(const QCommandLineParser &parser)
{
    DriverPlugin plugin;
    if (!plugin.load(parser.value(QStringLiteral("plugin"))))
        return failure(ExitEnvironment, plugin.errorString());
    if (!parser.isSet(QStringLiteral("json"))) {
        Console::out() << report(plugin);
        return ExitSuccess;
    }
    DriverInterface *driver = plugin.driver();
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    const QJsonObject object{
        {QStringLiteral("plugin"), plugin.fileName()},
        {QStringLiteral("interface"), plugin.interfaceId()},
        {QStringLiteral("name"), driver->name()},
        {QStringLiteral("manufacturer"), driver->manufacturer()},
        {QStringLiteral("version"), driver->version()},
        {QStringLiteral("driverCode"), driver->driverCode()},
        {QStringLiteral("limitA"), driver->limitA()},
        {QStringLiteral("limitB"), driver->limitB()},
        {QStringLiteral("limitC"), driver->limitC()},
        {QStringLiteral("optionA"), driver->optionA()},
        {QStringLiteral("optionB"), driver->optionB()},
        {QStringLiteral("settingsText"), driver->defaultSettingsText()},
        {QStringLiteral("portSettings"),
         QJsonObject{{QStringLiteral("type"), qint64(port->type)},
                     {QStringLiteral("string"), port->string},
                     {QStringLiteral("baudrate"), port->baudrate},
                     {QStringLiteral("databits"), port->databits},
                     {QStringLiteral("stopbits"), port->stopbits},
                     {QStringLiteral("parity"), port->parity}}},
        {QStringLiteral("protocolSettings"),
         QJsonObject{{QStringLiteral("timeout"), protocol->timeout},
                     {QStringLiteral("retry"), protocol->retry},
                     {QStringLiteral("stationid"), protocol->stationid},
                     {QStringLiteral("delay"), protocol->delay}}},
    };
    Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    return ExitSuccess;
}
