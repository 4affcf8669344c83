#include "linkclock.h"

#include <chrono>

namespace {

class SteadyClock : public LinkClock
{
public:
    qint64 nowUs() const override
    {
        // CLOCK_MONOTONIC here; its epoch is the boot, not the call.
        const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count();
    }
};

} // namespace

const LinkClock &LinkClock::steady()
{
    static const SteadyClock clock;
    return clock;
}
