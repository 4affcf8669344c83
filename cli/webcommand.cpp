// lustbus web: the bus in a browser, served by lustbus itself until SIGINT or SIGTERM
// (see web/webbus.h and web/webserver.h).
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkbusaccess.h"
#include "linkcommand.h"
#include "linkdiagnostics.h"
#include "options.h"
#include "webbus.h"
#include "webserver.h"
#include "webusers.h"

#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>
#include <QtNetwork/QHostAddress>

#include <csignal>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace {

const char Description[] =
    "Serves a page for commissioning the drives of the bus (--port, --tcp or --sim)\n"
    "in a browser: the bus and its per-station statistics, a scan, the catalogue's\n"
    "parameters (--catalogue FILE) with live values, values edited in place, a trend\n"
    "of up to 8 parameters with a CSV recording, backups, restores with a preview of\n"
    "the differences, comparisons of parameter sets, and the last telegrams. Every\n"
    "file of the page is built into lustbus: nothing is fetched from elsewhere. The\n"
    "first line on stdout is the page's URL: lustbus web: http://127.0.0.1:8080/.\n"
    "\n"
    "The bus has one owner, lustbus's main thread; the page's requests wait for it\n"
    "in three lanes served in turn, one request each: the table, the trend and\n"
    "actions (writes, reads, scans, backups, restores). Over --tcp to lustbus gateway\n"
    "it shares the bus with other programs.\n"
    "\n"
    "Writes are off unless --writes, which needs a catalogue that identifies a drive\n"
    "(as bridge --allow-writes): a write goes only to the drive identified at its\n"
    "station, read again once the link was reopened; a silent station is not written\n"
    "to; a value is checked against type, count, range and access before anything is\n"
    "sent. A write ends done, refused or unknown, an unknown one settled by reading it\n"
    "back where it can be. Every write is logged on stderr: \"write by USER: station\n"
    "N NAME OLD -> NEW: OUTCOME\" (USER - without a login).\n"
    "\n"
    "Security: lustbus web listens on loopback (127.0.0.1:8080) unless --listen names\n"
    "another address; one that is not loopback is refused without --users, unless\n"
    "--insecure. With --users FILE the page asks for a login: a viewer reads, trends\n"
    "and downloads, an operator also writes and restores. The session cookie is\n"
    "HttpOnly and SameSite=Strict (and Secure with TLS); every POST carries the\n"
    "session's anti-CSRF token; JSON bodies take at most 64 KiB, parameter sets 1 MiB;\n"
    "at most 8 live streams at once. --tls-cert and --tls-key serve HTTPS.";

const char Notes[] =
    "Users file: one line per user, NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH\n"
    "(PBKDF2 with SHA-256, 16-byte salt, base64); lines starting with # are comments.\n"
    "lustbus web --add-user NAME --role viewer|operator --users FILE reads the password\n"
    "from the first line of stdin (not echoed on a terminal) and writes or replaces\n"
    "the user's line; the file is readable by its owner only.\n"
    "\n"
    "Link: --port DEVICE for a serial port, --tcp HOST:PORT for a TCP serial server\n"
    "(the gateway, for instance) or --sim for the built-in simulated servo; one of\n"
    "them is needed. --station, repeatable, names the stations served (default the\n"
    "driver's, 1). --trace also prints the telegrams on stderr.\n"
    "\n"
    "Environment: LUSTBUS_PORT, LUSTBUS_TCP, LUSTBUS_SETTINGS, LUSTBUS_STATION and\n"
    "LUSTBUS_CATALOGUE stand for --port, --tcp, --settings, --station and\n"
    "--catalogue where those are not given (empty counts as unset).\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM (and after --add-user), 2 a usage error,\n"
    "3 the plugin did not load, the link did not open or the address could not be\n"
    "listened on, 4 the output could not be written.\n"
    "\n"
    "Examples:\n"
    "  lustbus web --sim\n"
    "  lustbus web --sim --catalogue catalogues/sample.json --writes\n"
    "  lustbus web --add-user anna --role operator --users web.users\n"
    "  lustbus web --tcp 127.0.0.1:5020 --catalogue cde.json --listen 0.0.0.0:8443 \\\n"
    "      --users web.users --tls-cert web.crt --tls-key web.key --writes\n";

