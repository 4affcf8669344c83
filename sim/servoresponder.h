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
// range that reaches past the array's end, and any request whose fields do not parse.
//
// A "70" digit run that the codec reads two ways (ReceivedRequest::ambiguous) goes to
// the reading whose parameter is an array of this servo; when none or both are, to the
// one with the longer parameter number.
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

Answer answerRequest(const Frame &frame, ParameterTable &table);

// Which reading of a "70" request this servo answers, by the rule above.
LustBus::RequestTarget arrayTarget(const LustBus::ReceivedRequest &request,
                                   const ParameterTable &table);

} // namespace LustBusSim

#endif // LUSTBUSSIM_SERVORESPONDER_H
