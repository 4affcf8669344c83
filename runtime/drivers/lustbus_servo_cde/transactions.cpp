// One LustBus exchange per call: send the request, receive and test the reply, close
// with EOT where the protocol asks for it, and read the value out of the reply.
//
// Link calls of one exchange, in order: control(12, 0), stationId, send(request),
// receive... (reads) or receiveExact(2) (writes), stationId, and send(EOT) only after a
// NAK or a good reply.
#include "driverlustbusservoccde.h"
#include "errortexts.h"

#include <cstring>
#include <limits>

using namespace LustBus;
using namespace LustBus::ErrorText;

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Pairs of hex digits form a byte each, other characters are skipped, and an odd
// digit count leaves the first digit a byte of its own (QByteArray::fromHex's rules),
// with one allocation for the result.
QByteArray decodeHexDigits(const char *text, int length)
{
    int digits = 0;
    for (int i = 0; i < length; ++i)
        digits += hexDigitValue(text[i]) >= 0;
    QByteArray bytes((digits + 1) / 2, '\0');
    int at = bytes.size();
    bool low = true;
    for (int i = length - 1; i >= 0; --i) {
        const int value = hexDigitValue(text[i]);
        if (value < 0)
            continue;
        if (low) {
            bytes[--at] = char(value);
        } else {
            bytes[at] = char(bytes[at] | (value << 4));
        }
        low = !low;
    }
    return bytes;
}

// strtol/strtoul in base 16 over at most length bytes: white space, a sign, a 0x
// prefix, then digits. Returns the index of the first byte after the number, or 0
// when no digit was found (as strtol leaves its end pointer at the start).
struct HexNumber
{
    quint64 magnitude = 0; //!< saturates at 2^32, beyond every 32-bit result
    bool negative = false;
    int end = 0;
};

HexNumber scanHexNumber(const char *text, int length)
{
    HexNumber number;
    int i = 0;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        number.negative = text[i++] == '-';
    if (i + 2 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && hexDigitValue(text[i + 2]) >= 0)
        i += 2;
    const int first = i;
    constexpr quint64 saturated = quint64(1) << 32;
    for (; i < length && hexDigitValue(text[i]) >= 0; ++i) {
        number.magnitude = number.magnitude * 16 + quint64(hexDigitValue(text[i]));
        if (number.magnitude > saturated)
            number.magnitude = saturated;
    }
    number.end = i > first ? i : 0;
    return number;
}

template <typename Integer>
Integer toInteger(const HexNumber &number);

// Clamped to the signed 32-bit range, whatever the platform's long.
template <>
qint32 toInteger<qint32>(const HexNumber &number)
{
    if (number.negative)
        return number.magnitude >= quint64(1) << 31 ? std::numeric_limits<qint32>::min()
                                                    : -qint32(number.magnitude);
    return number.magnitude > quint64(std::numeric_limits<qint32>::max())
        ? std::numeric_limits<qint32>::max()
        : qint32(number.magnitude);
}

// Beyond 32 bits gives the largest value; a minus sign negates modulo 2^32.
template <>
quint32 toInteger<quint32>(const HexNumber &number)
{
    if (number.magnitude > std::numeric_limits<quint32>::max())
        return std::numeric_limits<quint32>::max();
    const quint32 value = quint32(number.magnitude);
    return number.negative ? quint32(0u - value) : value;
}

} // namespace

bool DriverLustBusServoCCDE::sendRequest(LinkDevice &link, const Request &request)
{
    link.control(LinkControlDiscardInput, QVariant(0));
    const qint8 station = qint8(link.stationId());
    if (station < MinStationId || station > MaxStationId) {
        setError(StationOutOfRange);
        return false;
    }
    const qint32 length = formatRequest(station, request, m_buffers.transmit, BufferSize);
    if (length < 0) {
        setError(ValueTooLong);
        return false;
    }
    // A telegram that did not go out shows as a missing reply.
    link.send(m_buffers.transmit, length);
    return true;
}

void DriverLustBusServoCCDE::clearReceived()
{
    if (m_buffers.receiveCount > 0)
        std::memset(m_buffers.receive, 0, size_t(qMin(m_buffers.receiveCount, BufferSize)));
    m_buffers.receiveCount = 0;
}

bool DriverLustBusServoCCDE::receiveReply(LinkDevice &link)
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
        if (count < 2)
            continue;
        if (reply[1] == NAK)
            return true;
        if (count == 2)
            continue;
        if (reply[count - 2] == ETX)
            return true;
        if (count >= BufferSize)
            return false;
    }
}

bool DriverLustBusServoCCDE::receiveAcknowledge(LinkDevice &link)
{
    clearReceived();
    const int got = link.receiveExact(m_buffers.receive, 2);
    if (got < 1)
        return false;
    m_buffers.receiveCount = qMin(got, BufferSize);
    if (got != 2)
        return false;
    return m_buffers.receive[1] == ACK || m_buffers.receive[1] == NAK;
}

void DriverLustBusServoCCDE::sendEot(LinkDevice &link)
{
    static const char eot = EOT;
    link.send(&eot, 1);
}

bool DriverLustBusServoCCDE::readExchange(LinkDevice &link, const Request &request)
{
    if (!sendRequest(link, request))
        return false;
    if (!receiveReply(link)) {
        setError(m_buffers.receiveCount <= 0 ? NoResponse : InvalidResponse);
        return false;
    }
    if (!checkReplyStation(m_buffers.receive, qint8(link.stationId()))) {
        setError(InvalidStation);
        return false;
    }
    if (m_buffers.receive[1] == NAK) {
        sendEot(link);
        setError(InvalidParameter);
        return false;
    }
    if (!checkReplyChecksum(m_buffers.receive, m_buffers.receiveCount)) {
        setError(ChecksumError);
        return false;
    }
    sendEot(link);
    return true;
}

