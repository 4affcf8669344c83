#include "gateway.h"

#include "driverinterface.h"
#include "linkclock.h"
#include "linkinterrupt.h"
#include "wirecodec.h"

#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <algorithm>

#include <sys/socket.h>

using LustBus::EOT;

namespace {

// What a client's socket takes from the kernel ahead of the gateway: a few telegrams.
// A client that sends faster waits in its own TCP window.
constexpr qint64 ClientReadBufferSize = 4 * LustBus::BufferSize;

// Sends what the socket takes at once, straight to its descriptor, when nothing of
// the socket's own is queued: a reply mostly fits, and the socket's write would first
// switch its write notifier on and off again, which wakes the event loop twice.
// Returns the bytes sent; the rest (or everything, after an error) is the socket's.
int sendAtOnce(QTcpSocket &socket, const char *bytes, int count)
{
    const int fd = int(socket.socketDescriptor());
    if (fd < 0 || socket.bytesToWrite() > 0)
        return 0;
    const ssize_t sent = ::send(fd, bytes, size_t(count), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent > 0 ? int(sent) : 0;
}

} // namespace

struct Gateway::Client
{
    int id = 0;
    QTcpSocket *socket = nullptr;
    QByteArray received;   //!< bytes not yet recognised: a telegram begun, or nothing
    qint64 lastByteUs = 0;
    int badInARow = 0;
    QByteArray request;    //!< the complete request waiting for the bus, or empty
    LustBus::ReceivedRequest fields;
    qint64 requestSinceUs = 0;
    quint64 bytesSinceTaken = 0; //!< read since its request went to the bus
    bool replyHeldBack = false;
    bool gone = false;
    QTimer stallTimer;
    GatewayClientStats stats;
};

Gateway::Gateway(LinkDevice &bus, const Settings &settings, QObject *parent)
    : QObject(parent),
      m_bus(bus),
      m_settings(settings),
      m_server(new QTcpServer(this)),
      m_silent(qint64(settings.silentProbeIntervalMs) * 1000)
{
    connect(m_server, &QTcpServer::newConnection, this, &Gateway::accept);
    m_eotTimer.setSingleShot(true);
    m_eotTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_eotTimer, &QTimer::timeout, this, [this] { closeExchange(false); });
    m_turnaroundTimer.setSingleShot(true);
    m_turnaroundTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_turnaroundTimer, &QTimer::timeout, this, &Gateway::pump);
}

Gateway::~Gateway()
{
    close();
}

qint64 Gateway::nowUs() const
{
    return LinkClock::steady().nowUs();
}

QString Gateway::endpointText(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

bool Gateway::listen(const QHostAddress &address, quint16 port)
{
    if (m_server->listen(address, port))
        return true;
    m_error = QStringLiteral("cannot listen on %1: %2")
                  .arg(endpointText(address, port), m_server->errorString());
    return false;
}

QHostAddress Gateway::serverAddress() const
{
    return m_server->serverAddress();
}

quint16 Gateway::serverPort() const
{
    return m_server->serverPort();
}

void Gateway::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

QList<GatewayClientStats> Gateway::clientStats() const
{
    QList<GatewayClientStats> list;
    for (const auto &client : m_clients) {
        if (!client->gone)
            list.append(client->stats);
    }
    return list;
}

GatewayClientStats Gateway::totalStats() const
{
    GatewayClientStats total = m_departed;
    for (const auto &client : m_clients) {
        if (!client->gone)
            total.add(client->stats);
    }
    return total;
}

void Gateway::close()
{
    m_closed = true;
    m_server->close();
    m_eotTimer.stop();
    m_turnaroundTimer.stop();
    // The clients keep their figures for a last look at the statistics.
    for (const auto &client : m_clients) {
        client->request.clear();
        client->stallTimer.stop();
        client->socket->disconnect(this);
        client->socket->abort();
    }
    m_active = nullptr;
    m_state = Bus::Idle;
}

// --- Clients ----------------------------------------------------------------------------

bool Gateway::isAllowed(const QHostAddress &peer) const
{
    if (m_settings.allowed.isEmpty())
        return true;
    // An IPv4 client of a server on an IPv6 address shows as ::ffff:a.b.c.d.
    bool ipv4 = false;
    const quint32 v4 = peer.toIPv4Address(&ipv4);
    const QHostAddress address = ipv4 ? QHostAddress(v4) : peer;
    for (const QPair<QHostAddress, int> &range : m_settings.allowed) {
        if (address.isInSubnet(range))
            return true;
    }
    return false;
}

void Gateway::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString peer = endpointText(socket->peerAddress(), socket->peerPort());
        QString refusal;
        const int connected = int(std::count_if(m_clients.begin(), m_clients.end(),
                                                [](const auto &c) { return !c->gone; }));
        if (m_closed)
            refusal = QStringLiteral("the gateway is stopping");
        else if (!isAllowed(socket->peerAddress()))
            refusal = QStringLiteral("not in the --allow ranges");
        else if (m_settings.maxClients > 0 && connected >= m_settings.maxClients)
            refusal = QStringLiteral("%1 of %1 clients connected (--max-clients)")
                          .arg(m_settings.maxClients);
        if (!refusal.isEmpty()) {
            log(QStringLiteral("refused %1: %2").arg(peer, refusal));
            socket->close();
            socket->deleteLater();
            continue;
        }
        auto owned = std::make_unique<Client>();
        Client &client = *owned;
        client.id = ++m_lastId;
        client.socket = socket;
        client.stats.id = client.id;
        client.stats.peer = peer;
        socket->setReadBufferSize(ClientReadBufferSize);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        client.stallTimer.setSingleShot(true);
        connect(&client.stallTimer, &QTimer::timeout, this, [this, &client] { checkStall(client); });
        connect(socket, &QTcpSocket::readyRead, this, [this, &client] { readClient(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, &client] { drop(client); });
        m_clients.push_back(std::move(owned));
        log(QStringLiteral("client %1 %2 connected").arg(client.id).arg(peer));
        // Bytes may have come with the connection.
        readClient(client);
    }
}

