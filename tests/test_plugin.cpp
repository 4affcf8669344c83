// The plugin file as a host meets it: loaded by QPluginLoader, entry points resolved
// by name, the driver reached only through DriverInterface.
#include "driverinterface.h"
#include "pluginfile.h"
#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QLibrary>
#include <QtCore/QPluginLoader>

#include <gtest/gtest.h>

namespace {

const char *const interfaceId = "com.moravite.drivers.DriverInterface/1.1";

TEST(PluginFile, LoaderReadsInterfaceIdAndCastsInstance)
{
    QPluginLoader loader(PluginFile::path());
    EXPECT_EQ(loader.metaData().value(QStringLiteral("IID")).toString(),
              QString::fromLatin1(interfaceId));
    EXPECT_EQ(loader.metaData().value(QStringLiteral("className")).toString(),
              QStringLiteral("DriverLustBusServoCCDE"));
    QObject *instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto *driver = qobject_cast<DriverInterface *>(instance);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->toQObject(), instance);
    // What a host shows the driver by is Cli.EveryCommandExplainsItself's.
}

// The plugin stays self-contained: it exports its entry points and keeps its copies of
// the settings records and the tools to itself, so that in a host that has the kit
// (liblustbus_host) the kit's functions always come from the kit.
TEST(PluginFile, ExportsItsEntryPointsAndNothingOfTheKit)
{
    QLibrary plugin(PluginFile::path());
    QLibrary kit(QStringLiteral(LUSTBUS_HOST_LIBRARY_PATH));
    ASSERT_TRUE(plugin.load()) << plugin.errorString().toStdString();
    ASSERT_TRUE(kit.load()) << kit.errorString().toStdString();
    for (const char *entry : {"CreateDriver", "qt_plugin_instance",
                              "qt_plugin_query_verification_data"})
        EXPECT_NE(plugin.resolve(entry), nullptr) << entry;
    // The verification text names the host build the plugin is made for.
    const auto verification =
        reinterpret_cast<const char *(*)()>(plugin.resolve("qt_plugin_query_verification_data"));
    ASSERT_NE(verification, nullptr);
    EXPECT_STREQ(verification(), "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
                                 "version=4.8.7\n"
                                 "debug=false\n"
                                 "buildkey=Windows x64 mingw release full-config");
    // PortSettings::debugLine, ProtocolSettings::debugLine, xorChecksum
    for (const char *symbol : {"_ZNK12PortSettings9debugLineEv",
                               "_ZNK16ProtocolSettings9debugLineEv", "_Z11xorChecksumPKci"}) {
        EXPECT_EQ(plugin.resolve(symbol), nullptr) << symbol;
        EXPECT_NE(kit.resolve(symbol), nullptr) << symbol;
    }
    EXPECT_NE(kit.resolve("_Z14lustbusVersionv"), nullptr);
}

// Each created driver and each default record is new and the caller's.
TEST(PluginFile, CreatedDriversAndDefaultRecordsAreNewAndCastToTheInterfaceSide)
{
    auto driver = PluginFile::createDriver();
    auto other = PluginFile::createDriver();
    ASSERT_TRUE(driver && other);
    EXPECT_NE(driver->toQObject(), other->toQObject());
    // Hosts cast by the interface id, of this version only.
    QObject *object = driver->toQObject();
    EXPECT_EQ(object->qt_metacast(interfaceId), static_cast<DriverInterface *>(driver.get()));
    EXPECT_EQ(object->qt_metacast("com.moravite.drivers.DriverInterface/1.0"), nullptr);
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<PortSettings> otherPort(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    ASSERT_TRUE(port && otherPort && protocol);
    EXPECT_NE(port.get(), otherPort.get());
    EXPECT_EQ(port->debugLine(), QStringLiteral("type: 64 string: \"COM2\" baudrate: 57600 "
                                                "databits: 8 stopbits: 0 parity: 0 linkID: -1 "
                                                "current ip: \"\" current port: 0 "));
    EXPECT_EQ(protocol->debugLine(),
              QStringLiteral("timeout: 500 retry: 3 stationid: 1 delay: 0 "));
    EXPECT_FALSE(protocol->flag);
}

} // namespace
