#include "deviceidentity.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

DeviceIdentity fromStat(const struct stat &node)
{
    DeviceIdentity identity;
    identity.valid = true;
    identity.fileSystem = quint64(node.st_dev);
    identity.inode = quint64(node.st_ino);
    identity.deviceNumber = quint64(node.st_rdev);
    identity.changedNs = qint64(node.st_ctim.tv_sec) * 1000000000 + node.st_ctim.tv_nsec;
    if (S_ISCHR(node.st_mode))
        identity.readUsbAttributes(QStringLiteral("/sys"));
    return identity;
}

QString attribute(const QDir &device, const char *name)
{
    QFile file(device.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

DeviceIdentity DeviceIdentity::ofPath(const QString &path)
{
    struct stat node;
    if (stat(QFile::encodeName(path).constData(), &node) != 0)
        return DeviceIdentity();
    return fromStat(node);
}

DeviceIdentity DeviceIdentity::ofDescriptor(int fd)
{
    struct stat node;
    if (fd < 0 || fstat(fd, &node) != 0)
        return DeviceIdentity();
    return fromStat(node);
}

void DeviceIdentity::readUsbAttributes(const QString &sysfs)
{
    const QString link = QStringLiteral("%1/dev/char/%2:%3")
                             .arg(sysfs)
                             .arg(major(dev_t(deviceNumber)))
                             .arg(minor(dev_t(deviceNumber)));
    const QString devices = QFileInfo(sysfs + QStringLiteral("/devices")).canonicalFilePath();
    QString at = QFileInfo(link).canonicalFilePath();
    // From the tty up through its interface to the USB device; a device that is no USB
    // one (a pseudo-terminal has no entry at all) ends at the top of the tree.
    while (!devices.isEmpty() && at.startsWith(devices + QLatin1Char('/'))) {
        const QDir device(at);
        if (device.exists(QStringLiteral("idVendor"))) {
            usbVendor = attribute(device, "idVendor");
            usbProduct = attribute(device, "idProduct");
            usbSerial = attribute(device, "serial");
            return;
        }
        at = QFileInfo(at).path();
    }
}

bool DeviceIdentity::isPseudoTerminal() const
{
    // The kernel's Unix 98 pty slaves: majors 136 to 143.
    const unsigned number = major(dev_t(deviceNumber));
    return valid && number >= 136 && number <= 143;
}

bool DeviceIdentity::isSameDevice(const DeviceIdentity &other) const
{
    if (!valid || !other.valid || isPseudoTerminal() || other.isPseudoTerminal())
        return false;
    if (!usbSerial.isEmpty() && !other.usbSerial.isEmpty())
        return usbVendor == other.usbVendor && usbProduct == other.usbProduct
               && usbSerial == other.usbSerial;
    return fileSystem == other.fileSystem && inode == other.inode
           && deviceNumber == other.deviceNumber && changedNs == other.changedNs;
}
