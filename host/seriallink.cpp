#include "seriallink.h"

#include "portsettings.h"

#include <QtCore/QFileInfo>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#endif

SerialLink::SerialLink(const QString &deviceName, const SerialSettings &line,
                       const ProtocolSettings &protocol)
    : StreamLink(protocol), m_deviceName(deviceName), m_line(line)
{
    setDevice(&m_port);
    setInterByteTimeoutMs(defaultInterByteTimeoutMs(m_line));
}

SerialLink::SerialLink(const QString &deviceName, const QString &settingsText,
                       const ProtocolSettings &protocol)
    : StreamLink(protocol), m_deviceName(deviceName)
{
    setDevice(&m_port);
    SerialSettings::parse(settingsText, &m_line, &m_configurationError);
    setInterByteTimeoutMs(defaultInterByteTimeoutMs(m_line));
}

SerialLink::SerialLink(const PortSettings &port, const ProtocolSettings &protocol)
    : StreamLink(protocol), m_deviceName(port.string)
{
    setDevice(&m_port);
    SerialSettings::fromPortSettings(port, &m_line, &m_configurationError);
    setInterByteTimeoutMs(defaultInterByteTimeoutMs(m_line));
}

SerialLink::~SerialLink()
{
    closeDevice();
}

int SerialLink::defaultInterByteTimeoutMs(const SerialSettings &line)
{
    constexpr int FloorMs = 20;
    if (line.baudRate <= 0)
        return FloorMs;
    const qint64 fourCharactersMs =
        (4 * qint64(line.bitsPerCharacter()) * 1000 + line.baudRate - 1) / line.baudRate;
    return int(qMax<qint64>(FloorMs, fourCharactersMs));
}

bool SerialLink::openDevice()
{
    if (!m_configurationError.isEmpty()) {
        setErrorString(m_configurationError);
        return false;
    }
    // A reopen looks before it opens: opening a tty already changes its settings, which
    // are no business of ours on another program's device.
    const QString node = QFileInfo(m_deviceName).canonicalFilePath();
    if (isReopening() && !node.isEmpty()
        && !m_identity.isSameDevice(DeviceIdentity::ofPath(node)))
        return refuseOtherDevice();
    m_port.setPortName(node.isEmpty() ? m_deviceName : node);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite)) {
        setErrorString(QStringLiteral("cannot open serial port \"%1\": %2")
                           .arg(m_deviceName, m_port.errorString()));
        return false;
    }
    // The name may have been pointed elsewhere between the look and the open.
    const DeviceIdentity opened = DeviceIdentity::ofDescriptor(int(m_port.handle()));
    if (isReopening() && !m_identity.isSameDevice(opened)) {
        m_port.close();
        return refuseOtherDevice();
    }
    if (!setLine())
        return false;
    if (!isReopening())
        m_identity = opened;
    m_otherDevice = false;
    m_port.clear(QSerialPort::AllDirections);
    setErrorString(QString());
    return true;
}

// The line parameters and the RS485 mode on the open port; closes it when refused.
bool SerialLink::setLine()
{
    const bool lineSet = m_port.setBaudRate(m_line.baudRate)
                         && m_port.setDataBits(m_line.dataBits)
                         && m_port.setParity(m_line.parity)
                         && m_port.setStopBits(m_line.stopBits)
                         && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!lineSet) {
        setErrorString(QStringLiteral("serial port \"%1\" refuses the line settings %2: %3")
                           .arg(m_deviceName, m_line.toText(), m_port.errorString()));
        m_port.close();
        return false;
    }
    if (m_kernelRs485 && !applyKernelRs485Mode()) {
        m_port.close();
        return false;
    }
    return true;
}

QString SerialLink::otherDeviceText() const
{
    return QStringLiteral("a different device now sits at %1; not used").arg(m_deviceName);
}

// Said once as a notice, until the link's own device is back.
bool SerialLink::refuseOtherDevice()
{
    setErrorString(otherDeviceText());
    if (!m_otherDevice)
        notice(otherDeviceText());
    m_otherDevice = true;
    return false;
}

void SerialLink::closeDevice()
{
    if (m_port.isOpen())
        m_port.close();
}

bool SerialLink::setKernelRs485Mode(bool on, int rtsDelayBeforeMs, int rtsDelayAfterMs)
{
    m_kernelRs485 = on;
    m_rtsDelayBeforeMs = qMax(rtsDelayBeforeMs, 0);
    m_rtsDelayAfterMs = qMax(rtsDelayAfterMs, 0);
    return !m_port.isOpen() || applyKernelRs485Mode();
}

bool SerialLink::applyKernelRs485Mode()
{
#ifdef Q_OS_LINUX
    serial_rs485 rs485;
    std::memset(&rs485, 0, sizeof rs485);
    if (m_kernelRs485) {
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.delay_rts_before_send = quint32(m_rtsDelayBeforeMs);
        rs485.delay_rts_after_send = quint32(m_rtsDelayAfterMs);
    }
    if (ioctl(int(m_port.handle()), TIOCSRS485, &rs485) != 0) {
        const int code = errno;
        setErrorString(QStringLiteral("serial port \"%1\" refuses the kernel's RS485 mode "
                                      "(TIOCSRS485: %2); leave the mode off for adapters that "
                                      "switch the line direction themselves")
                           .arg(m_deviceName, QString::fromLocal8Bit(std::strerror(code))));
        return false;
    }
    return true;
#else
    if (!m_kernelRs485)
        return true;
    setErrorString(QStringLiteral("the kernel's RS485 mode is a Linux feature"));
    return false;
#endif
}

QString SerialLink::deviceFailure() const
{
    if (!m_port.isOpen())
        return m_otherDevice ? otherDeviceText()
                             : QStringLiteral("serial port \"%1\" is closed").arg(m_deviceName);
    switch (m_port.error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return QString();
    default:
        return QStringLiteral("serial port \"%1\": %2").arg(m_deviceName, m_port.errorString());
    }
}

void SerialLink::dropInput()
{
    m_port.clear(QSerialPort::Input);
    StreamLink::dropInput();
}

int SerialLink::deviceHandle() const
{
    return m_port.isOpen() ? int(m_port.handle()) : -1;
}
