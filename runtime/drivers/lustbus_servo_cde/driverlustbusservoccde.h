// The LustBus ServoC/CDE driver: a host plugin object that reads and writes servo
// parameters over the LustBus ASCII protocol, one request at a time.
//
// The class is split by layer into several sources:
//   driverlustbusservoccde.cpp  plugin frame, error state and the request cycle
//   addressdecoding.cpp         address kinds and address texts
//   parameteraccess.cpp         typed reads and writes by data type, bit access
// Below it, and units of their own: the transactions (one exchange on the link, see
// transactions.h) and the wire codec (every telegram byte, see wirecodec.h).
#ifndef DRIVERLUSTBUSSERVOCCDE_H
#define DRIVERLUSTBUSSERVOCCDE_H

#include "datatypes.h"
#include "driverinterface.h"
#include "errorstate.h"
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

    // Error state: a failure sets the flag and replaces the text; each attempt
    // clears only the flag, so the text keeps the last failure's message.
    void setError(const QString &message) { m_errors.set(message); }
    void clearError() { m_errors.failed = false; }

    // --- Address decoding: one attempt of a request, by address kind ----------------
    QByteArray readValue(LinkDevice &link, const DataAddress &address);     //!< kinds 1 to 5
    QByteArray readBitRange(LinkDevice &link, const DataAddress &address);  //!< kinds 0, 6
    int writeValue(LinkDevice &link, const QString &address_text, const QByteArray &data);
    // data must hold the bytes of num_of_bits bits; a shorter array stops the request
    // before anything is sent.
    int writeBitRange(LinkDevice &link, const QString &address_text, const QByteArray &bits,
                      qint32 num_of_bits);

    // Marks the error text once with the operation and the address: %1 of the pattern
    // becomes the address text, then %2 the message. A text that already holds '>'
    // stays as it is.
    void decorateErrorText(const QString &pattern, const QString &address_text);

    // --- Typed parameter access ---------------------------------------------------
    // Simple parameters ("20" telegrams) and runs of array elements ("70"), converted
    // by data type between host data and telegram data. Reads return empty on
    // failure, writes false; both set the error state.
    QByteArray readParameter(LinkDevice &link, LustBus::DataType type, quint16 parameter);
    QByteArray readArrayParameter(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                                  quint16 index, quint8 byte_count);
    bool writeParameter(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                        const QByteArray &data);
    bool writeArrayParameter(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                             quint16 index, const QByteArray &data);

    // Runs of bits inside a value: reads cut them out, writes read the whole value,
    // change the bits and write it all back.
    QByteArray readParameterBits(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                                 quint8 start_bit, quint8 num_of_bits);
    QByteArray readArrayParameterBits(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                                      quint16 index, quint8 start_bit, quint8 num_of_bits);
    bool writeParameterBits(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                            quint8 start_bit, const QByteArray &bits, qint32 num_of_bits);
    bool writeArrayParameterBits(LinkDevice &link, LustBus::DataType type, quint16 parameter,
                                 quint16 index, quint8 start_bit, const QByteArray &bits,
                                 qint32 num_of_bits);

    // Array replies of the fixed-point types to host data; "invalid address" when the
    // bytes do not form whole elements.
    QByteArray fixPt16FromServo(const QByteArray &raw);
    QByteArray int32Q16FromServo(const QByteArray &raw);

    // One exchange with one servo on the current request's link.
    LustBus::Transactions &transactions() { return m_transactions; }

private:
    QByteArray cutBits(QByteArray value, quint8 start_bit, quint8 num_of_bits);
    bool changeBits(QByteArray &value, quint8 start_bit, const QByteArray &bits,
                    qint32 num_of_bits);

    bool m_hostFlag = false; //!< stored for the host; nothing in the driver reads it
    LustBus::ErrorState m_errors;
    LustBus::Transactions m_transactions{m_errors};
};

#endif // DRIVERLUSTBUSSERVOCCDE_H
