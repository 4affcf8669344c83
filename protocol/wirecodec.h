// Every rule of the LustBus wire, in one place: the five request formats and their
// recognition, the three replies and theirs, the block checksum and the readers of a
// reply's value text. The driver, the simulator, the links' diagnostics, the benchmarks,
// the fuzzers and the tests all go through these. Pure functions over a caller's
// buffer; they allocate nothing and never read or write past the sizes they are given.
//
// Requests (numbers are unsigned decimal with leading zeros to a minimum width:
// parameter "%03u", first element "%05u", element count "%02u"; hex values "%02X" per
// byte; BCC is the XOR of every byte after STX through ETX):
//   read parameter    EOT station "20" param ENQ
//   write parameter   EOT station STX "20" param "=" hex... ETX BCC
//   write text        EOT station STX "20" param "=" text... 00 ETX BCC
//   read array        EOT station "70" param first count ENQ
//   write array       EOT station STX "70" param first count "=" hex... ETX BCC
// Replies:
//   acknowledgement   station ACK | station NAK           (to a write; NAK also to a read)
//   data reply        station STX text "=" value ETX BCC  (BCC: XOR of text through ETX)
// The station character is 0x40 plus the station id.
#ifndef LUSTBUS_WIRECODEC_H
#define LUSTBUS_WIRECODEC_H

#include <QtCore/QByteArray>
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

// One whole telegram fits into a buffer of this size: with a three-digit parameter
// number that is up to 400 value bytes in a "20" write, 397 in a "70" write, or a text
// of 800. Longer requests and replies are not LustBus telegrams.
constexpr int BufferSize = 812;

// Station ids that have a station character (0x40 to 0x7F). The driver refuses other
// ids before it sends anything, because no reply could ever pass the station test.
constexpr int MinStationId = 0;
constexpr int MaxStationId = 63;

char stationCharacter(qint8 station);

// --- Requests -------------------------------------------------------------------------

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

// Each returns the telegram's length, or -1 when it does not fit into capacity bytes
// (nothing is to be sent then).
qint32 formatReadRequest(qint8 station, quint16 parameter, char *buffer, int capacity);
qint32 formatWriteRequest(qint8 station, quint16 parameter, const char *value, int count,
                          char *buffer, int capacity);
// The text ends at its first zero byte or after length bytes; one zero byte follows it.
qint32 formatWriteTextRequest(qint8 station, quint16 parameter, const char *text, int length,
                              char *buffer, int capacity);
qint32 formatArrayWriteRequest(qint8 station, quint16 parameter, quint16 first_element,
                               quint8 element_count, const char *value, int count, char *buffer,
                               int capacity);
qint32 formatRequest(qint8 station, const Request &request, char *buffer, int capacity);

// --- Request recognition --------------------------------------------------------------

// What a request's digits address. A "20" request names a parameter only.
struct RequestTarget
{
    quint16 parameter = 0;
    quint16 firstElement = 0;
    quint8 elementCount = 0;

    bool operator==(const RequestTarget &other) const
    {
        return parameter == other.parameter && firstElement == other.firstElement
            && elementCount == other.elementCount;
    }
};

// A complete request as it came in. Offsets count from its EOT.
struct ReceivedRequest
{
    enum Service { Simple, Array, OtherService }; //!< "20", "70", anything else

    int station = 0;  //!< the station character (unsigned) minus 0x40
    Service service = OtherService;
    bool write = false;
    bool checksumOk = true; //!< writes: BCC is right; reads carry none
    // The service is known, its digits are well-formed numbers and a write has "=".
    // Digit fields are minimum widths: a wider field never starts with 0.
    bool fieldsOk = false;
    RequestTarget target;
    // The "70" digits are ambiguous when the parameter and the count may both be wider
    // than their minimum: then target has the longer parameter and alternative the
    // other reading (the servo that knows its arrays picks).
    bool ambiguous = false;
    RequestTarget alternative;
    int valueAt = 0;   //!< writes: the bytes after "=" up to ETX (a text with its 00)
    int valueSize = 0;
};

// Recognition of the bytes a servo hears. EOT starts every request and breaks off one
// in progress, wherever it stands, except as the checksum byte after ETX (which may
// hold any value): so the EOT that closes an exchange, stray bytes and broken requests
// cost nothing but themselves. A text can therefore not carry EOT. A request longer
// than BufferSize is dropped.
struct RequestScan
{
    enum Status { NeedMore, Complete, Garbage };