void Gateway::readClient(Client &client)
{
    if (client.gone)
        return;
    const QByteArray bytes = client.socket->readAll();
    if (bytes.isEmpty())
        return;
    client.stats.bytesIn += quint64(bytes.size());
    client.bytesSinceTaken += quint64(bytes.size());
    client.lastByteUs = nowUs();
    client.received.append(bytes);
    // At once rather than from the event loop: a request that finds the bus idle, or
    // the closing EOT that frees it, starts the next exchange without a detour (and
    // without posting an event, which costs the loop a wake-up of its own).
    m_pumpFollows = true;
    recognise(client);
    m_pumpFollows = false;
    pump();
}

// Takes what the client's bytes hold: the closing EOT of its exchange, requests, and
// runs of bytes that are none.
void Gateway::recognise(Client &client)
{
    int at = 0;
    const int size = int(client.received.size());
    while (at < size && !client.gone) {
        const char *bytes = client.received.constData() + at;
        const int left = size - at;
        if (m_state == Bus::AwaitingEot && m_active == &client) {
            // EOT alone, or before the next request's EOT, closes; anything else is the
            // client going on without closing.
            const bool closing = bytes[0] == EOT && (left == 1 || bytes[1] == EOT);
            at += closing ? 1 : 0;
            closeExchange(closing);
            continue;
        }
        const LustBus::RequestScan scan = LustBus::scanRequest(bytes, left);
        if (scan.status == LustBus::RequestScan::NeedMore)
            break;
        if (scan.status == LustBus::RequestScan::Complete) {
            client.badInARow = 0;
            takeRequest(client, bytes, scan.length, scan.request);
        } else if (!LustBus::isClosingEot(scan, bytes)) {
            ++client.stats.badTelegrams;
            if (++client.badInARow >= MaxBadTelegramsInARow)
                cutOff(client, QStringLiteral("%1 runs of bytes that form no request")
                                   .arg(client.badInARow));
        }
        at += scan.length;
    }
    if (client.gone)
        return;
    client.received.remove(0, at);
    // A lone EOT is a closing that came late, or a request to come: it holds nothing.
    if (client.received.size() >= 2)
        client.stallTimer.start(m_settings.clientTimeoutMs);
    else
        client.stallTimer.stop();
    if (!client.request.isEmpty())
        schedulePump();
}

void Gateway::takeRequest(Client &client, const char *request, int length,
                          const LustBus::ReceivedRequest &fields)
{
    if (m_settings.readOnly && fields.write) {
        const QByteArray nak =
            LustBus::formatted(LustBus::formatNakReply, qint8(fields.station));
        ++client.stats.refusedWrites;
        // The answer to the request just read: nothing can have overtaken it.
        client.socket->write(nak);
        client.socket->flush();
        client.stats.bytesOut += quint64(nak.size());
        return;
    }
    if (!client.request.isEmpty())
        ++client.stats.errors; // replaced before its turn: the client had given up on it
    client.request = QByteArray(request, length);
    client.fields = fields;
    client.requestSinceUs = nowUs();
}

