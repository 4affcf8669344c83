#include "linkclock.h"

#include <QtCore/QElapsedTimer>

#include <ctime>

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

    qint64 nowUs() const override
    {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    }
};

} // namespace

const LinkClock &LinkClock::steady()
{
    static const SteadyClock clock;
    return clock;
}
