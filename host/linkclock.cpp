#include "linkclock.h"

#include <cerrno>
#include <chrono>

#include <poll.h>

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

bool LinkClock::sleepMs(int ms, int wake) const
{
    const qint64 deadlineMs = nowMs() + ms;
    pollfd fd{wake, POLLIN, 0}; // a negative descriptor is skipped: poll only sleeps
    for (;;) {
        const int left = ms < 0 ? -1 : int(qMax<qint64>(deadlineMs - nowMs(), 0));
        const int ready = poll(&fd, 1, left);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return false;
    }
}
