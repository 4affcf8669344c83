#include "wirecodec.h"

#include "tools/checksums.h"
#include "tools/texts.h"

#include <limits>

namespace LustBus {

namespace {

// Builds a telegram front to back; writes nothing once the capacity would be passed,
// and remembers that it overflowed.
class TelegramWriter
{
public:
    TelegramWriter(char *buffer, int capacity) : m_buffer(buffer), m_capacity(capacity) {}

    void put(char byte)
    {
        if (m_length < m_capacity)
            m_buffer[m_length] = byte;
        else
            m_overflow = true;
        ++m_length;
    }

    void putText(const char *text)
    {
        while (*text)
            put(*text++);
    }

    void putBytes(const char *bytes, int count)
    {
        for (int i = 0; bytes && i < count; ++i)
            put(bytes[i]);
    }

    // Unsigned decimal with leading zeros up to width digits ("%0<width>u").
    void putDecimal(quint32 value, int width)
    {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = char('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int i = n; i < width; ++i)
            put('0');
        while (n > 0)
            put(digits[--n]);
    }

    void putHex(const char *bytes, int count)
    {
        static const char hex[] = "0123456789ABCDEF";
        for (int i = 0; i < count; ++i) {
            const quint8 byte = quint8(bytes[i]);
            put(hex[byte >> 4]);
            put(hex[byte & 0x0F]);
        }
    }

    // ETX and the XOR of everything from the byte after STX through ETX.
    void closeBlock(int stxAt)
    {
        put(ETX);
        if (!m_overflow)
            put(char(xorChecksum(m_buffer + stxAt + 1, m_length - stxAt - 1)));
        else
            put('\0');
    }

    qint32 result() const { return m_overflow ? -1 : m_length; }

private:
    char *m_buffer;
    int m_capacity;
    int m_length = 0;
    bool m_overflow = false;
};

constexpr int RequestStxAt = 2;
constexpr int ReplyStxAt = 1;

// Digit fields of a request: at least minWidth digits, a wider field never starts
// with 0 (the sender pads only to the minimum), at most max.
bool readField(const char *digits, int length, int minWidth, quint32 max, quint32 *value)
{
    if (length < minWidth || (length > minWidth && digits[0] == '0'))
        return false;
    quint64 number = 0;
    for (int i = 0; i < length; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        number = number * 10 + quint64(digits[i] - '0');
        if (number > max)
            return false;
    }
    *value = quint32(number);
    return true;
}

// A "70" digit run: parameter of 3 to 5 digits, first element of 5, count of 2 or 3.
// The readings that fit, the longer parameter first; at most two.
int splitArrayDigits(const char *digits, int length, RequestTarget targets[2])
{
    int found = 0;
    for (int parameterWidth = 5; parameterWidth >= 3 && found < 2; --parameterWidth) {
        const int countWidth = length - 5 - parameterWidth;
        if (countWidth < 2 || countWidth > 3)
            continue;
        quint32 parameter = 0, first = 0, count = 0;
        if (readField(digits, parameterWidth, 3, 0xFFFF, &parameter)
            && readField(digits + parameterWidth, 5, 5, 0xFFFF, &first)
            && readField(digits + parameterWidth + 5, countWidth, 2, 0xFF, &count))
            targets[found++] = {quint16(parameter), quint16(first), quint8(count)};
    }
    return found;
}

// The fields of a complete request: body from bodyAt to bodyEnd (the service digits
// through the byte before ENQ or ETX).
void readFields(const char *request, int bodyAt, int bodyEnd, ReceivedRequest &r)
{
    const char *body = request + bodyAt;
    const int size = bodyEnd - bodyAt;
    if (size >= 2 && body[0] == '2' && body[1] == '0')
        r.service = ReceivedRequest::Simple;
    else if (size >= 2 && body[0] == '7' && body[1] == '0')
        r.service = ReceivedRequest::Array;
    else
        return;
    int digitsEnd = size;
    if (r.write) {
        digitsEnd = 2;
        while (digitsEnd < size && body[digitsEnd] != '=')
            ++digitsEnd;
        if (digitsEnd == size)
            return;
        r.valueAt = bodyAt + digitsEnd + 1;
        r.valueSize = size - digitsEnd - 1;
    }
    const char *digits = body + 2;
    const int length = digitsEnd - 2;
    if (r.service == ReceivedRequest::Simple) {
        quint32 parameter = 0;
        r.fieldsOk = readField(digits, length, 3, 0xFFFF, &parameter);
        r.target.parameter = quint16(parameter);
        return;
    }
    RequestTarget targets[2];
    const int found = splitArrayDigits(digits, length, targets);
    r.fieldsOk = found > 0;
    r.target = targets[0];
    r.ambiguous = found > 1;
    r.alternative = targets[1];
}

RequestScan garbage(int length)
{
    RequestScan scan;
    scan.status = RequestScan::Garbage;
    scan.length = length;
    return scan;
}

// strtol/strtoul in base 16 over at most length bytes: white space, a sign, a 0x
// prefix, then digits. end is the index of the first byte after the number, or 0
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
        && HexDigitValue(text[i + 2]) >= 0)
        i += 2;
    const int first = i;
    constexpr quint64 saturated = quint64(1) << 32;
    for (; i < length && HexDigitValue(text[i]) >= 0; ++i) {
        number.magnitude = number.magnitude * 16 + quint64(HexDigitValue(text[i]));
        if (number.magnitude > saturated)
            number.magnitude = saturated;
    }
    number.end = i > first ? i : 0;
    return number;
}

// The index after the reply's first "=", searched from byte 2 up to a zero byte; -1
// without one.
int valueStart(const char *reply, int count)
{
    for (int i = 2; i < count && reply[i] != '\0'; ++i) {
        if (reply[i] == '=')
            return i + 1;
    }
    return -1;
}

// The integer after the "=", which must be followed directly by ETX; with no digits at
// all the byte right after the "=" is tested, so "=" ETX reads as 0.
bool replyHexNumber(const char *reply, int count, HexNumber *number)
{
    const int start = valueStart(reply, count);
    if (start < 0)
        return false;
    const char *text = reply + start;
    const int available = count - start;
    *number = scanHexNumber(text, available);
    return number->end < available && text[number->end] == ETX;
}

} // namespace