void Gateway::checkStall(Client &client)
{
    // The event loop may have waited for the bus: take what came meanwhile first.
    if (client.socket->waitForReadyRead(0) || client.gone || client.received.size() < 2)
        return;
    const qint64 quietUs = nowUs() - client.lastByteUs;
    const qint64 limitUs = qint64(m_settings.clientTimeoutMs) * 1000;
    if (quietUs < limitUs) {
        client.stallTimer.start(int((limitUs - quietUs + 999) / 1000));
        return;
    }
    cutOff(client, QStringLiteral("stalled %1 ms inside a telegram").arg(quietUs / 1000));
}

void Gateway::cutOff(Client &client, const QString &why)
{
    if (client.gone)
        return;
    log(QStringLiteral("client %1 %2 cut off: %3").arg(client.id).arg(client.stats.peer, why));
    client.socket->abort();
    drop(client);
}

void Gateway::drop(Client &client)
{
    if (client.gone)
        return;
    client.gone = true;
    client.stallTimer.stop();
    client.request.clear();
    const GatewayClientStats &s = client.stats;
    log(QStringLiteral("client %1 %2 left: %3 exchanges, %4 errors, %5 bad telegrams%6")
            .arg(client.id)
            .arg(s.peer)
            .arg(s.exchanges)
            .arg(s.errors)
            .arg(s.badTelegrams)
            .arg(s.refusedWrites > 0
                     ? QStringLiteral(", %1 writes refused").arg(s.refusedWrites)
                     : QString()));
    m_departed.add(s);
    if (m_state == Bus::AwaitingEot && m_active == &client)
        closeExchange(false);
    QMetaObject::invokeMethod(this, &Gateway::reap, Qt::QueuedConnection);
}

// Clients are removed only here, from the event loop, never under an exchange that
// still refers to them.
void Gateway::reap()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        Client &client = **it;
        if (!client.gone || &client == m_active) {
            ++it;
            continue;
        }
        client.socket->disconnect(this);
        client.socket->deleteLater();
        it = m_clients.erase(it);
    }
}

// --- The bus ----------------------------------------------------------------------------

void Gateway::schedulePump()
{
    if (m_pumpScheduled || m_pumpFollows || m_state != Bus::Idle)
        return;
    m_pumpScheduled = true;
    QMetaObject::invokeMethod(this, &Gateway::pump, Qt::QueuedConnection);
}

Gateway::Client *Gateway::nextInTurn() const
{
    // The first waiting client after the one served last, in the order they came.
    Client *first = nullptr;
    for (const auto &client : m_clients) {
        if (client->gone || client->request.isEmpty())
            continue;
        if (client->id > m_lastTurnId)
            return client.get();
        if (!first)
            first = client.get();
    }
    return first;
}

void Gateway::pump()
{
    m_pumpScheduled = false;
    if (m_closed || m_state != Bus::Idle)
        return;
    Client *client = m_turnaroundTimer.isActive() ? nullptr : nextInTurn();
    const qint64 idleUs = nowUs() - m_busFreeSinceUs;
    const qint64 turnaroundUs = qint64(m_settings.turnaroundMs) * 1000;
    if (!client || idleUs < turnaroundUs) {
        sendOwedEot();
        if (client)
            m_turnaroundTimer.start(int((turnaroundUs - idleUs + 999) / 1000));
        return;
    }
    runExchange(*client);
}

void Gateway::sendOwedEot()
{
    if (!m_eotOwed)
        return;
    m_eotOwed = false;
    const char eot = EOT;
    m_bus.send(&eot, 1);
}

