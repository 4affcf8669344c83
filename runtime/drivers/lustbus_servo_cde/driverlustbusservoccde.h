// The LustBus ServoC/CDE driver: a host plugin object that reads and writes servo
// parameters over the LustBus ASCII protocol, one request at a time. It holds the host
// interface, the request cycle and the decoding of address kinds and texts; below it,
// units of their own: the typed access (parameteraccess.h), the transactions (one
// exchange on the link, transactions.h) and the wire codec (every telegram byte,
// wirecodec.h).
#ifndef DRIVERLUSTBUSSERVOCCDE_H
#define DRIVERLUSTBUSSERVOCCDE_H

#include "driverinterface.h"
#include "errorstate.h"
#include "parameteraccess.h"
#include "transactions.h"

#include <QtCore/QObject>

class DriverLustBusServoCCDE : public QObject, public DriverInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.moravite.drivers.DriverInterface/1.1")
    Q_INTERFACES(DriverInterface)

public:
    DriverLustBusServoCCDE();
    ~DriverLustBusServoCCDE() override;

    // DriverInterface
    int limitA() const override { return 1024; }
    int write(LinkDevice &link, const DataAddress &address, const QByteArray &data) override;
    QByteArray read(LinkDevice &link, const DataAddress &address) override;
    int optionA() const override { return 1; }
    int optionB() const override { return 0; }
    QString name() const override;
    QString manufacturer() const override;
    QString version() const override;
    PortSettings *defaultPortSettings() const override;
    ProtocolSettings *defaultProtocolSettings() const override;
    QString defaultSettingsText() const override;
    int driverCode() const override { return 112; }
    void setHostFlag(bool on) override { m_hostFlag = on; }
    int limitB() const override { return 1024; }
    int limitC() const override { return 1024; }
    bool hasError() const override { return m_errors.failed; }
    QString errorText() const override { return m_errors.text; }
    QObject *toQObject() override;

private:
    // Error state: a failure sets the flag and replaces the text; each attempt
    // clears only the flag, so the text keeps the last failure's message.
    void setError(const QString &message) { m_errors.set(message); }
    void clearError() { m_errors.failed = false; }

    // One attempt of a request, by address kind. A text that does not decode sends
    // nothing.
    QByteArray readValue(LinkDevice &link, const DataAddress &address);    //!< value kinds
    QByteArray readBitRange(LinkDevice &link, const DataAddress &address); //!< bit kinds
    int writeValue(LinkDevice &link, const QString &address_text, const QByteArray &data);
    // data must hold the bytes of num_of_bits bits; a shorter array stops the request
    // before anything is sent.
    int writeBitRange(LinkDevice &link, const QString &address_text, const QByteArray &bits,
                      qint32 num_of_bits);

    // Marks the error text once with the operation and the address: %1 of the pattern
    // becomes the address text, then %2 the message. A text that already holds '>'
    // stays as it is.
    void decorateErrorText(const QString &pattern, const QString &address_text);

    bool m_hostFlag = false; //!< stored for the host; nothing in the driver reads it
    LustBus::ErrorState m_errors;
    LustBus::Transactions m_transactions{m_errors};
    LustBus::ParameterAccess m_access{m_transactions, m_errors};
};

#endif // DRIVERLUSTBUSSERVOCCDE_H
