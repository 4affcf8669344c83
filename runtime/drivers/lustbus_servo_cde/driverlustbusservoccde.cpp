#include "driverlustbusservoccde.h"

#include "portsettings.h"
#include "protocolsettings.h"

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

void DriverLustBusServoCCDE::setError(const QString &message)
{
    m_error = true;
    m_errorText = message;
}

QByteArray DriverLustBusServoCCDE::read(LinkDevice &, const DataAddress &)
{
    return QByteArray();
}

int DriverLustBusServoCCDE::write(LinkDevice &, const DataAddress &, const QByteArray &)
{
    return 0;
}
