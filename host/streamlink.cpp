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
#include <unistd.h>

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
    if (isInterrupted())
        return interrupted();
    if (m_device->bytesAvailable() > 0)
        return Wait::Input;
    const int handle = deviceHandle();
    return handle >= 0 ? waitOnHandle(handle, deadlineMs) : waitOnDevice(deadlineMs);
}

// One poll watches the device and the interrupt together; the bytes are then read
// from the descriptor (readAvailable). Anything but plain input (a hang-up, an error)
// goes to the device's own wait, which tells a failed device by its state.
StreamLink::Wait StreamLink::waitOnHandle(int handle, qint64 deadlineMs)
{
    const int wake = m_interrupt ? m_interrupt->fileDescriptor() : -1;
    for (;;) {
        pollfd fds[2] = {{handle, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = poll(fds, wake >= 0 ? 2 : 1, waitArgMs(deadlineMs - nowMs()));
        if (isInterrupted())
            return interrupted();
        if (ready < 0 && errno != EINTR)
            return waitOnDevice(deadlineMs);
        if (fds[0].revents == POLLIN)
            return Wait::Input;
        if (fds[0].revents != 0)
            return waitOnDevice(deadlineMs);
        if (ready == 0 && nowMs() >= deadlineMs)
            return Wait::TimedOut;
    }
}

// The device's own wait, for a device without a descriptor and for what the poll
// above does not handle itself.
StreamLink::Wait StreamLink::waitOnDevice(qint64 deadlineMs)
{
    while (m_device->bytesAvailable() == 0) {
        if (isInterrupted())
            return interrupted();
        const qint64 left = deadlineMs - nowMs();
        if (!m_device->waitForReadyRead(waitArgMs(left))) {
            if (m_device->bytesAvailable() > 0)
                return Wait::Input;
            if (failed())
                return Wait::Failed;
            if (nowMs() >= deadlineMs)
                return Wait::TimedOut;
        }
    }
    return Wait::Input;
}

StreamLink::Wait StreamLink::interrupted()
{
    setErrorString(QStringLiteral("interrupted"));
    return Wait::Failed;
}

// True, with errorString() saying why, when the device has failed.
bool StreamLink::failed()
{
    const QString failure = deviceFailure();
    if (failure.isEmpty())
        return false;
    setErrorString(failure);
    return true;
}

void StreamLink::reportNotOpen()
{
    const QString failure = deviceFailure();
    setErrorString(failure.isEmpty() ? QStringLiteral("the link is not open") : failure);
}

// What has arrived, at most room bytes; straight from the descriptor when the device
// has nothing buffered. An end of the line or a read error goes to the device, which
// takes note of it; -1 when the device failed.
int StreamLink::readAvailable(char *data, int room)
{
    const int handle = deviceHandle();
    if (m_device->bytesAvailable() == 0 && handle >= 0) {
        ssize_t got;
        while ((got = ::read(handle, data, size_t(room))) < 0 && errno == EINTR) {
        }
        if (got > 0)
            return int(got);
        if (got < 0 && errno == EAGAIN)
            return 0;
        m_device->waitForReadyRead(0);
    }
    const qint64 got = m_device->read(data, room);
    if (got > 0)
        return int(got);
    return failed() ? -1 : 0;
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
        if (n < 0) {
            wait = Wait::Failed;
            break;
        }
        if (n > 0) {
            got += n;
            m_request = RequestState::Replying;
            m_lastByteMs = nowMs();
            if (m_interByteTimeoutMs > 0)
                deadline = replyDeadline();
        }
        if (!exact && got > 0)
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
    const int atOnce = writeAtOnce(data, count);
    if (atOnce < count) {
        const int rest = writeThroughDevice(data + atOnce, count - atOnce);
        if (rest < 0)
            return atOnce > 0 ? atOnce : -1;
        if (rest < count - atOnce)
            return atOnce + rest;
    }
    if (m_localEcho && !checkEcho(data, count))
        return -1;
    return count;
}

// A telegram mostly fits into the device at once: write it straight to the descriptor
// without waiting for readiness first. Returns how many bytes went; what did not (the
// device was full, or failed) is left to writeThroughDevice.
int StreamLink::writeAtOnce(const char *data, int count)
{
    const int handle = deviceHandle();
    if (handle < 0 || m_device->bytesToWrite() > 0)
        return 0;
    int sent = 0;
    while (sent < count) {
        const ssize_t put = writeHandle(handle, data + sent, count - sent);
        if (put > 0)
            sent += int(put);
        else if (put == 0 || errno != EINTR)
            break;
    }
    return sent;
}

ssize_t StreamLink::writeHandle(int handle, const char *data, int count)
{
    return ::write(handle, data, size_t(count));
}

// The device's own write and wait: returns the bytes it took, -1 when it refused them.
int StreamLink::writeThroughDevice(const char *data, int count)
{
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
    char scrap[EchoRoom];
    while (waitForInput(deadline) == Wait::Input && readAvailable(scrap, EchoRoom) >= 0)
        deadline = nowMs() + quietMs;
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
    if (inputPending())
        dropInput();
}

void StreamLink::dropInput()
{
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
