#include "tracinglink.h"

#include <QtCore/QDateTime>
#include <QtCore/QTime>

Q_LOGGING_CATEGORY(lcLustBusTrace, "lustbus.trace")

namespace {

const char *const controlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

QString timeText(const QTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss.zzz"));
}

// The local time of day of a trace line. QTime::currentTime() has the C library look up
// the local time zone on every call, which reads /etc/localtime each time when TZ is
// unset: a stat per telegram. The zone's offset is looked up once a second instead.
QTime localTimeOfDay()
{
    constexpr qint64 DayMs = 24 * 3600 * 1000;
    thread_local bool offsetTaken = false;
    thread_local qint64 offsetMs = 0;
    thread_local qint64 offsetTakenMs = 0;
    const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
    if (!offsetTaken || utcMs < offsetTakenMs || utcMs - offsetTakenMs >= 1000) {
        offsetMs = qint64(QDateTime::currentDateTime().offsetFromUtc()) * 1000;
        offsetTakenMs = utcMs;
        offsetTaken = true;
    }
    return QTime::fromMSecsSinceStartOfDay(int(((utcMs + offsetMs) % DayMs + DayMs) % DayMs));
}

} // namespace

QString TracingLink::traceText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = quint8(c);
        if (byte < 0x20)
            text += QLatin1Char('<') + QLatin1String(controlNames[byte]) + QLatin1Char('>');
        else if (byte == 0x7F)
            text += QLatin1String("<DEL>");
        else if (byte >= 0x80 || byte == '<')
            text += QLatin1String("<x")
                    + QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'))
                    + QLatin1Char('>');
        else
            text += QLatin1Char(c);
    }
    return text;
}

QString TracingLink::traceLine(const QTime &time, char direction, const QByteArray &bytes)
{
    return timeText(time) + QLatin1Char(' ') + QLatin1Char(direction) + QLatin1Char(' ')
           + traceText(bytes);
}

void TracingLink::logReceived(const char *data, int got)
{
    const QTime now = localTimeOfDay();
    if (got > 0) {
        trace(traceLine(now, '<', QByteArray(data, got)));
    } else if (got == 0) {
        trace(timeText(now) + QStringLiteral(" < nothing within the time-out"));
    } else {
        trace(timeText(now) + QStringLiteral(" < ") + failure());
    }
}

QString TracingLink::failure() const
{
    const QString why = m_failureText ? m_failureText() : QString();
    return why.isEmpty() ? QStringLiteral("the link failed") : why;
}

int TracingLink::receive(char *data, int room)
{
    const int got = m_inner.receive(data, room);
    logReceived(data, got);
    return got;
}

int TracingLink::receiveExact(char *data, int count)
{
    const int got = m_inner.receiveExact(data, count);
    logReceived(data, got);
    return got;
}

int TracingLink::send(const char *data, int count)
{
    trace(traceLine(localTimeOfDay(), '>', QByteArray(data, qMax(count, 0))));
    const int sent = m_inner.send(data, count);
    if (sent < 0)
        trace(timeText(localTimeOfDay()) + QStringLiteral(" - send failed: ") + failure());
    return sent;
}

QVariant TracingLink::control(int code, const QVariant &value)
{
    if (code == LinkControlDiscardInput) {
        trace(timeText(localTimeOfDay()) + QStringLiteral(" - discard input"));
    }
    return m_inner.control(code, value);
}

void TracingLink::trace(const QString &line)
{
    if (m_sink)
        m_sink(line);
    else
        qCDebug(lcLustBusTrace).noquote() << line;
}
