// lustbus gateway: owns one bus and lets many TCP clients use it, exchange by exchange,
// until SIGINT or SIGTERM (see gateway/gateway.h).
#include "commands.h"
#include "console.h"
#include "gateway.h"
#include "linkcommand.h"
#include "linkinterrupt.h"
#include "options.h"
#include "streamlink.h"
#include "tcplink.h"

#include <QtCore/QEventLoop>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// Where clients connect unless --listen says otherwise.
constexpr quint16 DefaultPort = 5021;

// SIGUSR1 asks for the statistics: the handler raises a pipe that the event loop
// watches, which is all a handler may safely do.
class StatisticsSignal
{
public:
    StatisticsSignal()
    {
        s_request.store(&m_request);
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &StatisticsSignal::handle;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &m_old);
    }
    ~StatisticsSignal()
    {
        sigaction(SIGUSR1, &m_old, nullptr);
        s_request.store(nullptr);
    }
    StatisticsSignal(const StatisticsSignal &) = delete;
    StatisticsSignal &operator=(const StatisticsSignal &) = delete;

    LinkInterrupt &request() { return m_request; }

private:
    static void handle(int)
    {
        if (LinkInterrupt *request = s_request.load())
            request->raise();
    }

    static std::atomic<LinkInterrupt *> s_request;
    LinkInterrupt m_request;
    struct sigaction m_old;
};

std::atomic<LinkInterrupt *> StatisticsSignal::s_request{nullptr};

const char Description[] =
    "Owns the bus (--port, --tcp or --sim) and lets many programs use it at once: an\n"
    "HMI, a commissioning laptop, a data logger. They connect over TCP and speak\n"
    "LustBus as on the wire, so the driver's TCP link and lustbus --tcp work\n"
    "unchanged. A client's bytes are held until they form a complete request, which\n"
    "goes to the bus when it is free; the reply goes to that client only, and the\n"
    "exchange ends at its closing EOT (or when the reply broke off or did not come).\n"
    "Clients take turns. A plain serial device server passes bytes from whoever\n"
    "talks, so two clients' telegrams mix on the wire.\n"
    "\n"
    "The first line of standard output says where it listens (\"listening on tcp\n"
    "127.0.0.1:5021\"). Runs until SIGINT (Ctrl-C) or SIGTERM; SIGUSR1 prints the\n"
    "per-client statistics on stderr.";

const char Notes[] =
    "Clients reach it as a TCP serial device server: lustbus read INT16:12 --tcp\n"
    "127.0.0.1:5021, or a host's driver over a TCP link to that address. Their reply\n"
    "time-out must cover their turn: the exchanges of the clients ahead of them.\n"
    "\n"
    "Misbehaving clients never hold the bus, as only complete requests reach it. One\n"
    "that pauses inside a telegram longer than the client time-out is cut off, and\n"
    "so is one that sends 3 runs of bytes in a row that form no request.\n"
    "\n"
    "Safety: it listens on 127.0.0.1 only, unless --listen names another address\n"
    "(0.0.0.0 or :: for every interface); --allow restricts peers to address ranges,\n"
    "--max-clients closes connections beyond the number at once, --read-only passes\n"
    "only reads and answers every write with NAK itself.\n"
    "\n"
    "A station that left two requests in a row without a reply is silent: its reads\n"
    "are not sent (the client gets no reply, as from the bus) but one every 40 bus\n"
    "time-outs (at least 1 s), so it holds up the others at most a fortieth of the\n"
    "time; writes always go. --keep-trying sends every request.\n"
    "\n"
    "Log on stderr: clients that come, leave, are refused or cut off; the bus lost\n"
    "(a device that goes away is reopened as the links do, clients stay connected\n"
    "and get no reply meanwhile) and back; \"a different device now sits at PATH;\n"
    "not used\" when another device took the bus device's name (another adapter,\n"
    "another program's pseudo-terminal); a station silent and answering again.\n"
    "Name a USB adapter by its /dev/serial/by-id/... link, which stays with it.\n"
    "\n"
    "Statistics (--stats at the end, SIGUSR1 at any time): per client the exchanges,\n"
    "errors (no whole reply), bad telegrams, writes refused, bytes in and out, and\n"
    "how long its requests waited for the bus.\n"
    "\n"
    "Environment: LUSTBUS_PORT, LUSTBUS_TCP and LUSTBUS_SETTINGS stand for --port,\n"
    "--tcp and --settings where those are not given (empty counts as unset).\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM, 2 a usage error, 3 the plugin did not\n"
    "load (it gives the defaults), the bus did not open or the address is taken, 4\n"
    "the output could not be written.\n"
    "\n"
    "Examples:\n"
    "  lustbus gateway --port /dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0\n"
    "      --settings RS485,19200,EVEN,7,1\n"
    "  lustbus gateway --port /dev/ttyUSB0 --listen 0.0.0.0:5021 --allow 192.168.10.0/24\n"
    "  lustbus gateway --tcp 10.0.0.5:4001 --listen 5022 --read-only --max-clients 4\n"
    "  lustbus gateway --sim --listen 0 --stats     # a simulated servo behind it\n";