char stationCharacter(qint8 station)
{
    return char(0x40 + station);
}

qint32 formatRequest(qint8 station, const Request &r, char *buffer, int capacity)
{
    if (r.kind < Request::ReadParameter || r.kind > Request::WriteArray)
        return -1;
    const bool array = r.kind == Request::ReadArray || r.kind == Request::WriteArray;
    const bool write = r.kind != Request::ReadParameter && r.kind != Request::ReadArray;
    TelegramWriter out(buffer, capacity);
    out.put(EOT);
    out.put(stationCharacter(station));
    if (write)
        out.put(STX);
    out.putText(array ? "70" : "20");
    out.putDecimal(r.parameter, 3);
    if (array) {
        out.putDecimal(r.firstElement, 5);
        out.putDecimal(r.elementCount, 2);
    }
    if (!write) {
        out.put(ENQ);
        return out.result();
    }
    out.put('=');
    if (r.kind == Request::WriteText) {
        for (int i = 0; r.value && i < r.valueSize && r.value[i] != '\0'; ++i)
            out.put(r.value[i]);
        out.put('\0');
    } else {
        out.putHex(r.value, r.valueSize);
    }
    out.closeBlock(RequestStxAt);
    return out.result();
}

qint32 formatReadRequest(qint8 station, quint16 parameter, char *buffer, int capacity)
{
    return formatRequest(station, {Request::ReadParameter, parameter}, buffer, capacity);
}

qint32 formatWriteRequest(qint8 station, quint16 parameter, const char *value, int count,
                          char *buffer, int capacity)
{
    return formatRequest(station, {Request::WriteParameter, parameter, 0, 0, value, count},
                         buffer, capacity);
}

qint32 formatWriteTextRequest(qint8 station, quint16 parameter, const char *text, int length,
                              char *buffer, int capacity)
{
    return formatRequest(station, {Request::WriteText, parameter, 0, 0, text, length}, buffer,
                         capacity);
}

qint32 formatArrayWriteRequest(qint8 station, quint16 parameter, quint16 first_element,
                               quint8 element_count, const char *value, int count, char *buffer,
                               int capacity)
{
    return formatRequest(station,
                         {Request::WriteArray, parameter, first_element, element_count, value,
                          count},
                         buffer, capacity);
}

RequestScan scanRequest(const char *bytes, int size)
{
    if (size <= 0)
        return RequestScan();
    if (bytes[0] != EOT) {
        int drop = 1;
        while (drop < size && bytes[drop] != EOT)
            ++drop;
        return garbage(drop);
    }
    // Byte 1 is the station character, byte 2 STX in a write.
    const bool write = size > 2 && bytes[2] == STX;
    const int bodyAt = write ? 3 : 2;
    const int end = qMin(size, BufferSize);
    for (int i = 1; i < end; ++i) {
        if (bytes[i] == EOT)
            return garbage(i); // a new request breaks this one off
        if (i < bodyAt || bytes[i] != (write ? ETX : ENQ))
            continue;
        if (write && i + 1 == BufferSize)
            break; // no room for the checksum
        if (write && i + 1 == size)
            return RequestScan(); // the checksum is still to come
        RequestScan scan;
        scan.status = RequestScan::Complete;
        scan.length = write ? i + 2 : i + 1;
        ReceivedRequest &r = scan.request;
        r.station = int(quint8(bytes[1])) - 0x40;
        r.write = write;
        if (write)
            r.checksumOk = xorChecksum(bytes + bodyAt, i + 1 - bodyAt) == quint8(bytes[i + 1]);
        readFields(bytes, bodyAt, i, r);
        return scan;
    }
    return size >= BufferSize ? garbage(BufferSize) : RequestScan();
}