// The first line of stdin, without echo on a terminal.
QByteArray readPassword()
{
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        Console::err() << "password: " << Qt::flush;
    }
    QByteArray line;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
        line.append(char(c));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        Console::err() << Qt::endl;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

class WebCommand : public LinkCommand
{
public:
    WebCommand()
        : LinkCommand({"web", "serves a page for commissioning drives in a browser", Description,
                       Notes, {}})
    {
    }

    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // Silent stations are the bus owner's to pace.
    int linkUses() const override { return LinkOptions::AllUses & ~LinkOptions::KeepTrying; }

private:
    int addUser(const QCommandLineParser &parser);
    // --listen, --users, --insecure, --writes and TLS; false with the usage error.
    bool readWebOptions(const QCommandLineParser &parser, QString *error);
    QString linkName() const;

    QString m_host = QStringLiteral("127.0.0.1");
    quint16 m_port = 8080;
    QList<int> m_stations;
    WebUsers m_users;
    WebServer::Settings m_server;
};

QList<QCommandLineOption> WebCommand::options() const
{
    return QList<QCommandLineOption>{
               CatalogueOption::option(),
               Options::value("listen", "Where the page is served (default 127.0.0.1:8080; "
                                        "port 0: any free one).",
                              "ADDR:PORT"),
               Options::flag("writes", "Takes writes and restores from the page, for "
                                       "identified drives. Off by default."),
               Options::value("users", "Asks for a login with the users of FILE (see below).",
                              "FILE"),
               Options::flag("insecure", "Listens on an address other than loopback without "
                                         "--users."),
               Options::value("tls-cert", "Serves HTTPS with the certificate (PEM) of FILE.",
                              "FILE"),
               Options::value("tls-key", "The private key (PEM) of --tls-cert.", "FILE"),
               Options::value("add-user", "Writes NAME's line to --users FILE with --role and "
                                          "the password from stdin, and ends.",
                              "NAME"),
               Options::value("role", "The role of --add-user: viewer or operator.",
                              "viewer|operator"),
           }
           + LinkOptions::options(
               linkUses(),
               {{"station", "A station to serve, 0 to 63; repeatable. Default: "
                            "$LUSTBUS_STATION, else the driver's (1)."},
                {"stats", "Prints per-station link statistics on stderr at the end (the page "
                          "shows them all along)."}});
}

int WebCommand::addUser(const QCommandLineParser &parser)
{
    const QString name = parser.value(QStringLiteral("add-user"));
    const QString path = parser.value(QStringLiteral("users"));
    const WebSessions::Role role = WebSessions::roleFromName(parser.value(QStringLiteral("role")));
    if (!WebUsers::isName(name))
        return usageError(QStringLiteral("bad --add-user '%1': a name is 1 to 64 of A-Z a-z "
                                         "0-9 _ . -")
                              .arg(name));
    if (role == WebSessions::Role::None)
        return usageError(QStringLiteral("--add-user needs --role viewer or --role operator"));
    if (path.isEmpty())
        return usageError(QStringLiteral("--add-user needs --users FILE"));
    const QByteArray password = readPassword();
    if (password.isEmpty())
        return usageError(QStringLiteral("no password on stdin"));
    QString error;
    if (!WebUsers::addUser(path, name, role, password, &error))
        return failure(ExitEnvironment, error);
    Console::err() << "lustbus web: user " << name << " (" << WebSessions::roleName(role)
                   << ") written to " << path << Qt::endl;
    return ExitSuccess;
}

