#include "streamlink.h"

#include <QtCore/QDeadlineTimer>
#include <QtCore/QIODevice>

namespace {

// Writes are not bounded by the reply time-out: a slow line may take longer to take a
// long telegram than a servo takes to answer.
constexpr int MinWriteTimeoutMs = 1000;

} // namespace

StreamLink::StreamLink(const ProtocolSettings &protocol)
{
    m_protocol.assign(protocol);
}

StreamLink::~StreamLink() = default;

bool StreamLink::isOpen() const
{
    return m_device && m_device->isOpen();
}

// The one place where the link waits for the line: until a byte is buffered, the
// deadline passes or the device fails.
bool StreamLink::waitForInput(const QDeadlineTimer &deadline)
{
    while (m_device->bytesAvailable() == 0) {
        const qint64 left = deadline.remainingTime();
        if (!m_device->waitForReadyRead(int(qMax<qint64>(left, 0)))) {
            if (m_device->bytesAvailable() > 0)
                return true;
            const QString failure = deviceFailure();
            if (!failure.isEmpty()) {
                setErrorString(failure);
                return false;
            }
            if (deadline.hasExpired())
                return false;
        }
    }
    return true;
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

int StreamLink::receive(char *data, int room)
{
    if (!isOpen()) {
        reportNotOpen();
        return -1;
    }
    if (room < 1)
        return 0;
    if (!waitForInput(QDeadlineTimer(qMax(m_protocol.timeout, 0))))
        return 0;
    return readAvailable(data, room);
}

int StreamLink::receiveExact(char *data, int count)
{
    if (!isOpen()) {
        reportNotOpen();
        return -1;
    }
    const QDeadlineTimer deadline(qMax(m_protocol.timeout, 0));
    int got = 0;
    while (got < count && waitForInput(deadline))
        got += readAvailable(data + got, count - got);
    return got;
}

int StreamLink::send(const char *data, int count)
{
    if (!isOpen()) {
        reportNotOpen();
        return -1;
    }
    if (count < 1)
        return 0;
    const qint64 queued = m_device->write(data, count);
    if (queued < 0) {
        setErrorString(QStringLiteral("send failed: %1").arg(m_device->errorString()));
        return -1;
    }
    const QDeadlineTimer deadline(qMax(m_protocol.timeout, MinWriteTimeoutMs));
    while (m_device->bytesToWrite() > 0) {
        if (!m_device->waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 0)))
            && (deadline.hasExpired() || !deviceFailure().isEmpty())) {
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

QVariant StreamLink::control(int code, const QVariant &)
{
    if (code == LinkControlDiscardInput && isOpen())
        discardInput();
    return QVariant();
}

void StreamLink::discardInput()
{
    m_device->readAll();
    while (m_device->waitForReadyRead(0))
        m_device->readAll();
}
