// The plugin file as a host meets it: loaded by QPluginLoader, entry points resolved
// by name, the driver reached only through DriverInterface.
#include "driverinterface.h"
#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QLibrary>
#include <QtCore/QMetaObject>
#include <QtCore/QPluginLoader>
#include <QtCore/QPointer>

#include <gtest/gtest.h>

#include <memory>

namespace {

const char *const pluginPath = LUSTBUS_PLUGIN_PATH;
const char *const interfaceId = "com.moravite.drivers.DriverInterface/1.1";

using CreateDriverFunction = DriverInterface *(*)();
using InstanceFunction = QObject *(*)();
using VerificationFunction = const char *(*)();

class PluginFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        library.setFileName(QString::fromLocal8Bit(pluginPath));
        ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    }

    template <typename Function>
    Function resolve(const char *symbol)
    {
        auto function = reinterpret_cast<Function>(library.resolve(symbol));
        EXPECT_NE(function, nullptr) << symbol;
        return function;
    }

    std::unique_ptr<DriverInterface> createDriver()
    {
        auto create = resolve<CreateDriverFunction>("CreateDriver");
        return std::unique_ptr<DriverInterface>(create ? create() : nullptr);
    }

    QLibrary library;
};

TEST_F(PluginFile, LoaderReadsInterfaceIdAndCastsInstance)
{
    QPluginLoader loader(QString::fromLocal8Bit(pluginPath));
    EXPECT_EQ(loader.metaData().value(QStringLiteral("IID")).toString(),
              QString::fromLatin1(interfaceId));
    EXPECT_EQ(loader.metaData().value(QStringLiteral("className")).toString(),
              QStringLiteral("DriverLustBusServoCCDE"));
    QObject *instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto *driver = qobject_cast<DriverInterface *>(instance);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->name(), QStringLiteral("LustBus ServoC/CDE Series"));
    EXPECT_EQ(driver->toQObject(), instance);
}

TEST_F(PluginFile, InstanceIsSharedUntilDeletedThenMadeAnew)
{
    auto instance = resolve<InstanceFunction>("qt_plugin_instance");
    ASSERT_NE(instance, nullptr);
    QPointer<QObject> first = instance();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(instance(), first.data());
    first->setObjectName(QStringLiteral("first"));

    delete first.data();
    EXPECT_TRUE(first.isNull());
    QPointer<QObject> second = instance();
    ASSERT_FALSE(second.isNull());
    EXPECT_TRUE(second->objectName().isEmpty());
    EXPECT_EQ(instance(), second.data());
}

TEST_F(PluginFile, CreateDriverGivesDistinctObjects)
{
    auto first = createDriver();
    auto second = createDriver();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first->toQObject(), second->toQObject());
}

TEST_F(PluginFile, VerificationTextNamesTheHostBuild)
{
    auto verification = resolve<VerificationFunction>("qt_plugin_query_verification_data");
    ASSERT_NE(verification, nullptr);
    EXPECT_STREQ(verification(), "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
                                 "version=4.8.7\n"
                                 "debug=false\n"
                                 "buildkey=Windows x64 mingw release full-config");
}

TEST_F(PluginFile, MetacastNamesTheInterfaceSideExactly)
{
    auto driver = createDriver();
    ASSERT_TRUE(driver);
    QObject *object = driver->toQObject();
    void *interfaceSide = static_cast<DriverInterface *>(driver.get());

    EXPECT_EQ(object->qt_metacast("DriverInterface"), interfaceSide);
    EXPECT_EQ(object->qt_metacast(interfaceId), interfaceSide);
    EXPECT_EQ(object->qt_metacast("DriverLustBusServoCCDE"), static_cast<void *>(object));
    EXPECT_NE(object->qt_metacast("DriverLustBusServoCCDE"), interfaceSide);
    EXPECT_EQ(object->qt_metacast("QObject"), static_cast<void *>(object));
    EXPECT_EQ(object->qt_metacast("driverinterface"), nullptr);
    EXPECT_EQ(object->qt_metacast("com.moravite.drivers.DriverInterface/1.0"), nullptr);
    EXPECT_EQ(object->qt_metacast(nullptr), nullptr);
}

