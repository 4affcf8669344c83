// The one clock of the links and their diagnostics: the time-outs, the reconnect
// back-off and the reply latency all read it. The steady clock of the machine, or a
// clock of a test's own that only moves when told to, so that time-outs, stalls,
// back-offs and latencies are tested without waiting them out.
#ifndef LUSTBUS_LINKCLOCK_H
#define LUSTBUS_LINKCLOCK_H

#include <QtCore/QtGlobal>

class LinkClock
{
public:
    virtual ~LinkClock() = default;

    // Microseconds on a clock that never goes back; only differences mean anything.
    virtual qint64 nowUs() const = 0;
    qint64 nowMs() const { return nowUs() / 1000; }

    // Lets ms milliseconds pass on this clock (below 0: without end), or less once the
    // descriptor wake (-1: none; a LinkInterrupt's) turns readable; true when it did.
    // The steady clock sleeps; a test's clock moves on by itself.
    virtual bool sleepMs(int ms, int wake) const;

    // The machine's monotonic clock, the one every link and diagnostics use unless
    // given another.
    static const LinkClock &steady();
};

#endif // LUSTBUS_LINKCLOCK_H