bool DriverLustBusServoCCDE::writeExchange(LinkDevice &link, const Request &request)
{
    if (!sendRequest(link, request))
        return false;
    if (!receiveAcknowledge(link)) {
        setError(m_buffers.receiveCount <= 0 ? NoResponse : InvalidResponse);
        return false;
    }
    if (!checkReplyStation(m_buffers.receive, qint8(link.stationId()))) {
        setError(InvalidStation);
        return false;
    }
    sendEot(link);
    if (m_buffers.receive[1] == NAK) {
        setError(InvalidParameter);
        return false;
    }
    return true;
}

bool DriverLustBusServoCCDE::queryParameter(LinkDevice &link, quint16 parameter)
{
    Request request;
    request.kind = Request::ReadParameter;
    request.parameter = parameter;
    return readExchange(link, request);
}

bool DriverLustBusServoCCDE::queryArray(LinkDevice &link, quint16 parameter,
                                        quint16 first_element, quint8 element_count)
{
    Request request;
    request.kind = Request::ReadArray;
    request.parameter = parameter;
    request.firstElement = first_element;
    request.elementCount = element_count;
    return readExchange(link, request);
}

bool DriverLustBusServoCCDE::storeParameter(LinkDevice &link, quint16 parameter,
                                            const QByteArray &value)
{
    Request request;
    request.kind = Request::WriteParameter;
    request.parameter = parameter;
    request.value = value.constData();
    request.valueSize = value.size();
    return writeExchange(link, request);
}

bool DriverLustBusServoCCDE::storeParameterText(LinkDevice &link, quint16 parameter,
                                                const QByteArray &text)
{
    Request request;
    request.kind = Request::WriteText;
    request.parameter = parameter;
    request.value = text.constData();
    request.valueSize = text.size();
    return writeExchange(link, request);
}

bool DriverLustBusServoCCDE::storeArray(LinkDevice &link, quint16 parameter,
                                        quint16 first_element, quint8 element_count,
                                        const QByteArray &value)
{
    Request request;
    request.kind = Request::WriteArray;
    request.parameter = parameter;
    request.firstElement = first_element;
    request.elementCount = element_count;
    request.value = value.constData();
    request.valueSize = value.size();
    return writeExchange(link, request);
}

int DriverLustBusServoCCDE::valueStart() const
{
    const char *reply = m_buffers.receive;
    for (int i = 2; i < m_buffers.receiveCount && reply[i] != '\0'; ++i) {
        if (reply[i] == '=')
            return i + 1;
    }
    return -1;
}

bool DriverLustBusServoCCDE::replyValueText(const char *&text, int &length) const
{
    const int start = valueStart();
    if (start < 0)
        return false;
    // Ends before the ETX; an "=" found only in the checksum byte leaves no value.
    const int n = (m_buffers.receiveCount - 2) - start;
    if (n < 0)
        return false;
    text = m_buffers.receive + start;
    length = n;
    return true;
}

QByteArray DriverLustBusServoCCDE::queryParameterText(LinkDevice &link, quint16 parameter)
{
    const char *text = nullptr;
    int length = 0;
    if (!queryParameter(link, parameter))
        return QByteArray();
    if (!replyValueText(text, length)) {
        setError(UnknownFormat);
        return QByteArray();
    }
    return QByteArray(text, length);
}

QByteArray DriverLustBusServoCCDE::queryParameterBytes(LinkDevice &link, quint16 parameter)
{
    const char *text = nullptr;
    int length = 0;
    if (!queryParameter(link, parameter))
        return QByteArray();
    if (!replyValueText(text, length)) {
        setError(UnknownFormat);
        return QByteArray();
    }
    return decodeHexDigits(text, length);
}

QByteArray DriverLustBusServoCCDE::queryArrayBytes(LinkDevice &link, quint16 parameter,
                                                   quint16 first_element, quint8 element_count)
{
    const char *text = nullptr;
    int length = 0;
    if (!queryArray(link, parameter, first_element, element_count))
        return QByteArray();
    if (!replyValueText(text, length)) {
        setError(UnknownFormat);
        return QByteArray();
    }
    return decodeHexDigits(text, length);
}

template <typename Integer>
Integer DriverLustBusServoCCDE::queryParameterInteger(LinkDevice &link, quint16 parameter,
                                                      bool &ok)
{
    ok = queryParameter(link, parameter);
    if (!ok)
        return 0;
    // The number must be followed directly by ETX; with no digits at all the byte
    // right after the "=" is tested, so "=" ETX reads as 0.
    const int start = valueStart();
    if (start >= 0) {
        const char *text = m_buffers.receive + start;
        const int available = m_buffers.receiveCount - start;
        const HexNumber number = scanHexNumber(text, available);
        if (number.end < available && text[number.end] == ETX)
            return toInteger<Integer>(number);
    }
    setError(UnknownFormat);
    ok = false;
    return 0;
}

qint32 DriverLustBusServoCCDE::queryParameterSigned(LinkDevice &link, quint16 parameter,
                                                    bool &ok)
{
    return queryParameterInteger<qint32>(link, parameter, ok);
}

quint32 DriverLustBusServoCCDE::queryParameterUnsigned(LinkDevice &link, quint16 parameter,
                                                       bool &ok)
{
    return queryParameterInteger<quint32>(link, parameter, ok);
}
