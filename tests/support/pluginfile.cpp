#include "pluginfile.h"

#include <QtCore/QLibrary>

#include <gtest/gtest.h>

QString PluginFile::path()
{
    return QString::fromLocal8Bit(LUSTBUS_PLUGIN_PATH);
}

std::unique_ptr<DriverInterface> PluginFile::createDriver()
{
    QLibrary library(path());
    auto create = reinterpret_cast<CreateDriverFunction>(library.resolve("CreateDriver"));
    EXPECT_NE(create, nullptr) << library.errorString().toStdString();
    // The library stays loaded: QLibrary unloads only on an explicit unload().
    return std::unique_ptr<DriverInterface>(create ? create() : nullptr);
}
