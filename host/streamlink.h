// The part that the serial and the TCP link share: a LinkDevice on an open QIODevice,
// blocking on the caller's thread, with the protocol settings of the link.
//
//   receive       returns as soon as any bytes are in (at most room of them)
//   receiveExact  waits until count bytes are in or a time-out ends the wait
//   send          queues the bytes and waits until the device has taken them; with
//                 local echo on, also reads back and checks their echo
//   control(12)   LinkControlDiscardInput: drops every byte received and not yet read
//                 (the rest of an earlier, broken reply) and reopens a link whose device
//                 went away; other codes are ignored
//
// Two time-outs bound a reply. The response time-out (ProtocolSettings timeout) runs
// from the request to the first reply byte; after that, each byte must follow the one
// before within the inter-byte time-out, so that a reply that stalls half-way ends
// early instead of at the response time-out. An inter-byte time-out of 0 turns that
// off: every receive then waits up to the response time-out again.
//
// Receives return 0 when nothing came within the time-out, and -1 when the link is not
// open, its device failed during the wait or the wait was interrupted (errorString()
// says which); both are below 1, which is all the driver looks at. A time-out of 0 or
// below does not wait: a receive then takes only what has already arrived.
//
// Reconnect: once open() succeeded, a device that goes away (USB adapter unplugged,
// TCP server closed the connection) is reopened at the start of the next request, by
// control(12). Reopens are at least the reconnect interval apart, whether they succeed
// or not: a request that finds the device away waits for the next reopen to fall due,
// but no longer than its response time-out (as on a silent line), and fails with
// nothing received, which the driver reports as "no response". So a device that fails
// at once never makes requests fail in a tight loop. close() ends this.
//
// Interrupt: given a LinkInterrupt, the link watches it beside its device while it
// waits for the line; see linkinterrupt.h.
#ifndef LUSTBUS_STREAMLINK_H
#define LUSTBUS_STREAMLINK_H

#include "driverinterface.h"
#include "protocolsettings.h"

#include <QtCore/QString>

#include <functional>

#include <sys/types.h>

class LinkClock;
class LinkInterrupt;
class QIODevice;

class StreamLink : public LinkDevice
{
public:
    ~StreamLink() override;

    // Opens the device; false with errorString() naming the cause.
    bool open();
    void close();
    bool isOpen() const;
    // Why the last open, send or receive failed, in words; empty while nothing failed.
    QString errorString() const { return m_errorString; }

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override { return m_protocol.retry; }
    int stationId() const override { return m_protocol.stationid; }
    int delayMs() const override; //!< 0 while interrupted

    int timeoutMs() const { return m_protocol.timeout; }
    ProtocolSettings protocolSettings() const { return m_protocol; }
    void setProtocolSettings(const ProtocolSettings &protocol) { m_protocol.assign(protocol); }

    // Gap allowed between two bytes of one reply; 0: no such limit. Each kind of link
    // sets its own default.
    int interByteTimeoutMs() const { return m_interByteTimeoutMs; }
    void setInterByteTimeoutMs(int ms) { m_interByteTimeoutMs = qMax(ms, 0); }

    // For 2-wire RS485 adapters that hear their own transmission: every send reads
    // back as many bytes as it sent and compares them. A missing or wrong echo is a
    // line fault: send returns -1, errorString() shows both sides, and the receives of
    // that request swallow whatever the line brings until it is quiet and return 0.
    bool localEcho() const { return m_localEcho; }
    void setLocalEcho(bool on) { m_localEcho = on; }

    // Least time between two reopen attempts of a device that went away; 0: never
    // reopen (a request then waits its response time-out and fails). Default 1000 ms.
    int reconnectIntervalMs() const { return m_reconnectIntervalMs; }
    void setReconnectIntervalMs(int ms) { m_reconnectIntervalMs = qMax(ms, 0); }
    // Successful reopens since open().
    int reconnectCount() const { return m_reconnects; }
    // Takes what deserves a line in the owner's log beside the failed requests: a
    // reopen that found another device where the link's was (see SerialLink). None by
    // default.
    void setNotice(std::function<void(const QString &)> notice) { m_notice = std::move(notice); }

