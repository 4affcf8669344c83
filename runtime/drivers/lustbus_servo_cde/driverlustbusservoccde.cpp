#include "driverlustbusservoccde.h"

#include "errortexts.h"
#include "portsettings.h"
#include "protocolsettings.h"
#include "tools/timing.h"

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
        switch (address.kind) {
        case 0:
        case 6: result = readBitRange(link, address); break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: result = readValue(link, address); break;
        default:
            // An unknown kind reads nothing and reports nothing.
            return QByteArray();
        }
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
        switch (address.kind) {
        case 0:
        case 6:
            result = writeBitRange(link, address.text, data, qint32(quint32(address.count)));
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: result = writeValue(link, address.text, data); break;
        default: setError(LustBus::ErrorText::InvalidWritingAddress); break;
        }
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
