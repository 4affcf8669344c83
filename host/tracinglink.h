// A LinkDevice that wraps another and logs every byte sent and received, one line per
// transfer, through the logging category "lustbus.trace" (debug messages; switch them
// off with the rule "lustbus.trace.debug=false"):
//
//   14:03:07.512 > <EOT>A20100<ENQ>
//   14:03:07.518 < A<STX>20100=FFFB<ETX>r
//   14:03:07.519 > <EOT>
//   14:03:08.020 < nothing within the time-out
//
// Control characters appear by their names (<STX>, <NAK>, <DEL>), bytes from 0x80 on and
// the '<' itself as <xHH>, everything else as the character. Given a sink, the lines go
// there instead of the logging category (a test keeps them to show a failed exchange).
// A receive or send below 0 means the inner link failed rather than timed out; given a
// failure text (a StreamLink's errorString), the line says why:
//
//   14:03:09.101 < connection to 127.0.0.1:5020 closed by the peer
//   14:03:09.230 - send failed: interrupted
#ifndef LUSTBUS_TRACINGLINK_H
#define LUSTBUS_TRACINGLINK_H

#include "driverinterface.h"

#include <QtCore/QLoggingCategory>

#include <functional>

class QTime;

Q_DECLARE_LOGGING_CATEGORY(lcLustBusTrace)

class TracingLink : public LinkDevice
{
public:
    using LineSink = std::function<void(const QString &line)>;
    using FailureText = std::function<QString()>;

    // The inner link must outlive the wrapper.
    explicit TracingLink(LinkDevice &inner, LineSink sink = LineSink())
        : m_inner(inner), m_sink(std::move(sink))
    {
    }

    void setFailureText(FailureText text) { m_failureText = std::move(text); }

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override { return m_inner.retryCount(); }
    int stationId() const override { return m_inner.stationId(); }
    int delayMs() const override { return m_inner.delayMs(); }

    // The bytes as a trace shows them.
    static QString traceText(const QByteArray &bytes);
    // One trace line: time, direction ('>' sent, '<' received) and the bytes.
    static QString traceLine(const QTime &time, char direction, const QByteArray &bytes);

private:
    void logReceived(const char *data, int got);
    QString failure() const; //!< why the inner link failed, as far as it tells
    void trace(const QString &line);

    LinkDevice &m_inner;
    LineSink m_sink;
    FailureText m_failureText;
};

#endif // LUSTBUS_TRACINGLINK_H
