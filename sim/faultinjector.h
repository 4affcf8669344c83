// Draws the faults of a FaultPlan request by request and applies them to a reply.
// Reproducible: the same plan (seed included) and the same sequence of requests give
// the same faults. Not thread-safe; the simulator calls it from its serving thread.
#ifndef LUSTBUSSIM_FAULTINJECTOR_H
#define LUSTBUSSIM_FAULTINJECTOR_H

#include "faultplan.h"

#include <QtCore/QByteArray>

#include <random>

namespace LustBusSim {

class FaultInjector
{
public:
    explicit FaultInjector(const FaultPlan &plan = FaultPlan());

    // The fault for the next request, if any: the first rule that fires, in the
    // order written. A count rule fires while its count lasts; a rate rule draws.
    bool next(FaultRule *fault);

    // The reply bytes as the fault leaves them (noreply: empty; nak: the NAK of the
    // station; split and delay only change the timing, not the bytes).
    QByteArray damage(const FaultRule &fault, const QByteArray &reply, int station);

private:
    QList<FaultRule> m_rules; //!< count rules count down here
    std::mt19937 m_random;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_FAULTINJECTOR_H
