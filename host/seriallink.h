// A link on a serial port (QSerialPort): device name and line parameters from a
// settings text, a SerialSettings value or a host's PortSettings record; time-out,
// retries, station id and delay from a ProtocolSettings record (time-out and delay in
// milliseconds). Receive rules, control code 12, local echo and reconnect as in
// StreamLink; the inter-byte time-out starts at defaultInterByteTimeoutMs of the line.
//
// The device name may be a symbolic link (/dev/serial/by-id/..., the name that stays
// with a USB adapter): the port opened, and locked against other programs, is the node
// it points to at that moment. open() takes the device's identity (deviceidentity.h);
// a reopen uses the device only when it is the same one, and otherwise leaves it alone
// without a byte sent, fails with "a different device now sits at NAME; not used" and
// says so once as a notice, trying again at the reconnect interval.
#ifndef LUSTBUS_SERIALLINK_H
#define LUSTBUS_SERIALLINK_H

#include "deviceidentity.h"
#include "serialsettings.h"
#include "streamlink.h"

#include <QtSerialPort/QSerialPort>

class PortSettings;

class SerialLink : public StreamLink
{
public:
    SerialLink(const QString &deviceName, const SerialSettings &line,
               const ProtocolSettings &protocol);
    // A settings text that does not parse makes open() fail with the parser's message.
    SerialLink(const QString &deviceName, const QString &settingsText,
               const ProtocolSettings &protocol);
    // Device name from the record's string; codes mapped as serialsettings.h says. A
    // code outside that mapping makes open() fail with a message naming it.
    SerialLink(const PortSettings &port, const ProtocolSettings &protocol);
    ~SerialLink() override;

    QString deviceName() const { return m_deviceName; }
    SerialSettings lineSettings() const { return m_line; }

    // Four character times of the line, but no less than 20 ms: USB serial adapters
    // hand on what they received in chunks, every few milliseconds (an FTDI chip's
    // latency timer is 16 ms), so a healthy reply can pause that long between bytes.
    static int defaultInterByteTimeoutMs(const SerialSettings &line);

    // Linux only: switch the port into the kernel's RS485 mode (TIOCSRS485: RTS drives
    // the transmitter while sending) for adapters whose driver needs it, RTS on the
    // given milliseconds before the first byte and held after the last (the kernel
    // takes 0 to 100). Applied by open(), which fails when the device refuses; on an
    // open port it applies at once and returns false with errorString() when refused.
    bool setKernelRs485Mode(bool on, int rtsDelayBeforeMs = 0, int rtsDelayAfterMs = 0);
    bool kernelRs485Mode() const { return m_kernelRs485; }
    int rtsDelayBeforeMs() const { return m_rtsDelayBeforeMs; }
    int rtsDelayAfterMs() const { return m_rtsDelayAfterMs; }

protected:
    // Opens the device raw, with the line parameters set, and drops stale input.
    bool openDevice() override;
    void closeDevice() override;
    QString deviceFailure() const override;
    void dropInput() override;
    int deviceHandle() const override;

private:
    bool applyKernelRs485Mode();
    bool setLine();
    bool refuseOtherDevice();
    QString otherDeviceText() const;

    QString m_deviceName;
    SerialSettings m_line;
    QString m_configurationError; //!< from a settings text or record that did not map
    DeviceIdentity m_identity;    //!< of the device open() found
    bool m_otherDevice = false;   //!< the last reopen found another device
    bool m_kernelRs485 = false;
    int m_rtsDelayBeforeMs = 0;
    int m_rtsDelayAfterMs = 0;
    QSerialPort m_port;
};

#endif // LUSTBUS_SERIALLINK_H