bool WebCommand::readWebOptions(const QCommandLineParser &parser, QString *error)
{
    if (parser.isSet(QStringLiteral("listen"))
        && !LinkOptions::parseEndpoint(parser.value(QStringLiteral("listen")), false, &m_host,
                                       &m_port, error, true)) {
        error->prepend(QStringLiteral("--listen: "));
        return false;
    }
    const QString users = parser.value(QStringLiteral("users"));
    if (!users.isEmpty() && !WebUsers::load(users, &m_users, error))
        return false;
    if (!users.isEmpty())
        m_server.users = &m_users;
    const QHostAddress address(m_host);
    const bool loopback = m_host == QLatin1String("localhost") || address.isLoopback();
    if (!loopback && users.isEmpty() && !parser.isSet(QStringLiteral("insecure"))) {
        *error = QStringLiteral("--listen %1 is not loopback: give --users FILE so that the "
                                "page asks for a login (or --insecure to serve it to anyone "
                                "who reaches %1)")
                     .arg(m_host);
        return false;
    }
    m_server.tlsCert = parser.value(QStringLiteral("tls-cert"));
    m_server.tlsKey = parser.value(QStringLiteral("tls-key"));
    if (m_server.tlsCert.isEmpty() != m_server.tlsKey.isEmpty()) {
        *error = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    for (const QString &file : {m_server.tlsCert, m_server.tlsKey}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            *error = QStringLiteral("cannot read %1").arg(file);
            return false;
        }
    }
    m_server.writes = parser.isSet(QStringLiteral("writes"));
    if (m_server.writes && !m_hasCatalogue) {
        *error = QStringLiteral("--writes needs a catalogue (--catalogue FILE) that identifies "
                                "a drive: lustbus web writes only to drives it identified");
        return false;
    }
    if (m_server.writes && DriveIdentity::entries(m_catalogue).isEmpty()) {
        *error = DriveIdentity::noEntriesText(m_catalogue)
                 + QStringLiteral(": with --writes lustbus web would write to drives it cannot "
                                  "identify");
        return false;
    }
    return stationIds(parser, &m_stations, error);
}

QString WebCommand::linkName() const
{
    // The page names the link as messages do; the simulator's pseudo-terminal is no
    // device a user chose, so it is named as the simulator first.
    const QString description = m_factory.description();
    return m_options.target == LinkOptions::Simulator
               ? QStringLiteral("sim, on ") + description
               : description;
}

int WebCommand::run(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("add-user")))
        return addUser(parser);
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readCatalogue(parser, false, &status))
        return status;
    QString error;
    if (!readWebOptions(parser, &error))
        return usageError(error);
    // The page shows the link's statistics all along.
    m_options.stats = true;
    WebBus *owner = nullptr;
    const bool trace = m_options.trace;
    m_factory.setTraceSink([&owner, trace](const QString &line) {
        if (owner)
            owner->addTraceLine(line);
        if (trace)
            Console::err() << line << Qt::endl;
    });
    if (!openLink(&status))
        return status;
    if (m_stations.isEmpty())
        m_stations.append(m_options.protocol.stationid);

    QEventLoop loop;
    LinkBusAccess access(driver(), link(), m_factory.streamLink(), m_options.protocol,
                         m_catalogue.fileName(), requestHook());
    access.setGuard(&requestGuard());
    WebBus bus(catalogue(), access, {m_stations, linkName(), m_factory.description()},
               m_factory.diagnostics());
    owner = &bus;
    bus.setLog([](const QString &line) { Console::err() << "lustbus web: " << line << Qt::endl; });
    WebServer server(bus, m_server);
    if (!server.listen(m_host, m_port, &error))
        return failure(ExitEnvironment, error);
    const QString host = m_host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_host + QLatin1Char(']')
                                                           : m_host;
    Console::out() << "lustbus web: " << (m_server.tlsCert.isEmpty() ? "http" : "https") << "://"
                   << host << ':' << server.port() << '/' << Qt::endl;
    if (Console::writeError() != 0)
        return writeFailure();
    // A client gone mid-answer is the server's to notice, not a signal to end.
    std::signal(SIGPIPE, SIG_IGN);
    QObject::connect(&bus, &WebBus::ended, &loop, &QEventLoop::quit);
    onInterrupt(m_stop->interrupt(), &loop, [&loop] { loop.quit(); });
    bus.start();
    server.start();
    loop.exec();
    bus.stop();
    server.stop();
    owner = nullptr;
    Console::err() << "lustbus web: stopped" << Qt::endl;
    if (Options::Stats.isSet(parser))
        printStatistics();
    return ExitSuccess;
}

} // namespace

std::unique_ptr<Command> Commands::web()
{
    return std::make_unique<WebCommand>();
}
