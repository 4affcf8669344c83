// How a simulated servo answers one request frame addressed to it, from its parameter
// table: a data reply, ACK or NAK. Pure apart from the table, which accepted writes
// change.
//
//   "20" read   simple parameter: station STX "20" param "=" value ETX BCC, the value
//               as two upper-case hex digits per byte (most significant first) or, for
//               STRING, the text as it stands
//   "20" write  hex digits of exactly the parameter's width (2, 4 or 8 digits), or for
//               STRING the text up to its first 0x00 byte: ACK
//   "70" read   elements first to first + count - 1 of an array parameter: the data
//               reply with their hex digits ("70" param "=" digits)
//   "70" write  exactly count elements of hex digits: ACK
//
// NAK answers: an unknown parameter, a "20" access to an array or a "70" access to a
// simple parameter, a write to a read-only parameter, a write whose checksum is wrong,
// a value of the wrong width or with a character that is not a hex digit, an element
// range that reaches past the array's end, and any request that does not parse.
//
// Digit fields are minimum widths (parameter 3, first element 5, count 2 digits), so a
// "70" digit run longer than 10 digits is ambiguous. The first element always has 5
// digits (65535 fits); a parameter field wider than 3 digits and a count field of 3
// digits never start with 0 (the sender pads only to the minimum) and a count is at
// most 255. Among the splits that satisfy this, the one whose parameter is an array of
// this servo wins; when none or several are, the one with the longer parameter number.
#ifndef LUSTBUSSIM_SERVORESPONDER_H
#define LUSTBUSSIM_SERVORESPONDER_H

#include "framereader.h"
#include "parametertable.h"

namespace LustBusSim {

struct Answer
{
    enum Kind { Data, Ack, Nak };
    Kind kind = Nak;
    QByteArray bytes; //!< what goes on the wire
};

struct ArrayAddress
{
    quint16 parameter = 0;
    quint16 first = 0;
    quint8 count = 0;
};

Answer answerRequest(const Frame &frame, ParameterTable &table);

// The "70" digit run to parameter, first element and count by the rule above.
bool splitArrayDigits(const QByteArray &digits, const ParameterTable &table,
                      ArrayAddress *address);

// station STX text ETX BCC, with BCC the XOR of text and ETX.
QByteArray dataReply(int station, const QByteArray &text);
QByteArray ackReply(int station);
QByteArray nakReply(int station);

} // namespace LustBusSim

#endif // LUSTBUSSIM_SERVORESPONDER_H
