// Which faults the simulator injects, from a fault text such as "noreply:0.1,nak:3":
// comma-separated entries KIND:AMOUNT or KIND:AMOUNT@MS, plus an optional seed:N.
//
//   AMOUNT  a whole number N >= 1: the next N requests; a number with a decimal point
//           from 0 to 1 (0.25, 1.0): the probability for each request
//   @MS     delay: how long the reply is held back (default 1000 ms);
//           split: the gap between single bytes (default 2 ms); no other kind takes it
//   seed:N  seed of the random draws (default 1), so that a run can be repeated
//
//   noreply       the request is lost: no reply, nothing changes
//   truncate      the reply stops after its first half (at least one byte)
//   corrupt       one byte of the reply text changes, so the checksum fails (in an
//                 ACK or NAK, the second byte changes)
//   wrongstation  the reply carries the next station's character
//   nak           NAK instead of the reply; a write is not carried out
//   split         the reply goes out one byte at a time, with gaps
//   delay         the reply goes out late; request bytes that arrive before it goes out
//                 drop it, as a servo starts over on a new request (a held reply would
//                 otherwise answer the next request, for another parameter)
//   garbage       1 to 8 bytes from 0x20 to 0x3F (never a station character) before
//                 the reply
// Except for noreply and nak, the servo carries out the request; only its reply is
// damaged. For each request the entries are tried in the order written and the first
// that fires is injected: one fault per request, and later entries keep their counts.
#ifndef LUSTBUSSIM_FAULTPLAN_H
#define LUSTBUSSIM_FAULTPLAN_H

#include <QtCore/QList>
#include <QtCore/QString>

namespace LustBusSim {

enum class FaultKind { NoReply, Truncate, Corrupt, WrongStation, Nak, Split, Delay, Garbage };
constexpr int FaultKindCount = 8;

QString faultKindName(FaultKind kind); //!< as the fault text writes it

struct FaultRule
{
    FaultKind kind = FaultKind::NoReply;
    int count = 0;     //!< the next count requests, when above 0
    double rate = 0;   //!< otherwise this probability per request
    int ms = 0;        //!< delay or gap, for delay and split
};

bool operator==(const FaultRule &a, const FaultRule &b);

struct FaultPlan
{
    QList<FaultRule> rules;
    quint32 seed = 1;

    // false with error naming the entry and the cause; plan unchanged then.
    static bool parse(const QString &text, FaultPlan *plan, QString *error);
    QString toText() const;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_FAULTPLAN_H
