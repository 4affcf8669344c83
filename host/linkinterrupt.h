// Ends a link's waits from outside the thread that waits: from a signal handler
// (Ctrl-C) or from another thread of the host. A link given one (StreamLink::
// setInterrupt) watches it beside its device while it waits for a reply. Once it is
// raised, that wait ends at once and the link fails every further send and receive at
// once, without touching the line and with no delay before the driver's next attempt,
// so that a request's retries run out in no time; lower() makes the link usable again.
//
// raise() is async-signal-safe: it sets an atomic flag and writes one byte into a
// pipe whose read end stays readable until lower().
#ifndef LUSTBUS_LINKINTERRUPT_H
#define LUSTBUS_LINKINTERRUPT_H

#include <atomic>

class LinkInterrupt
{
public:
    LinkInterrupt();
    ~LinkInterrupt();
    LinkInterrupt(const LinkInterrupt &) = delete;
    LinkInterrupt &operator=(const LinkInterrupt &) = delete;

    void raise();
    void lower();
    bool isRaised() const { return m_raised.load(); }

    // Readable while raised, for a poll beside other descriptors; -1 when the system
    // gave no pipe (then only isRaised() tells).
    int fileDescriptor() const { return m_read; }
    // Waits up to ms milliseconds (below 0: without end) for the interrupt; true when
    // it is raised.
    bool wait(int ms) const;

private:
    std::atomic<bool> m_raised{false};
    int m_read = -1;
    int m_write = -1;
};

#endif // LUSTBUS_LINKINTERRUPT_H
