#include "telegrams.h"

#include "tools/checksums.h"

#include <cstring>

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

    int length() const { return m_length; }
    qint32 result() const { return m_overflow ? -1 : m_length; }

private:
    char *m_buffer;
    int m_capacity;
    int m_length = 0;
    bool m_overflow = false;
};

// EOT station [STX] service param: the head that every request shares.
void putHead(TelegramWriter &out, qint8 station, bool write, const char *service,
             quint16 parameter)
{
    out.put(EOT);
    out.put(stationCharacter(station));
    if (write)
        out.put(STX);
    out.putText(service);
    out.putDecimal(parameter, 3);
}

constexpr int StxAt = 2;

} // namespace

char stationCharacter(qint8 station)
{
    return char(0x40 + station);
}

qint32 formatReadRequest(qint8 station, quint16 parameter, char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    putHead(out, station, false, "20", parameter);
    out.put(ENQ);
    return out.result();
}

qint32 formatWriteRequest(qint8 station, quint16 parameter, const char *value, int count,
                          char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    putHead(out, station, true, "20", parameter);
    out.put('=');
    out.putHex(value, count);
    out.closeBlock(StxAt);
    return out.result();
}

qint32 formatWriteTextRequest(qint8 station, quint16 parameter, const char *text, int length,
                              char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    putHead(out, station, true, "20", parameter);
    out.put('=');
    for (int i = 0; text && i < length && text[i] != '\0'; ++i)
        out.put(text[i]);
    out.put('\0');
    out.closeBlock(StxAt);
    return out.result();
}

qint32 formatArrayReadRequest(qint8 station, quint16 parameter, quint16 first_element,
                              quint8 element_count, char *buffer, int capacity)
{
    TelegramWriter out(buffer, capacity);
    putHead(out, station, false, "70", parameter);
    out.putDecimal(first_element, 5);
    out.putDecimal(element_count, 2);
    out.put(ENQ);
    return out.result();
}

qint32 formatArrayWriteRequest(qint8 station, quint16 parameter, quint16 first_element,
                               quint8 element_count, const char *value, int count, char *buffer,
                               int capacity)
{
    TelegramWriter out(buffer, capacity);
    putHead(out, station, true, "70", parameter);
    out.putDecimal(first_element, 5);
    out.putDecimal(element_count, 2);
    out.put('=');
    out.putHex(value, count);
    out.closeBlock(StxAt);
    return out.result();
}

qint32 formatRequest(qint8 station, const Request &r, char *buffer, int capacity)
{
    switch (r.kind) {
    case Request::ReadParameter:
        return formatReadRequest(station, r.parameter, buffer, capacity);
    case Request::WriteParameter:
        return formatWriteRequest(station, r.parameter, r.value, r.valueSize, buffer, capacity);
    case Request::WriteText:
        return formatWriteTextRequest(station, r.parameter, r.value, r.valueSize, buffer,
                                      capacity);
    case Request::ReadArray:
        return formatArrayReadRequest(station, r.parameter, r.firstElement, r.elementCount,
                                      buffer, capacity);
    case Request::WriteArray:
        return formatArrayWriteRequest(station, r.parameter, r.firstElement, r.elementCount,
                                       r.value, r.valueSize, buffer, capacity);
    }
    return -1;
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

} // namespace LustBus
