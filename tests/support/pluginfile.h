// The built plugin file, opened as a host opens it.
#ifndef PLUGINFILE_H
#define PLUGINFILE_H

#include "driverinterface.h"

#include <QtCore/QString>

#include <memory>

namespace PluginFile {
QString path();
// A new driver from the plugin's CreateDriver; null (with a test failure) if the file
// does not load.
std::unique_ptr<DriverInterface> createDriver();
} // namespace PluginFile

#endif // PLUGINFILE_H
