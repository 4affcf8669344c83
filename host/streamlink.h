// The part that the serial and the TCP link share: a LinkDevice on an open QIODevice,
// blocking on the caller's thread, with the protocol settings of the link.
//
//   receive       returns as soon as any bytes are in (at most room of them); waits up
//                 to timeoutMs for the first byte
//   receiveExact  waits until count bytes are in or timeoutMs has passed since the call
//   send          queues the bytes and waits until the device has taken them
//   control(12)   LinkControlDiscardInput: drops every byte received and not yet read
//                 (the rest of an earlier, broken reply); other codes are ignored
//
// Receives return 0 when nothing came and -1 when the link is not open; both are below
// 1, which is all the driver looks at. A timeout of 0 or below does not wait: a receive
// then takes only what has already arrived.
#ifndef LUSTBUS_STREAMLINK_H
#define LUSTBUS_STREAMLINK_H

#include "driverinterface.h"
#include "protocolsettings.h"

#include <QtCore/QString>

class QDeadlineTimer;
class QIODevice;

class StreamLink : public LinkDevice
{
public:
    ~StreamLink() override;

    virtual bool open() = 0;
    virtual void close() = 0;
    bool isOpen() const;
    // Why the last open, send or receive failed, in words; empty while nothing failed.
    QString errorString() const { return m_errorString; }

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override { return m_protocol.retry; }
    int stationId() const override { return m_protocol.stationid; }
    int delayMs() const override { return m_protocol.delay; }

    int timeoutMs() const { return m_protocol.timeout; }
    ProtocolSettings protocolSettings() const { return m_protocol; }
    void setProtocolSettings(const ProtocolSettings &protocol) { m_protocol.assign(protocol); }

protected:
    explicit StreamLink(const ProtocolSettings &protocol);

    // The concrete link hands over its device once it exists; it stays owned there.
    void setDevice(QIODevice *device) { m_device = device; }
    void setErrorString(const QString &text) { m_errorString = text; }
    // Called after a wait for bytes ended without any, to tell a vanished device from
    // a quiet one; the default says nothing.
    virtual QString deviceFailure() const { return QString(); }
    // Drops what the device has buffered and what has arrived without being read.
    virtual void discardInput();

private:
    bool waitForInput(const QDeadlineTimer &deadline);
    int readAvailable(char *data, int room);
    void reportNotOpen();

    ProtocolSettings m_protocol;
    QIODevice *m_device = nullptr;
    QString m_errorString;
};

#endif // LUSTBUS_STREAMLINK_H
