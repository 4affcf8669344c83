#include "linkinterrupt.h"

#include "linkclock.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

// A flag that a signal handler sets must not take a lock.
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag must be lock-free");

LinkInterrupt::LinkInterrupt()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_read = ends[0];
        m_write = ends[1];
    }
}

LinkInterrupt::~LinkInterrupt()
{
    if (m_read >= 0) {
        close(m_read);
        close(m_write);
    }
}

void LinkInterrupt::raise()
{
    const int savedErrno = errno; // a signal handler must leave errno as it found it
    m_raised.store(true);
    const char byte = 1;
    // A full pipe is readable all the same.
    while (m_write >= 0 && write(m_write, &byte, 1) < 0 && errno == EINTR) {
    }
    errno = savedErrno;
}

void LinkInterrupt::lower()
{
    m_raised.store(false);
    char bytes[64];
    for (;;) {
        const ssize_t got = m_read >= 0 ? read(m_read, bytes, sizeof bytes) : 0;
        if (got <= 0 && !(got < 0 && errno == EINTR))
            break;
    }
}

bool LinkInterrupt::wait(int ms) const
{
    // EINTR from a signal whose handler did not raise this interrupt waits out the rest.
    return isRaised() || LinkClock::steady().sleepMs(ms, m_read) || isRaised();
}
