// One LustBus exchange per call on the link of the current request: send the request,
// receive and test the reply, close with EOT where the protocol asks for it, and read
// the value out of the reply. One attempt each; failures go to the driver's error state
// with one of the exchange texts.
//
// Link calls of one exchange, in order: control(12, 0), stationId, send(request),
// receive... (reads) or receiveExact(2) (writes), stationId, and send(EOT) only after a
// NAK or a good reply.
#ifndef LUSTBUS_TRANSACTIONS_H
#define LUSTBUS_TRANSACTIONS_H

#include "driverinterface.h"
#include "errorstate.h"
#include "wirecodec.h"

#include <QtCore/QByteArray>

namespace LustBus {

// The transmit and receive buffers of one driver; the receive buffer always holds the
// latest reply followed only by zero bytes.
struct ProtocolBuffers
{
    char transmit[BufferSize] = {};
    char receive[BufferSize] = {};
    qint32 receiveCount = 0;
};

class Transactions
{
public:
    // errors must outlive the transactions.
    explicit Transactions(ErrorState &errors) : m_errors(errors) {}
    Transactions(const Transactions &) = delete;
    Transactions &operator=(const Transactions &) = delete;

    // Reads return true when a valid data reply is in the receive buffer, writes when
    // the servo acknowledged with ACK.
    bool queryParameter(LinkDevice &link, quint16 parameter);
    bool queryArray(LinkDevice &link, quint16 parameter, quint16 first_element,
                    quint8 element_count);
    bool storeParameter(LinkDevice &link, quint16 parameter, const QByteArray &value);
    bool storeParameterText(LinkDevice &link, quint16 parameter, const QByteArray &text);
    bool storeArray(LinkDevice &link, quint16 parameter, quint16 first_element,
                    quint8 element_count, const QByteArray &value);

    // Value reads: one exchange, then the value text of the reply; "unknown format from
    // servo" when it has none.
    QByteArray queryParameterText(LinkDevice &link, quint16 parameter);
    QByteArray queryParameterBytes(LinkDevice &link, quint16 parameter);
    QByteArray queryArrayBytes(LinkDevice &link, quint16 parameter, quint16 first_element,
                               quint8 element_count);
    qint32 queryParameterSigned(LinkDevice &link, quint16 parameter, bool &ok);
    quint32 queryParameterUnsigned(LinkDevice &link, quint16 parameter, bool &ok);

    // Steps of the exchanges.
    bool sendRequest(LinkDevice &link, const Request &request);
    bool receiveReply(LinkDevice &link);
    bool receiveAcknowledge(LinkDevice &link);

    const ProtocolBuffers &buffers() const { return m_buffers; }

private:
    // Request out, reply in by receive, and the reply's station checked.
    bool exchange(LinkDevice &link, const Request &request,
                  bool (Transactions::*receive)(LinkDevice &));
    bool readExchange(LinkDevice &link, const Request &request);
    bool writeExchange(LinkDevice &link, const Request &request);
    void sendEot(LinkDevice &link);
    void clearReceived();
    // The value text of the reply in the receive buffer; false (and the error set)
    // without one.
    bool valueText(const char **text, int *length);
    QByteArray decodedValue();
    template <typename Integer>
    bool integerValue(bool (*read)(const char *, int, Integer *), Integer *value);

    ErrorState &m_errors;
    ProtocolBuffers m_buffers;
};

} // namespace LustBus

#endif // LUSTBUS_TRANSACTIONS_H
