#include "stopsignals.h"

#include <QtCore/QSocketNotifier>

#include <cstring>

#include <unistd.h>

namespace {

std::atomic<StopSignals *> installed{nullptr};

} // namespace

StopSignals::StopSignals(int signalsToEnd)
    : m_signalsToEnd(signalsToEnd < 1 ? 1 : signalsToEnd)
{
    installed.store(this);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &StopSignals::handle;
    // Calls the handler breaks into carry on; the waits that matter watch the pipes.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

StopSignals::~StopSignals()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    installed.store(nullptr);
}

void StopSignals::handle(int signal)
{
    StopSignals *const self = installed.load();
    if (!self)
        return;
    int none = 0;
    self->m_firstSignal.compare_exchange_strong(none, signal);
    const int count = ++self->m_count;
    if (count > self->m_signalsToEnd) {
        if (const char *text = self->m_lastWords.load()) {
            const ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
            (void)ignored;
        }
        _exit(ExitSignalBase + signal);
    }
    if (count == self->m_signalsToEnd) {
        self->m_endSignal.store(signal);
        self->m_interrupt.raise();
    }
    self->m_stop.raise();
}

void onInterrupt(const LinkInterrupt &interrupt, QObject *context,
                 const std::function<void()> &done)
{
    auto *notifier =
        new QSocketNotifier(interrupt.fileDescriptor(), QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [done] { done(); });
}
