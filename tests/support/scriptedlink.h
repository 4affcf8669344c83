// A LinkDevice for tests: records every call in order and replays scripted replies.
#ifndef SCRIPTEDLINK_H
#define SCRIPTEDLINK_H

#include "driverinterface.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QVariant>

class ScriptedLink : public LinkDevice
{
public:
    struct Call
    {
        enum Type { Control, StationId, Send, Receive, ReceiveExact, RetryCount, DelayMs };
        explicit Call(Type type, int code = 0, const QVariant &value = QVariant())
            : type(type), code(code), value(value) {}
        Type type;
        int code;            //!< control code
        QVariant value;      //!< control value
        QByteArray bytes;    //!< sent bytes, or bytes handed out by a receive
        int room = 0;        //!< room / count of a receive
    };

    // Each chunk is handed out by one receive call (split when it exceeds the room);
    // an empty chunk makes that call return 0. With no chunk left, receives return 0.
    void queueChunk(const QByteArray &bytes) { m_chunks.append(bytes); }
    void queueBytewise(const QByteArray &bytes)
    {
        for (char byte : bytes)
            m_chunks.append(QByteArray(1, byte));
    }
    void queueSilence() { m_chunks.append(QByteArray()); }
    // Chunks that answer each request telegram (not the closing EOT): queued when the
    // telegram is sent, so a stale reply cannot be received before the driver asks.
    void answerEachRequestWith(const QByteArray &reply) { m_autoReply = reply; }

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override { return logged(Call::RetryCount, retries); }
    int stationId() const override { return logged(Call::StationId, station); }
    int delayMs() const override { return logged(Call::DelayMs, delay); }

    int retries = 0;
    int station = 1;
    int delay = 0;

    QList<Call> calls;

    QList<QByteArray> sent() const;       //!< every send, in order
    int count(Call::Type type) const;
    // One letter per call: C control, S stationId, > send, < receive, = receiveExact,
    // R retryCount, D delayMs.
    QString trace() const;

private:
    int logged(Call::Type type, int result) const
    {
        const_cast<ScriptedLink *>(this)->calls.append(Call(type));
        return result;
    }

    QList<QByteArray> m_chunks;
    QByteArray m_autoReply;
};

// Replies of a servo, from the wire codec.
namespace Reply {
QByteArray data(int station, const QByteArray &text); //!< station STX text ETX BCC, "=" in text
QByteArray value(int station, const QByteArray &valueText); //!< data(station, "=" + valueText)
QByteArray ack(int station);
QByteArray nak(int station);
} // namespace Reply

#endif // SCRIPTEDLINK_H
