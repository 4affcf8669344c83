#include "tcplink.h"

#include "portsettings.h"

#include <sys/socket.h>

TcpLink::TcpLink(const QString &host, quint16 port, const ProtocolSettings &protocol)
    : StreamLink(protocol), m_host(host), m_port(port)
{
    setDevice(&m_socket);
    setInterByteTimeoutMs(DefaultInterByteTimeoutMs);
}

TcpLink::TcpLink(const PortSettings &port, const ProtocolSettings &protocol)
    : TcpLink(port.ip(), port.port(), protocol)
{
}

TcpLink::~TcpLink()
{
    closeDevice();
}

QString TcpLink::endpoint() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

bool TcpLink::openDevice()
{
    if (m_host.isEmpty() || m_port == 0) {
        setErrorString(QStringLiteral("cannot connect to \"%1\": host and port are needed")
                           .arg(endpoint()));
        return false;
    }
    m_socket.connectToHost(m_host, m_port);
    if (!m_socket.waitForConnected(qMax(m_connectTimeoutMs, 0))) {
        setErrorString(QStringLiteral("cannot connect to %1: %2")
                           .arg(endpoint(), m_socket.errorString()));
        m_socket.abort();
        return false;
    }
    // Telegrams are a few bytes each: send them at once instead of gathering.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setErrorString(QString());
    return true;
}

void TcpLink::closeDevice()
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState) {
        m_socket.abort();
    }
    m_socket.close();
}

QString TcpLink::deviceFailure() const
{
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        return QString();
    // Said in the link's own words: a device server that hangs up is not a servo that
    // stays silent.
    if (m_socket.error() == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("connection to %1 closed by the peer").arg(endpoint());
    return QStringLiteral("connection to %1 lost: %2").arg(endpoint(), m_socket.errorString());
}

int TcpLink::deviceHandle() const
{
    return int(m_socket.socketDescriptor());
}

ssize_t TcpLink::writeHandle(int handle, const char *data, int count)
{
    return ::send(handle, data, size_t(count), MSG_NOSIGNAL);
}
