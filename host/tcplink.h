// A link over TCP (QTcpSocket) to a serial device server: the bytes go to the bus as
// they stand. Host and port are given directly or taken from the current entry of a
// host's PortSettings record; time-out, retries, station id and delay from a
// ProtocolSettings record. Receive rules, control code 12, local echo and reconnect as
// in StreamLink; the inter-byte time-out starts at DefaultInterByteTimeoutMs.
#ifndef LUSTBUS_TCPLINK_H
#define LUSTBUS_TCPLINK_H

#include "streamlink.h"

#include <QtNetwork/QTcpSocket>

class PortSettings;

class TcpLink : public StreamLink
{
public:
    TcpLink(const QString &host, quint16 port, const ProtocolSettings &protocol);
    TcpLink(const PortSettings &port, const ProtocolSettings &protocol);
    ~TcpLink() override;

    // A network and a device server between the link and the line: their buffering
    // and the server's own gathering of serial bytes add gaps a line does not have.
    static constexpr int DefaultInterByteTimeoutMs = 100;

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    int connectTimeoutMs() const { return m_connectTimeoutMs; }
    void setConnectTimeoutMs(int ms) { m_connectTimeoutMs = ms; }

protected:
    // Connects, waiting at most connectTimeoutMs; fails with a message naming the
    // endpoint and the cause (refused, unknown host, timed out).
    bool openDevice() override;
    void closeDevice() override;
    QString deviceFailure() const override;
    int deviceHandle() const override;
    ssize_t writeHandle(int handle, const char *data, int count) override;

private:
    QString endpoint() const;

    QString m_host;
    quint16 m_port = 0;
    int m_connectTimeoutMs = 3000;
    QTcpSocket m_socket;
};

#endif // LUSTBUS_TCPLINK_H