    // The clock of the time-outs and the back-off; it must outlive the link.
    void setClock(const LinkClock &clock) { m_clock = &clock; }

    // Ends the waits when raised (null: none, the default); it must outlive the link.
    // While it is raised, sends and receives fail at once and control() leaves the
    // device alone.
    void setInterrupt(const LinkInterrupt *interrupt) { m_interrupt = interrupt; }
    bool isInterrupted() const;

protected:
    explicit StreamLink(const ProtocolSettings &protocol);

    // The concrete link's own opening and closing of its device. openDevice() sets
    // errorString() when it fails. openDevice() is only called after closeDevice();
    // closeDevice() is called with the device in any state.
    virtual bool openDevice() = 0;
    virtual void closeDevice() = 0;
    // The concrete link hands over its device once it exists; it stays owned there.
    void setDevice(QIODevice *device) { m_device = device; }
    void setErrorString(const QString &text) { m_errorString = text; }
    void notice(const QString &line) const
    {
        if (m_notice)
            m_notice(line);
    }
    // Called after a wait for bytes ended without any, to tell a vanished device from
    // a quiet one; the default says nothing.
    virtual QString deviceFailure() const { return QString(); }
    // True while openDevice() runs to reopen a device that went away, false when open()
    // calls it: a reopen may refuse what it finds where the device was.
    bool isReopening() const { return m_reopening; }
    // Drops what the device has buffered and what has arrived without being read;
    // called only when inputPending() found something.
    virtual void dropInput();
    // Writes to the device's descriptor without waiting; a socket overrides it so that a
    // peer gone away gives an error instead of SIGPIPE.
    virtual ssize_t writeHandle(int handle, const char *data, int count);
    // The descriptor the device's waits poll, so that an interrupt is watched beside
    // it; -1 (the default): none, and a wait under way does not see the interrupt.
    virtual int deviceHandle() const { return -1; }

private:
    const LinkClock &clock() const;
    qint64 nowMs() const;
    qint64 replyDeadline() const;
    enum class Wait { Input, TimedOut, Failed };
    Wait waitForInput(qint64 deadlineMs);
    Wait waitOnHandle(int handle, qint64 deadlineMs);
    Wait waitOnDevice(qint64 deadlineMs);
    Wait interrupted();
    bool failed();
    // Drops pending input (dropInput), after one look that does not wait.
    void discardInput();
    // True when bytes (or an end of the line) wait to be read: in the device's buffer or
    // at its descriptor; also when the device has no descriptor to look at.
    bool inputPending() const;
    int readAvailable(char *data, int room);
    int receiveOpen(char *data, int count, bool exact); //!< receive, receiveExact
    int readReply(char *data, int count, bool exact);
    int writeAtOnce(const char *data, int count);
    int writeThroughDevice(const char *data, int count);
    bool checkEcho(const char *sent, int count);
    void swallowUntilQuiet();
    void reconnectIfGone();
    void reportNotOpen();

    ProtocolSettings m_protocol;
    QIODevice *m_device = nullptr;
    const LinkClock *m_clock = nullptr;
    const LinkInterrupt *m_interrupt = nullptr;
    QString m_errorString;
    std::function<void(const QString &)> m_notice;
    int m_interByteTimeoutMs = 0;
    int m_reconnectIntervalMs = 1000;
    bool m_localEcho = false;

    // Where the request on the line stands. Every send starts a new one, and so do
    // open() and control(12); the reply reader moves it on.
    enum class RequestState {
        AwaitingReply, //!< the first byte may take the response time-out
        Replying,      //!< the next byte must follow within the inter-byte time-out
        EchoWrong,     //!< the telegram's echo was wrong: the line's answer is swallowed
    };
    void startRequest() { m_request = RequestState::AwaitingReply; }
    RequestState m_request = RequestState::AwaitingReply;
    qint64 m_lastByteMs = 0; //!< Replying: when the latest byte came

    bool m_keepOpen = false;     //!< open() succeeded and close() was not called since
    bool m_reopening = false;
    qint64 m_nextReopenMs = 0;   //!< no reopen attempt before this time
    int m_reconnects = 0;
};

#endif // LUSTBUS_STREAMLINK_H