class GatewayCommand : public LinkCommand
{
public:
    GatewayCommand()
        : LinkCommand({"gateway", "lets many TCP clients share one bus, exchange by exchange",
                       Description, Notes, {}})
    {
    }

    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // The clients pick station, repeats and delays; the gateway passes requests on.
    int linkUses() const override { return 0; }

private:
    bool readGatewayOptions(const QCommandLineParser &parser, QString *error);
    void printClientStatistics(const Gateway &gateway, const QString &headline) const;

    QHostAddress m_address;
    quint16 m_port = DefaultPort;
    Gateway::Settings m_settings;
    bool m_keepTrying = false;
};

QList<QCommandLineOption> GatewayCommand::options() const
{
    return QList<QCommandLineOption>{
               Options::value("listen", "Address and port the clients connect to; port 0 takes "
                                        "a free one. Default: 127.0.0.1:5021.",
                              "[HOST:]PORT"),
               Options::value("allow", "Only peers in this address range may connect, e.g. "
                                       "192.168.10.0/24; repeat for more. Default: any peer that "
                                       "reaches the address.",
                              "ADDRESS/BITS"),
               Options::value("max-clients", "Clients connected at once; more are closed at "
                                             "once. Default: no limit.",
                              "N"),
               Options::value("turnaround", "Least time the bus stays idle between two "
                                            "exchanges, for drives that need a pause. Default: "
                                            "0.",
                              "MS"),
               Options::flag("read-only", "Passes only read requests; writes are answered with "
                                          "NAK by the gateway."),
               Options::flag("keep-trying", "Sends every request to the bus, also reads for a "
                                            "station that does not answer."),
               Options::Stats.with("Prints the per-client statistics on stderr at the end "
                                   "(SIGUSR1 prints them at any time)."),
           }
           + LinkOptions::options(
               linkUses(),
               {{"timeout", "How long the bus gets for the first byte of each reply. Default: "
                            "the driver's (500)."},
                {"inter-byte-timeout",
                 "Longest gap between two bytes of a reply on the bus, and the client time-out: "
                 "the longest gap inside a client's telegram and the longest wait for its "
                 "closing EOT. Default: the bus link's (4 character times but at least 20 ms on "
                 "serial ports, 100 ms over TCP) and 100 ms for clients. 0 turns it off on the "
                 "bus and holds clients to --timeout."},
                {"trace", "Shows every telegram on the bus on stderr."}});
}

bool GatewayCommand::readGatewayOptions(const QCommandLineParser &parser, QString *error)
{
    if (parser.isSet(QStringLiteral("listen"))) {
        const QString text = parser.value(QStringLiteral("listen"));
        QString host;
        if (!LinkOptions::parseEndpoint(text, true, &host, &m_port, error, true)) {
            error->prepend(QStringLiteral("--listen: "));
            return false;
        }
        m_address = host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                        : QHostAddress(host);
        if (m_address.isNull()) {
            *error = QStringLiteral("bad --listen '%1': '%2' is no IP address (such as "
                                    "127.0.0.1, 0.0.0.0 or ::1)")
                         .arg(text, host);
            return false;
        }
    } else {
        m_address = QHostAddress(QHostAddress::LocalHost);
    }
    for (const QString &text : parser.values(QStringLiteral("allow"))) {
        const QPair<QHostAddress, int> range = QHostAddress::parseSubnet(text.trimmed());
        if (range.first.isNull()) {
            *error = QStringLiteral("bad --allow '%1': expected ADDRESS/BITS, such as "
                                    "192.168.10.0/24 or ::1/128")
                         .arg(text);
            return false;
        }
        m_settings.allowed.append(range);
    }
    qint64 number = 0;
    if (!wholeNumberOption(parser, "max-clients", 1, 10000, &number, error))
        return false;
    m_settings.maxClients = int(number);
    number = 0;
    if (!wholeNumberOption(parser, "turnaround", 0, 60000, &number, error))
        return false;
    m_settings.turnaroundMs = int(number);
    m_settings.readOnly = parser.isSet(QStringLiteral("read-only"));
    m_keepTrying = parser.isSet(QStringLiteral("keep-trying"));
    return true;
}

