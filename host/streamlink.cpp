#include "streamlink.h"

#include "linkclock.h"
#include "linkinterrupt.h"
#include "tracinglink.h"

#include <QtCore/QIODevice>
#include <QtCore/QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <poll.h>

namespace {

// Writes are not bounded by the reply time-out: a slow line may take longer to take a
// long telegram than a servo takes to answer.
constexpr int MinWriteTimeoutMs = 1000;

// How long the line must stay quiet before the rest of a request gone wrong counts as
// over, when no inter-byte time-out says it.
constexpr int QuietWithoutInterByteMs = 20;

// Room for the echo of a telegram without going to the heap; longer writes do.
constexpr int EchoRoom = 256;

// QIODevice waits take an int of milliseconds; a deadline already passed waits not at all.
int waitArgMs(qint64 leftMs)
{
    return int(std::clamp<qint64>(leftMs, 0, std::numeric_limits<int>::max()));
}

} // namespace

StreamLink::StreamLink(const ProtocolSettings &protocol)
{
    m_protocol.assign(protocol);
}

StreamLink::~StreamLink() = default;

bool StreamLink::open()
{
    m_keepOpen = false;
    closeDevice();
    startRequest();
    m_reconnects = 0;
    m_nextReopenMs = 0;
    if (!openDevice())
        return false;
    m_keepOpen = true;
    setErrorString(QString());
    return true;
}

void StreamLink::close()
{
    m_keepOpen = false;
    closeDevice();
}

bool StreamLink::isOpen() const
{
    return m_device && m_device->isOpen();
}

const LinkClock &StreamLink::clock() const
{
    return m_clock ? *m_clock : LinkClock::steady();
}

qint64 StreamLink::nowMs() const
{
    return clock().nowMs();
}

// The first byte of a reply may take the response time-out; every later one only the
// inter-byte time-out after the byte before.
qint64 StreamLink::replyDeadline() const
{
    if (m_request == RequestState::Replying && m_interByteTimeoutMs > 0)
        return m_lastByteMs + m_interByteTimeoutMs;
    return nowMs() + qMax(m_protocol.timeout, 0);
}

int StreamLink::delayMs() const
{
    return isInterrupted() ? 0 : m_protocol.delay;
}

bool StreamLink::isInterrupted() const
{
    return m_interrupt && m_interrupt->isRaised();
}

// The one place where the link waits for the line: until a byte is buffered, the
// deadline passes, the device fails or the interrupt is raised.
StreamLink::Wait StreamLink::waitForInput(qint64 deadlineMs)
{
    while (m_device->bytesAvailable() == 0) {
        if (!waitBesideInterrupt(deadlineMs))
            return Wait::Failed;
        const qint64 left = deadlineMs - nowMs();
        if (!m_device->waitForReadyRead(waitArgMs(left))) {
            if (m_device->bytesAvailable() > 0)
                return Wait::Input;
            const QString failure = deviceFailure();
            if (!failure.isEmpty()) {
                setErrorString(failure);
                return Wait::Failed;
            }
            if (nowMs() >= deadlineMs)
                return Wait::TimedOut;
        }
    }
    return Wait::Input;
}

// The device's own wait cannot watch a second descriptor: with an interrupt, poll
// both until the device has something or the time is up, and only then let the
// device take it. False once the interrupt is raised.
bool StreamLink::waitBesideInterrupt(qint64 deadlineMs)
{
    if (!m_interrupt)
        return true;
    const int handle = deviceHandle();
    if (handle >= 0) {
        pollfd fds[2] = {{m_interrupt->fileDescriptor(), POLLIN, 0}, {handle, POLLIN, 0}};
        // EINTR: a signal that did not raise the interrupt; wait out the rest.
        while (!m_interrupt->isRaised() && poll(fds, 2, waitArgMs(deadlineMs - nowMs())) < 0
               && errno == EINTR) {
        }
    }
    if (!m_interrupt->isRaised())
        return true;
    setErrorString(QStringLiteral("interrupted"));
    return false;
}

void StreamLink::reportNotOpen()
{
    const QString failure = deviceFailure();
    setErrorString(failure.isEmpty() ? QStringLiteral("the link is not open") : failure);
}

int StreamLink::readAvailable(char *data, int room)
{
    const qint64 got = m_device->read(data, room);
    return got < 0 ? 0 : int(got);
}

// receive (exact false) returns after the first bytes; receiveExact waits for count.
int StreamLink::readReply(char *data, int count, bool exact)
{
    if (m_request == RequestState::EchoWrong) {
        swallowUntilQuiet();
        return 0;
    }
    int got = 0;
    qint64 deadline = replyDeadline();
    Wait wait = Wait::Input;
    while (got < count && (wait = waitForInput(deadline)) == Wait::Input) {
        const int n = readAvailable(data + got, count - got);
        if (n > 0) {
            got += n;
            m_request = RequestState::Replying;
            m_lastByteMs = nowMs();
            if (m_interByteTimeoutMs > 0)
                deadline = replyDeadline();
        }
        if (!exact)
            break;
    }
    return got == 0 && wait == Wait::Failed ? -1 : got;
}

int StreamLink::receive(char *data, int room)
{
    return receiveOpen(data, room, false);
}

int StreamLink::receiveExact(char *data, int count)
{
    return receiveOpen(data, count, true);
}

int StreamLink::receiveOpen(char *data, int count, bool exact)
{
    if (!isOpen()) {
        reportNotOpen();
        return -1;
    }
    if (count < 1)
        return 0;
    return readReply(data, count, exact);
}

