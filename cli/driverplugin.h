// The driver plugin, loaded with QPluginLoader as a host loads it. Without a path it
// tries the installed one (LIBDIR/lustbus/drivers, lustbus-qt6/drivers in a Qt 6
// build, next to the installed program, then under the install prefix); the program of
// a build tree tries its own tree's plugin first.
#ifndef LUSTBUS_DRIVERPLUGIN_H
#define LUSTBUS_DRIVERPLUGIN_H

#include "driverinterface.h"

#include <QtCore/QPluginLoader>
#include <QtCore/QStringList>

class DriverPlugin
{
public:
    // The files tried without --plugin, in order.
    static QStringList candidates();

    // path empty: the first candidate that exists. False with errorString() naming
    // the file and the cause.
    bool load(const QString &path);

    DriverInterface *driver() const { return m_driver; } //!< the plugin's shared instance
    QString fileName() const { return m_loader.fileName(); }
    QString interfaceId() const;
    QString errorString() const { return m_error; }
    // What a host sees of the loaded driver: identity, constants, default settings.
    QString report() const;

private:
    QPluginLoader m_loader;
    DriverInterface *m_driver = nullptr;
    QString m_error;
};

#endif // LUSTBUS_DRIVERPLUGIN_H
