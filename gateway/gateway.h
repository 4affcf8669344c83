// Many masters, one bus. Clients connect over TCP and speak LustBus exactly as on the
// wire (the driver's TcpLink, lustbus --tcp, any client of a serial device server);
// the gateway owns the bus link and passes whole exchanges, one at a time:
//
//   - A client's bytes are held until the wire codec recognises a complete request,
//     its leading EOT with it. Clients with a request take turns (round robin), each
//     holding at most one: a newer request replaces one still waiting, as a client
//     sends a new one only after it gave up on the old.
//   - The request goes to the bus when the bus is free and the turnaround has passed
//     since the last exchange; the reply goes to that client only, up to where the
//     codec says it ends. The exchange ends at the client's closing EOT (passed on to
//     the bus at once, in one write with the next request when one waits), or without
//     one when the reply was broken or absent within the bus link's time-outs, when the
//     codec says the client will send none, or when it does not come within the client
//     time-out.
//   - A reply is held back from a client that sent anything meanwhile: it gave up on
//     that request, and would take the reply for the answer to its next one. A reply
//     later than the bus link's time-outs finds no exchange: the bus's input is
//     dropped before each request goes out.
//   - Misbehaving clients never hold the bus, as only complete requests reach it. A
//     client that pauses inside a telegram longer than the client time-out is cut off;
//     bytes that form no request are dropped and counted, and a client that sends
//     MaxBadTelegramsInARow such runs without a request between is cut off. The lone
//     EOT of a closing that came late costs nothing.
//   - Read-only: only read requests reach the bus; writes are answered with NAK.
//   - A station that does not answer costs the others nearly nothing: after two
//     requests in a row without a reply its reads are not sent (its client hears
//     nothing, as from the bus), but one per probe interval; see silentstations.h.
//
// The bus link works blocking (see streamlink.h): while an exchange waits for its
// reply, the event loop waits with it, and the clients' bytes wait in the kernel.
// A bus device that went away is reopened by the link at the next exchange (its
// reconnect back-off); meanwhile requests go unanswered and clients stay connected.
#ifndef LUSTBUS_GATEWAY_H
#define LUSTBUS_GATEWAY_H

#include "gatewaystats.h"
#include "silentstations.h"

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPair>
#include <QtCore/QTimer>
#include <QtNetwork/QHostAddress>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

class LinkDevice;
class LinkInterrupt;
class QTcpServer;

namespace LustBus {
struct ReceivedRequest;
}

class Gateway : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxBadTelegramsInARow = 3;
    // Replies a client leaves unread beyond this are its own fault: it is cut off.
    static constexpr qint64 MaxUnreadReplyBytes = 64 * 1024;

    struct Settings
    {
        // The longest pause inside a client's telegram, and the longest wait for its
        // closing EOT after the reply.
        int clientTimeoutMs = 100;
        int turnaroundMs = 0; //!< least time the bus stays idle between two exchanges
        int maxClients = 0;   //!< 0: no limit
        bool readOnly = false;
        QList<QPair<QHostAddress, int>> allowed; //!< peer ranges; empty: any peer
        // How often a read tries a silent station; 0: every request goes to the bus.
        int silentProbeIntervalMs = 0;
    };
    // The probe interval for a bus time-out: 40 of them, so that a silent station
    // holds the bus at most a fortieth of the time, but at least a second.
    static int silentProbeIntervalMs(int busTimeoutMs)
    {
        return int(std::clamp<qint64>(qint64(busTimeoutMs) * 40, 1000, 3600000));
    }

    // bus: open, the caller's, used on this object's thread only.
    Gateway(LinkDevice &bus, const Settings &settings, QObject *parent = nullptr);
    ~Gateway() override;

    // False with errorString() naming the address and the cause.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_error; }
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    // "127.0.0.1:5021", "[::1]:5021"
    static QString endpointText(const QHostAddress &address, quint16 port);

    // Lines for the log: clients that come, leave, are refused or cut off; the bus
    // lost and back.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }
    // Why the bus failed, in the link's words (StreamLink::errorString).
    void setBusFailureText(std::function<QString()> text) { m_busFailureText = std::move(text); }
    // Raised when the program stops: a bus wait it ends is no failure of the bus.
    void setInterrupt(const LinkInterrupt *interrupt) { m_interrupt = interrupt; }

    QList<GatewayClientStats> clientStats() const; //!< the clients connected now
    GatewayClientStats totalStats() const;         //!< every client since the start
    int clientCount() const { return m_lastId; }   //!< clients accepted since the start

    // Stops listening and disconnects every client.
    void close();

private:
    struct Client;
    enum class Bus { Idle, Exchanging, AwaitingEot };

    qint64 nowUs() const;
    void accept();
    bool isAllowed(const QHostAddress &peer) const;
    void readClient(Client &client);
    void recognise(Client &client);
    void takeRequest(Client &client, const char *request, int length,
                     const LustBus::ReceivedRequest &fields);
    void checkStall(Client &client);
    void cutOff(Client &client, const QString &why);
    void drop(Client &client);
    void reap();
    void schedulePump();
    void pump();
    Client *nextInTurn() const;
    void runExchange(Client &client);
    bool notTried(Client &client);
    void noteStation(int station, bool answered);
    void forward(Client &client, const char *bytes, int count);
    bool hasMovedOn(const Client &client) const;
    void closeExchange(bool withEot);
    void sendOwedEot();
    void finishExchange();
    void busFailed();
    void busWorks();
    void log(const QString &line) const;

    LinkDevice &m_bus;
    const Settings m_settings;
    const LinkInterrupt *m_interrupt = nullptr;
    QTcpServer *m_server;
    std::vector<std::unique_ptr<Client>> m_clients; //!< in the order they came
    GatewayClientStats m_departed; //!< sums of the clients that left
    int m_lastId = 0;
    int m_lastTurnId = 0;          //!< the client whose request went to the bus last

    Bus m_state = Bus::Idle;
    Client *m_active = nullptr;    //!< whose exchange is on the bus
    qint64 m_busFreeSinceUs = 0;
    QTimer m_eotTimer;
    QTimer m_turnaroundTimer;
    bool m_pumpScheduled = false;
    bool m_pumpFollows = false;    //!< readClient pumps when done: nothing to post
    bool m_eotOwed = false;        //!< the closing EOT of the last exchange, not yet sent
    SilentStations m_silent;
    bool m_busLost = false;
    qint64 m_busLostAtUs = 0;
    bool m_closed = false;

    QString m_error;
    std::function<void(const QString &)> m_log;
    std::function<QString()> m_busFailureText;
};

#endif // LUSTBUS_GATEWAY_H
