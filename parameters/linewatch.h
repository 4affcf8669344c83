// A LinkDevice that wraps the link a host hands to the driver and notes what one
// request did on the line: whether a telegram may have gone out (false only when none
// did for sure), whether any reply byte came back, and whether the link itself failed
// (a send or receive below 0: the device went away, the connection closed, the echo
// was wrong) rather than timed out. A link that was interrupted on purpose does not
// count as failed.
//
// While single attempt is on, the driver sees a retry count of 0: one telegram per
// request, so that asking a station that is known not to answer costs one time-out.
#ifndef LUSTBUS_LINEWATCH_H
#define LUSTBUS_LINEWATCH_H

#include "driverinterface.h"

#include <QtCore/QString>

class StreamLink;

class LineWatch : public LinkDevice
{
public:
    // Both must outlive the watch; stream tells why the link failed.
    LineWatch(LinkDevice &inner, const StreamLink *stream) : m_inner(inner), m_stream(stream) {}

    // Forgets what the last request did.
    void startRequest();
    bool sent() const { return m_sent; } //!< a telegram may have reached the line
    bool answered() const { return m_answered; }
    bool failed() const { return m_failed; }
    QString failure() const { return m_failure; } //!< failed(): why, in the link's words

    void setSingleAttempt(bool on) { m_singleAttempt = on; }

    int receiveExact(char *data, int count) override { return received(m_inner.receiveExact(data, count)); }
    int receive(char *data, int room) override { return received(m_inner.receive(data, room)); }
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override { return m_inner.control(code, value); }
    int retryCount() const override { return m_singleAttempt ? 0 : m_inner.retryCount(); }
    int stationId() const override { return m_inner.stationId(); }
    int delayMs() const override { return m_inner.delayMs(); }

private:
    int received(int got);
    void noteFailure();

    LinkDevice &m_inner;
    const StreamLink *m_stream;
    bool m_singleAttempt = false;
    bool m_sent = false;
    bool m_answered = false;
    bool m_failed = false;
    QString m_failure;
};

#endif // LUSTBUS_LINEWATCH_H