qint32 formatDataReply(qint8 station, const char *head, int headSize, const char *value,
                       int valueSize, char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    out.put(stationCharacter(station));
    out.put(STX);
    out.putBytes(head, headSize);
    out.put('=');
    out.putBytes(value, valueSize);
    out.closeBlock(ReplyStxAt);
    return out.result();
}

// ACK and NAK: the station character and the one control byte.
static qint32 formatShortReply(qint8 station, char code, char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    out.put(stationCharacter(station));
    out.put(code);
    return out.result();
}

qint32 formatAckReply(qint8 station, char *buffer, int capacity)
{
    return formatShortReply(station, ACK, buffer, capacity);
}

qint32 formatNakReply(qint8 station, char *buffer, int capacity)
{
    return formatShortReply(station, NAK, buffer, capacity);
}

ReplyStatus scanReadReply(const char *reply, int count)
{
    if (isNak(reply, count) || (count > 2 && reply[count - 2] == ETX))
        return ReplyStatus::Complete;
    return count >= BufferSize ? ReplyStatus::TooLong : ReplyStatus::NeedMore;
}

bool isAcknowledge(const char *reply, int count)
{
    return count == 2 && (reply[1] == ACK || reply[1] == NAK);
}

bool isNak(const char *reply, int count)
{
    return count >= 2 && reply[1] == NAK;
}

bool checkReplyStation(const char *reply, qint8 station)
{
    return qint8(reply[0]) - 0x40 == station;
}

bool checkReplyChecksum(const char *reply, int received_count)
{
    int stx = 0;
    while (stx < received_count && reply[stx] != '\0' && reply[stx] != STX)
        ++stx;
    if (stx >= received_count || reply[stx] != STX)
        return false;
    // The span may end on the last received byte but never past it.
    const int span = received_count - 3;
    if (span < 0 || stx + 1 + span > received_count)
        return false;
    return xorChecksum(reply + stx + 1, span) == quint8(reply[received_count - 1]);
}

ReplyScan scanReply(const ReceivedRequest &request, const char *reply, int count)
{
    ReplyScan scan;
    const qint8 station = qint8(request.station);
    if (request.write) {
        if (count < 2)
            return scan;
        scan.status = ReplyStatus::Complete;
        scan.length = 2;
        scan.closedWithEot = isAcknowledge(reply, 2) && checkReplyStation(reply, station);
        return scan;
    }
    // Byte by byte, so that the reply ends where the driver would have seen it end.
    for (int n = 1; n <= qMin(count, BufferSize); ++n) {
        if (scanReadReply(reply, n) != ReplyStatus::Complete)
            continue;
        scan.status = ReplyStatus::Complete;
        scan.length = n;
        scan.closedWithEot = checkReplyStation(reply, station)
                             && (isNak(reply, n) || checkReplyChecksum(reply, n));
        return scan;
    }
    if (count >= BufferSize) {
        scan.status = ReplyStatus::TooLong;
        scan.length = BufferSize;
    }
    return scan;
}

bool replyValueText(const char *reply, int count, const char **text, int *length)
{
    const int start = valueStart(reply, count);
    if (start < 0)
        return false;
    // Ends before the ETX; an "=" found only in the checksum byte leaves no value.
    const int n = (count - 2) - start;
    if (n < 0)
        return false;
    *text = reply + start;
    *length = n;
    return true;
}

bool replySignedValue(const char *reply, int count, qint32 *value)
{
    HexNumber number;
    if (!replyHexNumber(reply, count, &number))
        return false;
    constexpr qint32 min = std::numeric_limits<qint32>::min();
    constexpr qint32 max = std::numeric_limits<qint32>::max();
    if (number.negative)
        *value = number.magnitude >= quint64(1) << 31 ? min : -qint32(number.magnitude);
    else
        *value = number.magnitude > quint64(max) ? max : qint32(number.magnitude);
    return true;
}

bool replyUnsignedValue(const char *reply, int count, quint32 *value)
{
    HexNumber number;
    if (!replyHexNumber(reply, count, &number))
        return false;
    if (number.magnitude > std::numeric_limits<quint32>::max()) {
        *value = std::numeric_limits<quint32>::max();
        return true;
    }
    const quint32 magnitude = quint32(number.magnitude);
    *value = number.negative ? quint32(0u - magnitude) : magnitude;
    return true;
}

int hexDecodedSize(const char *text, int length)
{
    int digits = 0;
    for (int i = 0; i < length; ++i)
        digits += HexDigitValue(text[i]) >= 0;
    return (digits + 1) / 2;
}

void decodeHexDigits(const char *text, int length, char *bytes, int size)
{
    // Back to front, so that an odd digit left over is the first byte's alone. Given
    // less room, the first digits are left out; given more, the first bytes are 0.
    int at = size;
    bool low = true;
    for (int i = length - 1; i >= 0; --i) {
        const int value = HexDigitValue(text[i]);
        if (value < 0)
            continue;
        if (low && at == 0)
            break;
        if (low)
            bytes[--at] = char(value);
        else
            bytes[at] = char(bytes[at] | (value << 4));
        low = !low;
    }
    while (at > 0)
        bytes[--at] = '\0';
}

} // namespace LustBus