    Status status = NeedMore;
    int length = 0; //!< Complete: the request's bytes; Garbage: the bytes to drop
    ReceivedRequest request; //!< Complete only
};

RequestScan scanRequest(const char *bytes, int size);
// Garbage that is only the lone EOT closing an exchange (or opening the next request):
// expected between requests, not a bad telegram.
inline bool isClosingEot(const RequestScan &scan, const char *bytes)
{
    return scan.status == RequestScan::Garbage && scan.length == 1 && bytes[0] == EOT;
}

// --- Replies --------------------------------------------------------------------------

// Each returns the reply's length, or -1 when it does not fit into capacity bytes.
// A data reply: station STX head "=" value ETX BCC. A servo puts the service and the
// parameter in the head ("20012=FB2E"); the driver does not look at it.
qint32 formatDataReply(qint8 station, const char *head, int headSize, const char *value,
                       int valueSize, char *buffer, int capacity);
qint32 formatAckReply(qint8 station, char *buffer, int capacity);
qint32 formatNakReply(qint8 station, char *buffer, int capacity);

// --- Reply recognition ----------------------------------------------------------------

// The reply to a read request, count bytes in so far: complete when byte 1 is NAK (what
// follows is not looked at) or, past two bytes, when the byte before the last is ETX;
// TooLong when BufferSize bytes came without that.
enum class ReplyStatus { NeedMore, Complete, TooLong };
ReplyStatus scanReadReply(const char *reply, int count);
// The reply to a write request: exactly station and ACK or NAK.
bool isAcknowledge(const char *reply, int count);
bool isNak(const char *reply, int count);

// The reply's first byte names the station (taken as signed 8-bit, minus 0x40).
bool checkReplyStation(const char *reply, qint8 station);
// The last received byte is the XOR of the count - 3 bytes after the first STX.
bool checkReplyChecksum(const char *reply, int received_count);

// The reply to a request as one who passes whole exchanges on sees it (a gateway
// between masters and a bus), count bytes in so far and read as the driver reads them:
// a write's acknowledgement is its first two bytes; a read reply ends at the first
// byte where scanReadReply calls it complete. Bytes after the reply belong to no one.
// closedWithEot tells whether the master closes the exchange with one EOT: the driver
// does so after a NAK or a reply that passes its tests (the request's station, and a
// data reply's checksum or an acknowledgement's ACK or NAK), after nothing else.
struct ReplyScan
{
    ReplyStatus status = ReplyStatus::NeedMore;
    int length = 0;             //!< Complete: the reply's bytes; TooLong: BufferSize
    bool closedWithEot = false; //!< Complete only
};
ReplyScan scanReply(const ReceivedRequest &request, const char *reply, int count);

// --- Value texts of a data reply ------------------------------------------------------

// The bytes after the first "=" (searched from byte 2, up to a zero byte) and before
// the ETX at count - 2. false without a value: no "=", or one only in the checksum byte.
bool replyValueText(const char *reply, int count, const char **text, int *length);
// The value as a hexadecimal integer, as strtol (signed) or strtoul (unsigned) read it in
// base 16 with a 32-bit result: white space, a sign and 0x are taken; beyond the range
// the signed read stops at its limits, the unsigned one at 4294967295, and a minus sign
// negates modulo 2^32. The number must be followed directly by ETX; "=" ETX reads as 0.
bool replySignedValue(const char *reply, int count, qint32 *value);
bool replyUnsignedValue(const char *reply, int count, quint32 *value);
// Hex digits to bytes as QByteArray::fromHex reads them: pairs of digits of either
// case, other characters skipped, and an odd count leaves the first digit a byte of its
// own. decodeHexDigits fills size bytes, where size is what hexDecodedSize tells.
int hexDecodedSize(const char *text, int length);
void decodeHexDigits(const char *text, int length, char *bytes, int size);

// --- For callers that keep telegrams in Qt's arrays -------------------------------------

// Runs one of the format functions above into a new array: formatted(formatAckReply, 1).
// Empty when the telegram does not fit into a buffer.
template <typename... Parameters, typename... Arguments>
QByteArray formatted(qint32 (*format)(Parameters...), Arguments... arguments)
{
    QByteArray telegram(BufferSize, Qt::Uninitialized);
    const qint32 length = format(arguments..., telegram.data(), BufferSize);
    telegram.resize(length < 0 ? 0 : length);
    return telegram;
}

} // namespace LustBus

#endif // LUSTBUS_WIRECODEC_H
