#include "linewatch.h"

#include "streamlink.h"

void LineWatch::startRequest()
{
    m_sent = m_answered = m_failed = false;
    m_failure.clear();
}

int LineWatch::send(const char *data, int count)
{
    const int sent = m_inner.send(data, count);
    if (sent < 0) {
        // A stream link's send below 0 wrote nothing (not open, device gone, refused
        // by the device, interrupted), except when the echo of what it wrote was wrong.
        if (!m_stream || m_stream->localEcho())
            m_sent = true;
        noteFailure();
    } else if (sent > 0) {
        m_sent = true;
    }
    return sent;
}

int LineWatch::received(int got)
{
    if (got < 0)
        noteFailure();
    else if (got > 0)
        m_answered = true;
    return got;
}

void LineWatch::noteFailure()
{
    if (m_stream && m_stream->isInterrupted())
        return;
    m_failed = true;
    m_failure = m_stream ? m_stream->errorString() : QString();
    if (m_failure.isEmpty())
        m_failure = QStringLiteral("the link failed");
}
