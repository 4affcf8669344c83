#include "linkclock.h"

#include <QtCore/QElapsedTimer>

namespace {

class SteadyClock : public LinkClock
{
public:
    qint64 nowMs() const override
    {
        // QElapsedTimer reads CLOCK_MONOTONIC here; its epoch is the boot, not the call.
        QElapsedTimer timer;
        timer.start();
        return timer.msecsSinceReference();
    }
};

} // namespace

const LinkClock &LinkClock::steady()
{
    static const SteadyClock clock;
    return clock;
}