TEST_F(PluginFile, MetaObjectHoldsOnlyTheClassName)
{
    auto driver = createDriver();
    ASSERT_TRUE(driver);
    const QMetaObject *meta = driver->toQObject()->metaObject();
    EXPECT_STREQ(meta->className(), "DriverLustBusServoCCDE");
    EXPECT_EQ(meta->superClass(), &QObject::staticMetaObject);
    EXPECT_EQ(meta->methodCount(), QObject::staticMetaObject.methodCount());
    EXPECT_EQ(meta->propertyCount(), QObject::staticMetaObject.propertyCount());
    EXPECT_EQ(meta->classInfoCount(), 0);
}

TEST_F(PluginFile, AnswersIdentityAndConstants)
{
    auto driver = createDriver();
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->name(), QStringLiteral("LustBus ServoC/CDE Series"));
    EXPECT_EQ(driver->manufacturer(), QStringLiteral("Lust"));
    EXPECT_EQ(driver->version(), QStringLiteral("1.0.0"));
    EXPECT_EQ(driver->defaultSettingsText(), QStringLiteral("RS485,57600,EVEN,7,1"));
    EXPECT_EQ(driver->limitA(), 1024);
    EXPECT_EQ(driver->limitB(), 1024);
    EXPECT_EQ(driver->limitC(), 1024);
    EXPECT_EQ(driver->optionA(), 1);
    EXPECT_EQ(driver->optionB(), 0);
    EXPECT_EQ(driver->driverCode(), 112);
    EXPECT_EQ(driver->optionC(), 0);
    EXPECT_EQ(driver->optionD(), 1);
    EXPECT_EQ(driver->optionE(), 1);
    EXPECT_FALSE(driver->hasError());
    EXPECT_TRUE(driver->errorText().isEmpty());
}

TEST_F(PluginFile, DefaultRecordsAreNewAndOwnedByTheCaller)
{
    auto driver = createDriver();
    ASSERT_TRUE(driver);
    std::unique_ptr<PortSettings> port1(driver->defaultPortSettings());
    std::unique_ptr<PortSettings> port2(driver->defaultPortSettings());
    ASSERT_TRUE(port1 && port2);
    EXPECT_NE(port1.get(), port2.get());
    EXPECT_EQ(port1->debugLine(), port2->debugLine());
    EXPECT_EQ(port1->type, 64u);
    EXPECT_EQ(port1->string, QStringLiteral("COM2"));
    EXPECT_EQ(port1->baudrate, 57600);
    EXPECT_EQ(port1->databits, 8);
    EXPECT_EQ(port1->stopbits, 0);
    EXPECT_EQ(port1->parity, 0);
    EXPECT_EQ(port1->option, 0);
    EXPECT_EQ(port1->linkID, -1);
    EXPECT_EQ(port1->current, 0);
    EXPECT_TRUE(port1->entries.isEmpty());

    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    ASSERT_TRUE(protocol);
    EXPECT_EQ(protocol->timeout, 500);
    EXPECT_EQ(protocol->retry, 3);
    EXPECT_EQ(protocol->stationid, 1);
    EXPECT_EQ(protocol->delay, 0);
    EXPECT_TRUE(protocol->text.isEmpty());
    EXPECT_FALSE(protocol->flag);
}

TEST_F(PluginFile, HostFlagChangesNothingVisible)
{
    auto driver = createDriver();
    ASSERT_TRUE(driver);
    driver->setHostFlag(true);
    EXPECT_FALSE(driver->hasError());
    EXPECT_TRUE(driver->errorText().isEmpty());
    EXPECT_EQ(driver->optionA(), 1);
    EXPECT_EQ(driver->optionB(), 0);
    EXPECT_EQ(driver->driverCode(), 112);
}

} // namespace
