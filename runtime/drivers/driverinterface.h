// The host runtime's side of a driver plugin: the link the host opens, the address
// record it fills, and the abstract driver every plugin implements. The host calls
// these operations by their place in the virtual tables, so the order is fixed.
#ifndef DRIVERINTERFACE_H
#define DRIVERINTERFACE_H

#include <QtCore/QByteArray>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtCore/QtPlugin>

class PortSettings;
class ProtocolSettings;

// An open link to the bus. Results count the bytes actually moved; below 1 means
// nothing arrived.
class LinkDevice
{
public:
    virtual ~LinkDevice() = default;

    virtual int receiveExact(char *data, int count) = 0;
    virtual int receive(char *data, int room) = 0;
    virtual int send(const char *data, int count) = 0;
    virtual QVariant control(int code, const QVariant &value) = 0;
    virtual int retryCount() const = 0;
    virtual int stationId() const = 0;
    virtual int delayMs() const = 0;
};

// Codes the driver passes to LinkDevice::control.
enum LinkControlCode {
    LinkControlDiscardInput = 12 //!< before every request telegram, with the value 0
};

// One request's target: the kind of host data, the element count and the address text.
class DataAddress
{
public:
    // Byte size of count elements of the kind.
    virtual quint64 byteSize() const
    {
        switch (kind) {
        case 0: return count == 0 ? 1 : (count + 7) / 8;
        case 1:
        case 5: return count;
        case 2: return 2 * count;
        case 3: return 4 * count;
        case 4: return 8 * count;
        default: return 1;
        }
    }
    virtual ~DataAddress() = default;

    qint32 id = 0; //!< the host's own; drivers never read it
    qint32 kind = 0;
    quint64 count = 0;
    QString text;
};

class DriverInterface
{
public:
    virtual ~DriverInterface() = default;

    virtual int limitA() const = 0;
    virtual int write(LinkDevice &link, const DataAddress &address, const QByteArray &data) = 0;
    virtual QByteArray read(LinkDevice &link, const DataAddress &address) = 0;
    virtual int optionA() const = 0;
    virtual int optionB() const = 0;
    virtual QString name() const = 0;
    virtual QString manufacturer() const = 0;
    virtual QString version() const = 0;
    virtual PortSettings *defaultPortSettings() const = 0;         //!< caller owns the record
    virtual ProtocolSettings *defaultProtocolSettings() const = 0; //!< caller owns the record
    virtual QString defaultSettingsText() const = 0;
    virtual int driverCode() const = 0;
    virtual void setHostFlag(bool on) = 0;
    virtual int limitB() const = 0;
    virtual int limitC() const = 0;
    virtual bool hasError() const = 0;
    virtual QString errorText() const = 0;
    virtual QObject *toQObject() = 0;
    virtual int optionC() const { return 0; }
    virtual void hookA() {}
    virtual void hookB() {}
    virtual int optionD() const { return 1; }
    virtual int optionE() const { return 1; }
};

#define DriverInterface_iid "com.moravite.drivers.DriverInterface/1.1"
Q_DECLARE_INTERFACE(DriverInterface, DriverInterface_iid)

#endif // DRIVERINTERFACE_H