void GatewayCommand::printClientStatistics(const Gateway &gateway, const QString &headline) const
{
    Console::err() << "lustbus gateway: " << headline << '\n'
                   << gatewayStatsTable(gateway.clientStats(), gateway.totalStats(),
                                        gateway.clientCount())
                   << Qt::flush;
}

int GatewayCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status))
        return status;
    QString error;
    if (!readGatewayOptions(parser, &error))
        return usageError(error);
    if (!openLink(&status))
        return status;
    // A client's telegram crosses a network: it gets the TCP link's allowance, not the
    // line's, unless the user says otherwise.
    const int interByte = m_options.interByteTimeoutMs;
    m_settings.clientTimeoutMs = interByte < 0 ? TcpLink::DefaultInterByteTimeoutMs
                                 : interByte > 0 ? interByte
                                                 : m_options.protocol.timeout;
    m_settings.silentProbeIntervalMs =
        m_keepTrying ? 0 : Gateway::silentProbeIntervalMs(m_options.protocol.timeout);

    StatisticsSignal statistics; // outlives the loop that watches it
    QEventLoop loop;
    Gateway gateway(link(), m_settings);
    StreamLink *bus = m_factory.streamLink();
    gateway.setBusFailureText([bus] { return bus->errorString(); });
    gateway.setInterrupt(&m_stop->interrupt());
    // A log that can no longer be written ends the gateway, as any output does.
    const auto log = [&loop](const QString &line) {
        Console::err() << "lustbus gateway: " << line << Qt::endl;
        if (Console::writeError() != 0)
            loop.quit();
    };
    gateway.setLog(log);
    bus->setNotice(log); // another device where the bus was
    if (!gateway.listen(m_address, m_port))
        return failure(ExitEnvironment, gateway.errorString());

    Console::out() << "listening on tcp "
                   << Gateway::endpointText(gateway.serverAddress(), gateway.serverPort())
                   << '\n'
                   << "bus " << m_factory.description() << ", reply time-out "
                   << m_options.protocol.timeout << " ms, client time-out "
                   << m_settings.clientTimeoutMs << " ms"
                   << (m_settings.readOnly ? QStringLiteral(", read-only") : QString())
                   << "; stop with Ctrl-C" << Qt::endl;
    // Whoever started it learns where it listens from these lines.
    if (Console::writeError() != 0)
        return writeFailure();

    onInterrupt(m_stop->interrupt(), &loop, [&loop] { loop.quit(); });
    onInterrupt(statistics.request(), &loop, [&] {
        statistics.request().lower();
        printClientStatistics(gateway, QStringLiteral("statistics, bus %1")
                                           .arg(m_factory.description()));
        if (Console::writeError() != 0)
            loop.quit();
    });
    loop.exec();
    gateway.close();
    if (Console::writeError() != 0)
        return writeFailure();

    const GatewayClientStats total = gateway.totalStats();
    Console::err() << "lustbus gateway: stopped; " << gateway.clientCount()
                   << (gateway.clientCount() == 1 ? " client, " : " clients, ") << total.exchanges
                   << " exchanges, " << total.errors << " errors" << Qt::endl;
    if (Options::Stats.isSet(parser))
        printClientStatistics(gateway, QStringLiteral("statistics, bus %1")
                                           .arg(m_factory.description()));
    return ExitSuccess;
}

} // namespace

std::unique_ptr<Command> Commands::gateway()
{
    return std::make_unique<GatewayCommand>();
}
