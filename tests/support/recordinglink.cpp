#include "recordinglink.h"

#include "tracinglink.h"

int RecordingLink::receiveExact(char *data, int count)
{
    const int got = m_inner.receiveExact(data, count);
    received(data, got);
    return got;
}

int RecordingLink::receive(char *data, int room)
{
    const int got = m_inner.receive(data, room);
    received(data, got);
    return got;
}

int RecordingLink::send(const char *data, int count)
{
    m_lines << QStringLiteral("> ") + TracingLink::traceText(QByteArray(data, count));
    return m_inner.send(data, count);
}

QVariant RecordingLink::control(int code, const QVariant &value)
{
    m_lines << QStringLiteral("control %1").arg(code);
    return m_inner.control(code, value);
}

void RecordingLink::received(const char *data, int got)
{
    m_lines << (got > 0 ? QStringLiteral("< ") + TracingLink::traceText(QByteArray(data, got))
                        : QStringLiteral("< nothing (%1)").arg(got));
}
