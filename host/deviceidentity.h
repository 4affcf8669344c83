// Which device sits behind a serial port's name: the device node the name leads to (a
// symbolic link such as /dev/serial/by-id/... counts as the node it points to) and,
// for a USB adapter, the vendor, product and serial number the adapter reports. The
// serial link takes it when it opens and compares when it reopens, so that a device
// that went away is not replaced by whatever took its name: another program's
// pseudo-terminal that got the same /dev/pts/N, another adapter that became
// /dev/ttyUSB0.
//
// Two identities are the same device when both carry a USB serial number and vendor,
// product and serial number agree (an adapter plugged in again gets a new node), or
// else when the node is the same one: the same file system, inode and device number,
// and the same change time, which the kernel sets when it makes the node. An adapter
// without a serial number that is plugged in again is another node, and so another
// device. A pseudo-terminal is never the same device again: once its other side has
// closed it is gone for good, and the next pty opened on the machine gets its number,
// inode and device number (and, within a few milliseconds, its change time).
#ifndef LUSTBUS_DEVICEIDENTITY_H
#define LUSTBUS_DEVICEIDENTITY_H

#include <QtCore/QString>

struct DeviceIdentity
{
    // Of the node that path leads to, or of an open descriptor's; invalid when there is
    // none. The USB attributes come from sysfs (Linux) by the node's device number.
    static DeviceIdentity ofPath(const QString &path);
    static DeviceIdentity ofDescriptor(int fd);

    // Fills the USB fields from a sysfs tree (normally /sys): the device of the
    // character device number, and its parents up to the USB device that has idVendor.
    void readUsbAttributes(const QString &sysfs);

    bool isSameDevice(const DeviceIdentity &other) const;
    bool isPseudoTerminal() const;

    bool valid = false;
    quint64 fileSystem = 0;
    quint64 inode = 0;
    quint64 deviceNumber = 0; //!< major and minor number of the character device
    qint64 changedNs = 0;     //!< the node's change time
    QString usbVendor;        //!< "0403"; empty: no USB device, or it gives none
    QString usbProduct;
    QString usbSerial;
};

#endif // LUSTBUS_DEVICEIDENTITY_H
