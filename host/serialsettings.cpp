#include "serialsettings.h"

#include "portsettings.h"

#include <QtCore/QStringList>

namespace {

constexpr qint32 MaxBaudRate = 4000000;

struct Name
{
    const char *text;
    int value;
};

const Name interfaceNames[] = {{"RS232", int(SerialInterface::RS232)},
                               {"RS422", int(SerialInterface::RS422)},
                               {"RS485", int(SerialInterface::RS485)}};
const Name parityNames[] = {{"NONE", QSerialPort::NoParity},   {"EVEN", QSerialPort::EvenParity},
                            {"ODD", QSerialPort::OddParity},    {"MARK", QSerialPort::MarkParity},
                            {"SPACE", QSerialPort::SpaceParity}};
const Name stopBitNames[] = {{"1", QSerialPort::OneStop},
                             {"1.5", QSerialPort::OneAndHalfStop},
                             {"2", QSerialPort::TwoStop}};

template <size_t N>
bool lookUp(const Name (&names)[N], const QString &text, int *value)
{
    for (const Name &name : names) {
        if (text.compare(QLatin1String(name.text), Qt::CaseInsensitive) == 0) {
            *value = name.value;
            return true;
        }
    }
    return false;
}

template <size_t N>
const char *nameOf(const Name (&names)[N], int value)
{
    for (const Name &name : names) {
        if (name.value == value)
            return name.text;
    }
    return "?";
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool validBaudRate(qint64 baud)
{
    return baud >= 1 && baud <= MaxBaudRate;
}

} // namespace

bool SerialSettings::parse(const QString &text, SerialSettings *settings, QString *error)
{
    const QString context = QStringLiteral("settings text \"%1\": ").arg(text);
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 5) {
        return fail(error, context + QStringLiteral("expected 5 fields (interface,baud,parity,"
                                                    "data bits,stop bits), found %1")
                                         .arg(fields.size()));
    }
    const QString interfaceText = fields.at(0).trimmed();
    const QString baudText = fields.at(1).trimmed();
    const QString parityText = fields.at(2).trimmed();
    const QString dataText = fields.at(3).trimmed();
    const QString stopText = fields.at(4).trimmed();

    SerialSettings parsed;
    int value = 0;
    if (!lookUp(interfaceNames, interfaceText, &value)) {
        return fail(error, context + QStringLiteral("interface \"%1\" is not RS232, RS422 or "
                                                    "RS485").arg(interfaceText));
    }
    parsed.interfaceType = SerialInterface(value);

    bool ok = false;
    const qint64 baud = baudText.toLongLong(&ok, 10);
    if (!ok || !validBaudRate(baud)) {
        return fail(error, context + QStringLiteral("baud rate \"%1\" is not a number from 1 "
                                                    "to %2").arg(baudText).arg(MaxBaudRate));
    }
    parsed.baudRate = qint32(baud);

    if (!lookUp(parityNames, parityText, &value)) {
        return fail(error, context + QStringLiteral("parity \"%1\" is not NONE, EVEN, ODD, "
                                                    "MARK or SPACE").arg(parityText));
    }
    parsed.parity = QSerialPort::Parity(value);

    const int dataBits = dataText.toInt(&ok, 10);
    if (!ok || dataText.startsWith(QLatin1Char('+')) || dataBits < 5 || dataBits > 8)
        return fail(error, context + QStringLiteral("data bits \"%1\" is not 5, 6, 7 or 8")
                                         .arg(dataText));
    parsed.dataBits = QSerialPort::DataBits(dataBits);

    if (!lookUp(stopBitNames, stopText, &value))
        return fail(error, context + QStringLiteral("stop bits \"%1\" is not 1, 1.5 or 2")
                                         .arg(stopText));
    parsed.stopBits = QSerialPort::StopBits(value);

    *settings = parsed;
    return true;
}

bool SerialSettings::fromPortSettings(const PortSettings &port, SerialSettings *settings,
                                      QString *error)
{
    const QString context = QStringLiteral("port settings of \"%1\": ").arg(port.string);
    SerialSettings mapped;
    if (!validBaudRate(port.baudrate)) {
        return fail(error, context + QStringLiteral("baud rate %1 is not from 1 to %2")
                                         .arg(port.baudrate).arg(MaxBaudRate));
    }
    mapped.baudRate = port.baudrate;
    if (port.databits < 5 || port.databits > 8)
        return fail(error, context + QStringLiteral("data bits %1 is not 5, 6, 7 or 8")
                                         .arg(port.databits));
    mapped.dataBits = QSerialPort::DataBits(port.databits);

    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity,
                                                   QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    if (port.parity < 0 || port.parity > 4) {
        return fail(error, context + QStringLiteral("parity code %1 is not 0 (NONE), 1 (ODD), "
                                                    "2 (EVEN), 3 (MARK) or 4 (SPACE)")
                                         .arg(port.parity));
    }
    mapped.parity = parities[port.parity];

    static const QSerialPort::StopBits stopBits[] = {QSerialPort::OneStop,
                                                     QSerialPort::OneAndHalfStop,
                                                     QSerialPort::TwoStop};
    if (port.stopbits < 0 || port.stopbits > 2) {
        return fail(error, context + QStringLiteral("stop bits code %1 is not 0 (1), 1 (1.5) "
                                                    "or 2 (2)").arg(port.stopbits));
    }
    mapped.stopBits = stopBits[port.stopbits];

    *settings = mapped;
    return true;
}

QString SerialSettings::toText() const
{
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(QLatin1String(nameOf(interfaceNames, int(interfaceType))))
        .arg(baudRate)
        .arg(QLatin1String(nameOf(parityNames, parity)))
        .arg(int(dataBits))
        .arg(QLatin1String(nameOf(stopBitNames, stopBits)));
}

int SerialSettings::bitsPerCharacter() const
{
    return 1 + int(dataBits) + (parity == QSerialPort::NoParity ? 0 : 1)
           + (stopBits == QSerialPort::OneStop ? 1 : 2);
}

bool operator==(const SerialSettings &a, const SerialSettings &b)
{
    return a.interfaceType == b.interfaceType && a.baudRate == b.baudRate
           && a.parity == b.parity && a.dataBits == b.dataBits && a.stopBits == b.stopBits;
}
