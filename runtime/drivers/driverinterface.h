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
//
// Kinds, the host's codes 0 to 6 (the driver treats 0 and 6 alike, and 1 to 5):
//   kind  count counts       host bytes of a read   address text
//   0, 6  bits               ceil(count / 8)        bit form
//   1, 5  bytes (5: a text)  count                  value form
//   2     16-bit elements    2 x count              value form
//   3     32-bit elements    4 x count              value form
//   4     64-bit elements    8 x count              value form
// A read of any other kind returns nothing and reports no error; a write of one fails.
//
// Address texts: TYPE is a data type name in any letter case (INT8 USIGN8 INT16
// USIGN16 INT32 USIGN32 FLOAT32 FIXPT16 INT32Q16 STRING), PARAM the parameter number,
// INDEX an array parameter's first element, BIT the first bit; decimal numbers.
//   value form  TYPE:PARAM              a simple parameter
//               TYPE:PARAM:INDEX        the elements from INDEX on; STRING texts are
//                                       read and written only in this form
//               TYPE:PARAM:INDEX:EXTRA  the same; EXTRA must be a number, unused
//   bit form    TYPE:PARAM.BIT          count bits from bit BIT of a simple parameter
//               TYPE:PARAM:INDEX.BIT    the same in the elements from INDEX on
// A negative INDEX means none. A text that does not decode sends nothing and fails.
// E.g. INT16:12 with kind 2, count 1; INT16:101:3 with kind 2, count 4 (elements 3 to
// 6); USIGN16:13.4 with kind 0, count 8 (bits 4 to 11).
//
// Host data, what read returns and write takes, holds the elements back to back, each
// little-endian (telegrams carry them most significant byte first): INT16 -1234 is
// 2E FB. FLOAT32 is the IEEE 754 bit pattern, FIXPT16 and INT32Q16 elements are 32-bit
// hundredths (1.00 is 100), STRING the text's bytes. A simple read is cut or
// zero-padded at the end to the kind's bytes; an element read gives what the servo
// sent. Bit data counts from bit 0 of the first byte, lowest bit first.
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

// The plugin's C entry point beside Qt's (qt_plugin_instance, one shared driver): a new
// driver on every call, which the caller owns and deletes. A host that loads the
// plugin as a library resolves it by name:
//   auto create = reinterpret_cast<CreateDriverFunction>(library.resolve("CreateDriver"));
extern "C" DriverInterface *CreateDriver();
using CreateDriverFunction = DriverInterface *(*)();

#endif // DRIVERINTERFACE_H