int StreamLink::send(const char *data, int count)
{
    // A device that went away and is not back yet (see reconnect) is not written to:
    // the write would only cover up why it went.
    if (!isOpen() || !deviceFailure().isEmpty()) {
        reportNotOpen();
        return -1;
    }
    startRequest();
    if (isInterrupted()) {
        setErrorString(QStringLiteral("interrupted"));
        return -1;
    }
    if (count < 1)
        return 0;
    const qint64 queued = m_device->write(data, count);
    if (queued < 0) {
        setErrorString(QStringLiteral("send failed: %1").arg(m_device->errorString()));
        return -1;
    }
    const qint64 deadline = nowMs() + qMax(m_protocol.timeout, MinWriteTimeoutMs);
    while (m_device->bytesToWrite() > 0) {
        const qint64 left = deadline - nowMs();
        if (!m_device->waitForBytesWritten(waitArgMs(left))
            && (nowMs() >= deadline || !deviceFailure().isEmpty())) {
            const QString failure = deviceFailure();
            setErrorString(failure.isEmpty()
                               ? QStringLiteral("send timed out with %1 bytes not taken")
                                     .arg(m_device->bytesToWrite())
                               : failure);
            return int(queued - m_device->bytesToWrite());
        }
    }
    if (m_localEcho && !checkEcho(data, int(queued)))
        return -1;
    return int(queued);
}

// The echo comes back as the bytes go out: its first byte within the response
// time-out, the others at the line's pace.
bool StreamLink::checkEcho(const char *sent, int count)
{
    QVarLengthArray<char, EchoRoom> heard(count);
    const int got = readReply(heard.data(), count, true);
    if (got == count && std::memcmp(heard.constData(), sent, size_t(count)) == 0) {
        startRequest(); // the reply is still to come
        return true;
    }
    m_request = RequestState::EchoWrong;
    if (got < 0)
        return false; // errorString() says why: a failed device or an interrupt
    const QString failure = deviceFailure(); // a failing device says why by itself
    setErrorString(!failure.isEmpty()
                       ? failure
                       : QStringLiteral("local echo wrong: sent %1, heard %2")
                             .arg(TracingLink::traceText(QByteArray(sent, count)),
                                  got == 0 ? QStringLiteral("nothing")
                                           : TracingLink::traceText(
                                                 QByteArray(heard.constData(), got))));
    return false;
}

// After a bad echo the servo may still answer what it heard; that answer, and the rest
// of the echo, must not be taken for the reply of the next attempt.
void StreamLink::swallowUntilQuiet()
{
    startRequest();
    const int quietMs = m_interByteTimeoutMs > 0 ? m_interByteTimeoutMs : QuietWithoutInterByteMs;
    qint64 deadline = nowMs() + qMax(m_protocol.timeout, 0);
    while (waitForInput(deadline) == Wait::Input) {
        m_device->readAll();
        deadline = nowMs() + quietMs;
    }
}

QVariant StreamLink::control(int code, const QVariant &)
{
    if (code != LinkControlDiscardInput)
        return QVariant();
    // Draining the input first also lets a socket notice that its peer has gone. An
    // interrupted link leaves the device alone: a reopen could wait for a connection.
    if (!isInterrupted()) {
        if (isOpen())
            discardInput();
        reconnectIfGone();
    }
    startRequest();
    return QVariant();
}

// A device that is away costs a request its response time-out, as a silent line does,
// or less when its reopen falls due sooner: a device that fails at once (a server that
// accepts and closes) never makes a loop of requests that fail at once.
void StreamLink::reconnectIfGone()
{
    if (!m_keepOpen || (isOpen() && deviceFailure().isEmpty()))
        return;
    const bool reopens = m_reconnectIntervalMs > 0;
    const qint64 now = nowMs();
    if (!reopens || now < m_nextReopenMs) {
        const qint64 untilDue = reopens ? m_nextReopenMs - now : m_protocol.timeout;
        const qint64 waitMs = std::clamp<qint64>(untilDue, 0, qMax(m_protocol.timeout, 0));
        clock().sleepMs(int(waitMs), m_interrupt ? m_interrupt->fileDescriptor() : -1);
        if (isInterrupted() || !reopens || nowMs() < m_nextReopenMs)
            return;
    }
    // Successful or not, the next attempt waits: a device that opens and fails at
    // once must not be reopened on every request.
    m_nextReopenMs = nowMs() + m_reconnectIntervalMs;
    const QString lost = deviceFailure();
    closeDevice();
    m_reopening = true;
    const bool opened = openDevice();
    m_reopening = false;
    if (opened) {
        ++m_reconnects;
        setErrorString(QString());
        return;
    }
    if (!lost.isEmpty() && lost != m_errorString)
        setErrorString(QStringLiteral("%1; reopening failed: %2").arg(lost, m_errorString));
}

void StreamLink::discardInput()
{
    if (!inputPending())
        return;
    m_device->readAll();
    while (m_device->waitForReadyRead(0))
        m_device->readAll();
}

// One look without waiting instead of a flush and a drain before every request: most
// requests find the line quiet. A hang-up or an end of stream counts as pending, so that
// the drain lets the device notice it, as before.
bool StreamLink::inputPending() const
{
    const int handle = deviceHandle();
    if (handle < 0 || m_device->bytesAvailable() > 0)
        return true;
    pollfd fd{handle, POLLIN, 0};
    return poll(&fd, 1, 0) != 0;
}
