#include "driverplugin.h"

#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonObject>

#include <memory>

QStringList DriverPlugin::candidates()
{
    const QString fileName = QStringLiteral(LUSTBUS_PLUGIN_FILE_NAME);
    const QString relative = QStringLiteral(LUSTBUS_PLUGIN_INSTALL_DIR);
    QStringList files;
    // The build tree's plugin belongs to the build tree's program alone: an installed
    // lustbus must not pick up whatever a later build left there.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    if (!program.isEmpty()
        && program == QFileInfo(QStringLiteral(LUSTBUS_BUILT_PROGRAM)).canonicalFilePath())
        files.append(QStringLiteral(LUSTBUS_BUILT_PLUGIN));
    // An installed lustbus lives in PREFIX/bin; the tree may have moved since.
    files.append(QDir::cleanPath(QCoreApplication::applicationDirPath()
                                 + QStringLiteral("/../") + relative + QLatin1Char('/')
                                 + fileName));
    files.append(QDir::cleanPath(QStringLiteral(LUSTBUS_INSTALL_PREFIX) + QLatin1Char('/')
                                 + relative + QLatin1Char('/') + fileName));
    files.removeDuplicates();
    return files;
}

bool DriverPlugin::load(const QString &path)
{
    QString file = path;
    if (file.isEmpty()) {
        const QStringList files = candidates();
        for (const QString &candidate : files) {
            if (QFileInfo(candidate).isFile()) {
                file = candidate;
                break;
            }
        }
        if (file.isEmpty()) {
            m_error = QStringLiteral("no driver plugin found (tried %1); give one with --plugin")
                          .arg(files.join(QLatin1String(", ")));
            return false;
        }
    }
    m_loader.setFileName(file);
    QObject *instance = m_loader.instance();
    m_driver = qobject_cast<DriverInterface *>(instance);
    if (!m_driver) {
        m_error = instance ? QStringLiteral("cannot load driver plugin %1: it is not a "
                                            "LustBus driver (%2)")
                                 .arg(file, QStringLiteral(DriverInterface_iid))
                           : QStringLiteral("cannot load driver plugin %1: %2")
                                 .arg(file, m_loader.errorString());
        return false;
    }
    return true;
}

QString DriverPlugin::interfaceId() const
{
    return m_loader.metaData().value(QStringLiteral("IID")).toString();
}

QString DriverPlugin::report() const
{
    DriverInterface *driver = m_driver;
    std::unique_ptr<PortSettings> port(driver->defaultPortSettings());
    std::unique_ptr<ProtocolSettings> protocol(driver->defaultProtocolSettings());
    return QStringLiteral("plugin:          %1\n"
                          "interface:       %2\n"
                          "name:            %3\n"
                          "manufacturer:    %4\n"
                          "version:         %5\n"
                          "driver code:     %6\n"
                          "limits A B C:    %7 %8 %9\n")
               .arg(fileName(), interfaceId(), driver->name(),
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