void Gateway::runExchange(Client &client)
{
    if (notTried(client))
        return;
    // The closing EOT of the exchange before goes out with this request, in one write.
    const QByteArray request = m_eotOwed ? EOT + client.request : client.request;
    m_eotOwed = false;
    const LustBus::ReceivedRequest fields = client.fields;
    client.request.clear();
    const qint64 waitedUs = nowUs() - client.requestSinceUs;
    client.stats.waitUs += waitedUs;
    client.stats.maxWaitUs = qMax(client.stats.maxWaitUs, waitedUs);
    ++client.stats.exchanges;
    client.bytesSinceTaken = 0;
    client.replyHeldBack = false;
    m_lastTurnId = client.id;
    m_active = &client;
    m_state = Bus::Exchanging;

    // As the driver does: what is left of an earlier reply must not answer this one.
    m_bus.control(LinkControlDiscardInput, QVariant(0));
    if (m_bus.send(request.constData(), int(request.size())) != request.size()) {
        busFailed();
        ++client.stats.errors;
        finishExchange();
        return;
    }
    busWorks();
    char reply[LustBus::BufferSize];
    int count = 0;
    LustBus::ReplyScan scan;
    bool failed = false;
    while (scan.status == LustBus::ReplyStatus::NeedMore) {
        const int got = m_bus.receive(reply + count, LustBus::BufferSize - count);
        if (got < 1) {
            failed = got < 0;
            if (failed)
                busFailed();
            break;
        }
        const int before = count;
        count += qMin(got, LustBus::BufferSize - count);
        scan = LustBus::scanReply(fields, reply, count);
        const int end = scan.status == LustBus::ReplyStatus::Complete ? scan.length : count;
        forward(client, reply + before, end - before);
    }
    if (!failed)
        noteStation(fields.station, count > 0);
    if (scan.status != LustBus::ReplyStatus::Complete || client.replyHeldBack)
        ++client.stats.errors;
    if (scan.status == LustBus::ReplyStatus::Complete && scan.closedWithEot && !client.gone
        && !client.replyHeldBack) {
        m_state = Bus::AwaitingEot;
        m_eotTimer.start(m_settings.clientTimeoutMs);
        return;
    }
    finishExchange();
}

// A read for a silent station whose probe is not due takes its turn without the bus:
// the client hears nothing, as it would from the bus, and the next client goes on.
bool Gateway::notTried(Client &client)
{
    if (m_silent.mayPass(client.fields.station, client.fields.write, nowUs()))
        return false;
    client.request.clear();
    ++client.stats.errors;
    m_lastTurnId = client.id;
    schedulePump();
    return true;
}

void Gateway::noteStation(int station, bool answered)
{
    switch (m_silent.noteReply(station, answered, nowUs())) {
    case SilentStations::Change::FellSilent:
        log(QStringLiteral("station %1 does not answer; its reads are not tried but one "
                           "every %2 s")
                .arg(station)
                .arg(double(m_settings.silentProbeIntervalMs) / 1000.0, 0, 'f', 1));
        break;
    case SilentStations::Change::AnswersAgain:
        log(QStringLiteral("station %1 answers again").arg(station));
        break;
    case SilentStations::Change::None:
        break;
    }
}

bool Gateway::hasMovedOn(const Client &client) const
{
    if (client.bytesSinceTaken > 0 || client.socket->bytesAvailable() > 0)
        return true;
    char byte;
    return ::recv(int(client.socket->socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void Gateway::forward(Client &client, const char *bytes, int count)
{
    if (count <= 0 || client.gone || client.replyHeldBack)
        return;
    if (hasMovedOn(client)) {
        client.replyHeldBack = true;
        return;
    }
    const int sent = sendAtOnce(*client.socket, bytes, count);
    if (sent < count) {
        client.socket->write(bytes + sent, count - sent);
        client.socket->flush();
    }
    client.stats.bytesOut += quint64(count);
    if (client.socket->bytesToWrite() > MaxUnreadReplyBytes)
        cutOff(client, QStringLiteral("it leaves its replies unread"));
}

// The closing EOT is owed to the bus until the next request or the next idle moment of
// the event loop, whichever comes first (see pump).
void Gateway::closeExchange(bool withEot)
{
    m_eotTimer.stop();
    m_eotOwed = withEot;
    finishExchange();
}

void Gateway::finishExchange()
{
    // A client that left during its exchange was kept for it; it can go now.
    if (m_active && m_active->gone)
        QMetaObject::invokeMethod(this, &Gateway::reap, Qt::QueuedConnection);
    m_state = Bus::Idle;
    m_active = nullptr;
    m_busFreeSinceUs = nowUs();
    schedulePump();
}

void Gateway::busFailed()
{
    if (m_interrupt && m_interrupt->isRaised())
        return; // stopping: the wait was ended on purpose
    if (m_busLost)
        return;
    m_busLost = true;
    m_busLostAtUs = nowUs();
    log(QStringLiteral("bus lost: %1; requests go unanswered until it is back")
            .arg(m_busFailureText ? m_busFailureText() : QStringLiteral("send failed")));
}

void Gateway::busWorks()
{
    if (!m_busLost)
        return;
    m_busLost = false;
    log(QStringLiteral("bus back after %1 s")
            .arg(double(nowUs() - m_busLostAtUs) / 1e6, 0, 'f', 1));
}
