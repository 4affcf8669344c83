// The line parameters of a serial link, from a settings text such as
// "RS485,57600,EVEN,7,1" or from a host's PortSettings record.
//
// Settings text: five comma-separated fields, blanks around a field ignored, names in
// any letter case:
//   interface  RS232, RS422 or RS485 (what the line is; it does not switch the
//              kernel's RS485 mode, see SerialLink::setKernelRs485Mode)
//   baud       a decimal number from 1 to 4000000
//   parity     NONE, EVEN, ODD, MARK or SPACE
//   data bits  5, 6, 7 or 8
//   stop bits  1, 1.5 or 2
//
// PortSettings codes (the record's codes belong to the host; this is our links'
// reading of them, the one of the Windows serial API that gave the record "COM2"):
//   baudrate   bits per second, 1 to 4000000
//   databits   the number itself, 5 to 8
//   parity     0 NONE, 1 ODD, 2 EVEN, 3 MARK, 4 SPACE
//   stopbits   0 one stop bit, 1 one and a half, 2 two
// The record names no interface: a link built from one says RS485, the bus the
// servos hang on.
#ifndef LUSTBUS_SERIALSETTINGS_H
#define LUSTBUS_SERIALSETTINGS_H

#include <QtCore/QString>
#include <QtSerialPort/QSerialPort>

class PortSettings;

enum class SerialInterface { RS232, RS422, RS485 };

struct SerialSettings
{
    SerialInterface interfaceType = SerialInterface::RS485;
    qint32 baudRate = 57600;
    QSerialPort::Parity parity = QSerialPort::EvenParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data7;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Each returns false and leaves settings unchanged when a field is bad; error then
    // names the field and the value that failed.
    static bool parse(const QString &text, SerialSettings *settings, QString *error);
    static bool fromPortSettings(const PortSettings &port, SerialSettings *settings,
                                 QString *error);

    // The settings text of these settings ("RS485,57600,EVEN,7,1").
    QString toText() const;

    // Wire time of one character: start bit, data bits, parity bit, stop bits
    // (1.5 stop bits count as 2).
    int bitsPerCharacter() const;
};

bool operator==(const SerialSettings &a, const SerialSettings &b);
inline bool operator!=(const SerialSettings &a, const SerialSettings &b) { return !(a == b); }

#endif // LUSTBUS_SERIALSETTINGS_H
