// Every byte the driver puts on the wire and every reply byte it looks at: the five
// LustBus request formats, the closing EOT, the reply tests and the block checksum.
// Pure functions over a caller's buffer; they allocate nothing and never write past
// the capacity they are given.
//
// Request layouts (numbers are unsigned decimal with leading zeros to a minimum width:
// parameter "%03u", first element "%05u", element count "%02u"; hex values "%02X" per
// byte; BCC is the XOR of every byte after STX through ETX):
//   read parameter    EOT station "20" param ENQ
//   write parameter   EOT station STX "20" param "=" hex... ETX BCC
//   write text        EOT station STX "20" param "=" text... 00 ETX BCC
//   read array        EOT station "70" param first count ENQ
//   write array       EOT station STX "70" param first count "=" hex... ETX BCC
// Replies: station ACK | station NAK | station STX text "=" value ETX BCC.
#ifndef LUSTBUS_TELEGRAMS_H
#define LUSTBUS_TELEGRAMS_H

#include <QtCore/QtGlobal>

namespace LustBus {

enum ControlChar : char {
    STX = 0x02,
    ETX = 0x03,
    EOT = 0x04,
    ENQ = 0x05,
    ACK = 0x06,
    NAK = 0x15
};

// Both protocol buffers hold one whole telegram: with a three-digit parameter number
// that is up to 400 value bytes in a "20" write, 397 in a "70" write, or a text of 800.
constexpr int BufferSize = 812;

// Station ids that have a station character (0x40 to 0x7F). The driver refuses other
// ids before it sends anything, because no reply could ever pass the station test.
constexpr int MinStationId = 0;
constexpr int MaxStationId = 63;

// The driver's transmit and receive buffers; the receive buffer always holds the
// latest reply followed only by zero bytes.
struct ProtocolBuffers
{
    char transmit[BufferSize] = {};
    char receive[BufferSize] = {};
    qint32 receiveCount = 0;
};

// One request telegram to format.
struct Request
{
    enum Kind { ReadParameter, WriteParameter, WriteText, ReadArray, WriteArray };

    Kind kind = ReadParameter;
    quint16 parameter = 0;
    quint16 firstElement = 0; //!< array requests only
    quint8 elementCount = 0;  //!< array requests only
    const char *value = nullptr; //!< bytes sent as hex digits, or the text
    int valueSize = 0;
};

char stationCharacter(qint8 station);

// Each returns the telegram's length, or -1 when it does not fit into capacity bytes
// (nothing is to be sent then).
qint32 formatReadRequest(qint8 station, quint16 parameter, char *buffer, int capacity);
qint32 formatWriteRequest(qint8 station, quint16 parameter, const char *value, int count,
                          char *buffer, int capacity);
// The text ends at its first zero byte or after length bytes; one zero byte follows it.
qint32 formatWriteTextRequest(qint8 station, quint16 parameter, const char *text, int length,
                              char *buffer, int capacity);
qint32 formatArrayReadRequest(qint8 station, quint16 parameter, quint16 first_element,
                              quint8 element_count, char *buffer, int capacity);
qint32 formatArrayWriteRequest(qint8 station, quint16 parameter, quint16 first_element,
                               quint8 element_count, const char *value, int count, char *buffer,
                               int capacity);
qint32 formatRequest(qint8 station, const Request &request, char *buffer, int capacity);

// The reply's first byte names the station (taken as signed 8-bit, minus 0x40).
bool checkReplyStation(const char *reply, qint8 station);
// The last received byte is the XOR of the count - 3 bytes after the first STX.
bool checkReplyChecksum(const char *reply, int received_count);

} // namespace LustBus

#endif // LUSTBUS_TELEGRAMS_H
