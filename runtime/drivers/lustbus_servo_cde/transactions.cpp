#include "transactions.h"

#include "errortexts.h"

#include <cstring>

namespace LustBus {

using namespace ErrorText;

namespace {

Request request(Request::Kind kind, quint16 parameter, quint16 first_element = 0,
                quint8 element_count = 0, const QByteArray &value = QByteArray())
{
    Request r;
    r.kind = kind;
    r.parameter = parameter;
    r.firstElement = first_element;
    r.elementCount = element_count;
    r.value = value.constData();
    r.valueSize = int(value.size());
    return r;
}

} // namespace

bool Transactions::sendRequest(LinkDevice &link, const Request &request)
{
    link.control(LinkControlDiscardInput, QVariant(0));
    const qint8 station = qint8(link.stationId());
    if (station < MinStationId || station > MaxStationId) {
        m_errors.set(StationOutOfRange);
        return false;
    }
    const qint32 length = formatRequest(station, request, m_buffers.transmit, BufferSize);
    if (length < 0) {
        m_errors.set(ValueTooLong);
        return false;
    }
    // A telegram that did not go out shows as a missing reply.
    link.send(m_buffers.transmit, length);
    return true;
}

void Transactions::clearReceived()
{
    if (m_buffers.receiveCount > 0)
        std::memset(m_buffers.receive, 0, size_t(qMin(m_buffers.receiveCount, BufferSize)));
    m_buffers.receiveCount = 0;
}

bool Transactions::receiveReply(LinkDevice &link)
{
    clearReceived();
    char *const reply = m_buffers.receive;
    qint32 &count = m_buffers.receiveCount;
    for (;;) {
        const int room = BufferSize - count;
        const int got = link.receive(reply + count, room);
        if (got < 1)
            return false;
        count += qMin(got, room);
        switch (scanReadReply(reply, count)) {
        case ReplyStatus::Complete: return true;
        case ReplyStatus::TooLong: return false;
        case ReplyStatus::NeedMore: break;
        }
    }
}

bool Transactions::receiveAcknowledge(LinkDevice &link)
{
    clearReceived();
    const int got = link.receiveExact(m_buffers.receive, 2);
    if (got < 1)
        return false;
    m_buffers.receiveCount = qMin(got, BufferSize);
    return isAcknowledge(m_buffers.receive, got);
}

void Transactions::sendEot(LinkDevice &link)
{
    static const char eot = EOT;
    link.send(&eot, 1);
}

bool Transactions::exchange(LinkDevice &link, const Request &request,
                            bool (Transactions::*receive)(LinkDevice &))
{
    if (!sendRequest(link, request))
        return false;
    if (!(this->*receive)(link)) {
        m_errors.set(m_buffers.receiveCount <= 0 ? NoResponse : InvalidResponse);
        return false;
    }
    if (!checkReplyStation(m_buffers.receive, qint8(link.stationId()))) {
        m_errors.set(InvalidStation);
        return false;
    }
    return true;
}

bool Transactions::readExchange(LinkDevice &link, const Request &request)
{
    if (!exchange(link, request, &Transactions::receiveReply))
        return false;
    if (isNak(m_buffers.receive, m_buffers.receiveCount)) {
        sendEot(link);
        m_errors.set(InvalidParameter);
        return false;
    }
    if (!checkReplyChecksum(m_buffers.receive, m_buffers.receiveCount)) {
        m_errors.set(ChecksumError);
        return false;
    }
    sendEot(link);
    return true;
}

bool Transactions::writeExchange(LinkDevice &link, const Request &request)
{
    if (!exchange(link, request, &Transactions::receiveAcknowledge))
        return false;
    sendEot(link);
    if (isNak(m_buffers.receive, m_buffers.receiveCount)) {
        m_errors.set(InvalidParameter);
        return false;
    }
    return true;
}

bool Transactions::queryParameter(LinkDevice &link, quint16 parameter)
{
    return readExchange(link, request(Request::ReadParameter, parameter));
}

bool Transactions::queryArray(LinkDevice &link, quint16 parameter, quint16 first_element,
                              quint8 element_count)
{
    return readExchange(link, request(Request::ReadArray, parameter, first_element,
                                      element_count));
}

bool Transactions::storeParameter(LinkDevice &link, quint16 parameter, const QByteArray &value)
{
    return writeExchange(link, request(Request::WriteParameter, parameter, 0, 0, value));
}

bool Transactions::storeParameterText(LinkDevice &link, quint16 parameter,
                                      const QByteArray &text)
{
    return writeExchange(link, request(Request::WriteText, parameter, 0, 0, text));
}

bool Transactions::storeArray(LinkDevice &link, quint16 parameter, quint16 first_element,
                              quint8 element_count, const QByteArray &value)
{
    return writeExchange(link, request(Request::WriteArray, parameter, first_element,
                                       element_count, value));
}

bool Transactions::valueText(const char **text, int *length)
{
    if (replyValueText(m_buffers.receive, m_buffers.receiveCount, text, length))
        return true;
    m_errors.set(UnknownFormat);
    return false;
}

// With one allocation: the result.
QByteArray Transactions::decodedValue()
{
    const char *text = nullptr;
    int length = 0;
    if (!valueText(&text, &length))
        return QByteArray();
    QByteArray bytes(hexDecodedSize(text, length), Qt::Uninitialized);
    decodeHexDigits(text, length, bytes.data(), int(bytes.size()));
    return bytes;
}

QByteArray Transactions::queryParameterText(LinkDevice &link, quint16 parameter)
{
    const char *text = nullptr;
    int length = 0;
    if (!queryParameter(link, parameter) || !valueText(&text, &length))
        return QByteArray();
    return QByteArray(text, length);
}

QByteArray Transactions::queryParameterBytes(LinkDevice &link, quint16 parameter)
{
    return queryParameter(link, parameter) ? decodedValue() : QByteArray();
}

QByteArray Transactions::queryArrayBytes(LinkDevice &link, quint16 parameter,
                                         quint16 first_element, quint8 element_count)
{
    return queryArray(link, parameter, first_element, element_count) ? decodedValue()
                                                                       : QByteArray();
}

template <typename Integer>
bool Transactions::integerValue(bool (*read)(const char *, int, Integer *), Integer *value)
{
    if (read(m_buffers.receive, m_buffers.receiveCount, value))
        return true;
    m_errors.set(UnknownFormat);
    return false;
}

qint32 Transactions::queryParameterSigned(LinkDevice &link, quint16 parameter, bool &ok)
{
    qint32 value = 0;
    ok = queryParameter(link, parameter) && integerValue(replySignedValue, &value);
    return value;
}

quint32 Transactions::queryParameterUnsigned(LinkDevice &link, quint16 parameter, bool &ok)
{
    quint32 value = 0;
    ok = queryParameter(link, parameter) && integerValue(replyUnsignedValue, &value);
    return value;
}

} // namespace LustBus
