#include "driverlustbusservoccde.h"

#include "addresskind.h"
#include "addresstext.h"
#include "errortexts.h"
#include "portsettings.h"
#include "protocolsettings.h"
#include "tools/addresses.h"
#include "tools/bytesandbits.h"
#include "tools/timing.h"

using namespace LustBus;
using namespace LustBus::ErrorText;

namespace {
// Made when the library is loaded, released when it is unloaded.
const QString versionText = QStringLiteral("1.0.0");
}

DriverLustBusServoCCDE::DriverLustBusServoCCDE() = default;

DriverLustBusServoCCDE::~DriverLustBusServoCCDE() = default;

QString DriverLustBusServoCCDE::name() const
{
    return QStringLiteral("LustBus ServoC/CDE Series");
}

QString DriverLustBusServoCCDE::manufacturer() const
{
    return QStringLiteral("Lust");
}

QString DriverLustBusServoCCDE::version() const
{
    return versionText;
}

// The record and the settings text are independent defaults: the text describes the
// line (7E1), the record carries the host's own codes.
PortSettings *DriverLustBusServoCCDE::defaultPortSettings() const
{
    return new PortSettings(64, QStringLiteral("COM2"), 57600, 8, 0, 0);
}

ProtocolSettings *DriverLustBusServoCCDE::defaultProtocolSettings() const
{
    return new ProtocolSettings(500, 3, 1, 0);
}

QString DriverLustBusServoCCDE::defaultSettingsText() const
{
    return QStringLiteral("RS485,57600,EVEN,7,1");
}

QObject *DriverLustBusServoCCDE::toQObject()
{
    return qobject_cast<QObject *>(this);
}

// The request cycle: before every attempt the link's delay and a cleared error flag;
// a failed attempt is repeated while the link's retry count allows, so a request makes
// at most retryCount() + 1 attempts. hasError() is asked as a virtual call.
QByteArray DriverLustBusServoCCDE::read(LinkDevice &link, const DataAddress &address)
{
    QByteArray result;
    for (int attempt = 0;; ++attempt) {
        SleepMs(link.delayMs());
        clearError();
        if (isBitKind(address.kind))
            result = readBitRange(link, address);
        else if (isValueKind(address.kind))
            result = readValue(link, address);
        else
            return QByteArray(); // an unknown kind reads nothing and reports nothing
        if (!hasError() || attempt >= link.retryCount())
            break;
    }
    if (hasError())
        decorateErrorText(QStringLiteral("read %1> %2"), address.text);
    return result;
}

int DriverLustBusServoCCDE::write(LinkDevice &link, const DataAddress &address,
                                  const QByteArray &data)
{
    int result = 0;
    for (int attempt = 0;; ++attempt) {
        SleepMs(link.delayMs());
        clearError();
        if (isBitKind(address.kind))
            result = writeBitRange(link, address.text, data, qint32(quint32(address.count)));
        else if (isValueKind(address.kind))
            result = writeValue(link, address.text, data);
        else
            setError(InvalidWritingAddress);
        if (!hasError() || attempt >= link.retryCount())
            break;
    }
    if (hasError())
        decorateErrorText(QStringLiteral("write %1> %2"), address.text);
    return result;
}

void DriverLustBusServoCCDE::decorateErrorText(const QString &pattern,
                                               const QString &address_text)
{
    if (m_errors.text.contains(QLatin1Char('>')))
        return;
    // %1 first, then %2, each by its own arg: a marker that the address text brings
    // is filled in as well.
    m_errors.text = pattern.arg(address_text).arg(m_errors.text);
}

// The per-kind operations of the request cycle: decode the address text and call the
// typed access.
QByteArray DriverLustBusServoCCDE::readValue(LinkDevice &link, const DataAddress &address)
{
    ParameterAddress target;
    if (!parseParameterAddress(address.text, target)) {
        setError(InvalidAddress);
        return QByteArray();
    }
    if (target.parameter < 0) {
        setError(InternalReadError);
        return QByteArray();
    }
    const quint16 parameter = quint16(target.parameter);
    if (target.index < 0) {
        const QByteArray value = m_access.readParameter(link, target.type, parameter);
        return value.isEmpty() ? value : fitToAddressSize(address, value);
    }
    // An element read is not fitted: the servo's element width decides its size.
    const quint8 byteCount = quint8(address.byteSize());
    return m_access.readArrayParameter(link, target.type, parameter, quint16(target.index),
                                       byteCount);
}

int DriverLustBusServoCCDE::writeValue(LinkDevice &link, const QString &address_text,
                                       const QByteArray &data)
{
    ParameterAddress target;
    if (!parseParameterAddress(address_text, target)) {
        setError(InvalidWriteAddress);
        return 0;
    }
    if (target.parameter < 0) {
        setError(InternalReadError);
        return 0;
    }
    const quint16 parameter = quint16(target.parameter);
    if (target.index < 0)
        return m_access.writeParameter(link, target.type, parameter, data);
    return m_access.writeArrayParameter(link, target.type, parameter, quint16(target.index),
                                        data);
}

QByteArray DriverLustBusServoCCDE::readBitRange(LinkDevice &link, const DataAddress &address)
{
    ParameterAddress target;
    if (!parseBitAddress(address.text, target)) {
        setError(InvalidAddress);
        return QByteArray();
    }
    if (target.parameter < 0 || target.bit < 0) {
        setError(InternalReadError);
        return QByteArray();
    }
    const quint16 parameter = quint16(target.parameter);
    const quint8 bit = quint8(target.bit);
    const quint8 bits = quint8(address.count);
    if (target.index < 0)
        return m_access.readParameterBits(link, target.type, parameter, bit, bits);
    return m_access.readArrayParameterBits(link, target.type, parameter,
                                           quint16(target.index), bit, bits);
}

int DriverLustBusServoCCDE::writeBitRange(LinkDevice &link, const QString &address_text,
                                          const QByteArray &bits, qint32 num_of_bits)
{
    // bits.size() >= (int)NumOfBitsToNumOfBytes(0, num_of_bits): reported, not asserted,
    // so that a host's short data cannot take its process down. A negative bit count
    // needs more bytes than any array holds.
    if (bits.size() < int(NumOfBitsToNumOfBytes(0, quint32(num_of_bits)))) {
        setError(TooFewBits);
        return 0;
    }
    ParameterAddress target;
    if (!parseBitAddress(address_text, target)) {
        setError(InvalidWritingAddress);
        return 0;
    }
    if (target.parameter < 0 || target.bit < 0) {
        setError(InternalReadError);
        return 0;
    }
    const quint16 parameter = quint16(target.parameter);
    const quint8 bit = quint8(target.bit);
    if (target.index < 0)
        return m_access.writeParameterBits(link, target.type, parameter, bit, bits,
                                           num_of_bits);
    return m_access.writeArrayParameterBits(link, target.type, parameter,
                                            quint16(target.index), bit, bits, num_of_bits);
}
