// SIGINT (Ctrl-C) and SIGTERM while a command talks to a link. The signals before the
// last one ask the command to stop at its next step (watch takes one such, so that its
// output ends whole). The last one ends the program at once: it raises the link's
// interrupt, so that a request waiting on a silent line gives up without waiting out
// its time-outs and retries, and the command returns exitStatus(), 128 + the signal's
// number (130 after SIGINT, 143 after SIGTERM) as a shell reports a program ended by
// it. Should the program be busy elsewhere then (in the driver's delay before an
// attempt), one more signal ends it from the handler itself.
//
// The handler runs on whichever thread the signal meets and only touches atomics and
// pipes. One object at a time: the handler finds it through a static pointer.
#ifndef LUSTBUS_STOPSIGNALS_H
#define LUSTBUS_STOPSIGNALS_H

#include "exitstatus.h"
#include "linkinterrupt.h"

#include <atomic>
#include <csignal>
#include <functional>

class QObject;

// Calls done from context's event loop whenever interrupt is raised (a stop signal, or
// the gateway's statistics signal), for the commands that run an event loop.
void onInterrupt(const LinkInterrupt &interrupt, QObject *context,
                 const std::function<void()> &done);

class StopSignals
{
public:
    // The signalsToEnd-th signal ends the program at once (1: the first).
    explicit StopSignals(int signalsToEnd);
    ~StopSignals(); //!< the handlers from before are back
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Raised by the signal that ends the program at once; for the link to watch.
    const LinkInterrupt &interrupt() const { return m_interrupt; }

    bool stopRequested() const { return m_count.load() > 0; }
    // 128 + the first signal's number once one came (a clean stop reports it too), else 0.
    int stopStatus() const
    {
        const int signal = m_firstSignal.load();
        return signal != 0 ? ExitSignalBase + signal : 0;
    }
    bool endNow() const { return m_endSignal.load() != 0; }
    int exitStatus() const { return ExitSignalBase + m_endSignal.load(); }
    // Waits up to ms milliseconds for a signal; true when one came (now or before).
    bool wait(int ms) const { return m_stop.wait(ms); }

    // What the handler writes to standard output before it ends the program itself
    // (watch's table: the cursor shown again); it must stay valid. Null: nothing.
    void setLastWords(const char *text) { m_lastWords.store(text); }

private:
    static void handle(int signal);

    const int m_signalsToEnd;
    std::atomic<int> m_count{0};
    std::atomic<int> m_firstSignal{0};
    std::atomic<int> m_endSignal{0};
    std::atomic<const char *> m_lastWords{nullptr};
    LinkInterrupt m_stop;       //!< raised by every signal, for wait()
    LinkInterrupt m_interrupt;  //!< raised by the one that ends at once
    struct sigaction m_oldInt;
    struct sigaction m_oldTerm;
};

#endif // LUSTBUS_STOPSIGNALS_H
