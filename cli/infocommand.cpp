// lustbus info: what the driver says about itself, as a host sees it after loading it.
#include "commands.h"
#include "console.h"
#include "driverplugin.h"
#include "exitstatus.h"
#include "options.h"
#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace {

QJsonObject infoJson(const DriverPlugin &plugin)
{
    DriverInterface *driver = plugin.driver();
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    return {
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
}

class InfoCommand : public Command
{
public:
    InfoCommand()
        : Command({QStringLiteral("info"),
                   QStringLiteral("the driver's identity, constants and default settings"),
                   QStringLiteral(
                       "Loads the driver plugin with QPluginLoader, as a host does, and prints "
                       "its name,\nmanufacturer, version, constants, default settings text and "
                       "the two default\nsettings records. Nothing is sent on any link."),
                   QStringLiteral("Examples:\n"
                                  "  lustbus info\n"
                                  "  lustbus info --json\n"
                                  "  lustbus info --plugin /usr/local/lib/lustbus/drivers/"
                                  "liblustbus_servo_cde.so\n"),
                   {}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return {Options::plugin(),
                Options::Json.with("Prints one JSON object instead of lines; on a failure "
                                   "error and exit.")};
    }

    int run(const QCommandLineParser &parser) override
    {
        DriverPlugin plugin;
        if (!plugin.load(Options::Plugin.value(parser)))
            return failure(ExitEnvironment, plugin.errorString());
        if (Options::Json.isSet(parser))
            printJson(infoJson(plugin));
        else
            Console::out() << plugin.report();
        return ExitSuccess;
    }
};

} // namespace

std::unique_ptr<Command> Commands::info()
{
    return std::make_unique<InfoCommand>();
}
