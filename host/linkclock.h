// Where the links read the time for their time-outs and reconnect back-off: the steady
// clock of the machine, or a clock of a test's own that only moves when told to, so
// that time-outs, stalls and back-offs are tested without waiting them out.
#ifndef LUSTBUS_LINKCLOCK_H
#define LUSTBUS_LINKCLOCK_H

#include <QtCore/QtGlobal>

class LinkClock
{
public:
    virtual ~LinkClock() = default;

    // Milliseconds on a clock that never goes back; only differences mean anything.
    virtual qint64 nowMs() const = 0;
    // The same clock in microseconds, for times shorter than a millisecond (waits
    // summed over many short exchanges); a clock of whole milliseconds gives those.
    virtual qint64 nowUs() const { return nowMs() * 1000; }

    // The machine's monotonic clock, the one every link uses unless given another.
    static const LinkClock &steady();
};

#endif // LUSTBUS_LINKCLOCK_H
