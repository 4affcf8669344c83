#include "linkoptions.h"

#include "command.h"
#include "options.h"
#include "serialsettings.h"

#include <limits>

namespace {

// The link options in the order of the help, and which use of a command each needs.
struct LinkOption
{
    const char *name;
    const char *valueName; //!< nullptr: a switch
    int use;               //!< 0: every command with a link takes it
    const char *description;
};

const LinkOption LinkOptionTable[] = {
    {"port", "DEVICE", 0,
     "Serial port of the bus, best by the name that stays with the adapter, "
     "/dev/serial/by-id/..., else e.g. /dev/ttyUSB0 (the line as --settings says). Default: "
     "$LUSTBUS_PORT."},
    {"tcp", "HOST:PORT", 0,
     "TCP serial device server that passes the bytes to the bus. Default: $LUSTBUS_TCP."},
    {"sim", nullptr, 0,
     "The built-in simulated servo (the catalogue's parameters, else the default table) on a "
     "pseudo-terminal, reached through the serial link. One of --port, --tcp and --sim is "
     "needed."},
    {"settings", "TEXT", 0,
     "Serial line: interface,baud,parity,data bits,stop bits. Default: $LUSTBUS_SETTINGS, "
     "else the driver's \"RS485,57600,EVEN,7,1\" (on a pseudo-terminal at 8 data bits "
     "without parity)."},
    {"station", "N", LinkOptions::Station,
     "Station id of the servo, 0 to 63. Default: $LUSTBUS_STATION, else the driver's (1)."},
    {"timeout", "MS", 0, "How long to wait for a reply. Default: the driver's (500)."},
    {"retries", "N", LinkOptions::Attempts,
     "How often a failed request is repeated. Default: the driver's (3)."},
    {"delay", "MS", LinkOptions::Attempts, "Pause before every attempt. Default: the driver's (0)."},
    {"inter-byte-timeout", "MS", 0,
     "Longest gap between two bytes of one reply; a reply that stalls longer ends there. 0 "
     "turns the limit off. Default: 4 character times of the line but at least 20 ms "
     "(serial), 100 ms (TCP)."},
    {"echo", nullptr, 0,
     "The adapter hears its own transmission (2-wire RS485): read back the echo of every "
     "telegram, check it and drop it."},
    {"rs485", nullptr, 0,
     "Switches the serial port into the kernel's RS485 mode: RTS drives the transmitter "
     "while a telegram is sent, for adapters whose kernel driver switches the line "
     "direction. --port only."},
    {"rts-delay-before", "MS", 0,
     "With --rs485: RTS on this long before the first byte, 0 to 100. Default: 0."},
    {"rts-delay-after", "MS", 0,
     "With --rs485: RTS held on this long after the last byte, 0 to 100. Default: 0."},
    {"reconnect-interval", "MS", 0,
     "When the device goes away (adapter unplugged, server gone), reopen it on the next "
     "request, reopens at least this far apart; a request meanwhile waits for the next one, "
     "at most its time-out. A serial port is used again only if the same device is there. "
     "0: never reopen. Default: 1000."},
    {"keep-trying", nullptr, LinkOptions::KeepTrying,
     "Keeps sending every request to a station that left two requests in a row without a "
     "response; by default the rest are not sent (\"not tried: station N does not "
     "answer\")."},
    {"trace", nullptr, 0, "Shows every telegram sent and received on stderr."},
    {"stats", nullptr, LinkOptions::Statistics,
     "Prints per-station link statistics at the end: on stderr, or with --json in the JSON "
     "output."},
};

// *given, when given, says whether the option was on the command line at all.
bool parseNumber(const QCommandLineParser &parser, const char *name, qint32 min, qint32 max,
                 qint32 *value, bool *given, QString *error)
{
    qint64 number = *value;
    if (given)
        *given = parser.isSet(QString::fromLatin1(name));
    if (!Command::wholeNumberOption(parser, name, min, max, &number, error))
        return false;
    *value = qint32(number);
    return true;
}

} // namespace

QString LinkOptions::noLinkError()
{
    return QStringLiteral("no link given: name one with --port DEVICE (a serial port), --tcp "
                          "HOST:PORT (a TCP serial server) or --sim (the built-in simulated "
                          "servo), or set LUSTBUS_PORT or LUSTBUS_TCP");
}

QList<QCommandLineOption> LinkOptions::options(int uses, std::initializer_list<Retold> retold)
{
    QList<QCommandLineOption> offered;
    for (const LinkOption &row : LinkOptionTable) {
        if ((row.use & uses) != row.use)
            continue;
        QCommandLineOption option = OptionName(row.name, row.valueName).with(QString::fromLatin1(row.description));
        for (const Retold &own : retold) {
            if (qstrcmp(own.name, row.name) != 0)
                continue;
            if (own.description)
                option.setDescription(QString::fromLatin1(own.description));
            else
                option.setFlags(QCommandLineOption::HiddenFromHelp);
        }
        offered.append(option);
    }
    return offered << Options::plugin();
}

LinkOptions::Setting LinkOptions::setting(const QCommandLineParser &parser,
                                          const QProcessEnvironment &environment,
                                          const char *option, const char *variable)
{
    const QString name = QString::fromLatin1(option);
    if (parser.isSet(name))
        return Setting{QStringLiteral("--") + name, parser.value(name)};
    const QString value = environment.value(QString::fromLatin1(variable));
    return value.isEmpty() ? Setting() : Setting{QString::fromLatin1(variable), value};
}

bool LinkOptions::parseEndpoint(const QString &text, bool hostOptional, QString *host,
                                quint16 *port, QString *error, bool portZero)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString hostText = colon < 0 ? QString() : text.left(colon);
    const QString portText = colon < 0 ? text : text.mid(colon + 1);
    if (hostText.startsWith(QLatin1Char('[')) && hostText.endsWith(QLatin1Char(']')))
        hostText = hostText.mid(1, hostText.size() - 2); // [::1]:5000
    bool ok = false;
    const uint number = portText.toUInt(&ok, 10);
    if ((colon < 0 && !hostOptional) || (colon >= 0 && hostText.isEmpty()) || !ok
        || (number == 0 && !portZero) || number > 65535) {
        *error = QStringLiteral("bad endpoint '%1': expected %2 with a port from %3 to 65535")
                     .arg(text,
                          hostOptional ? QStringLiteral("[HOST:]PORT") : QStringLiteral("HOST:PORT"),
                          portZero ? QStringLiteral("0 (any free one)") : QStringLiteral("1"));
        return false;
    }
    *host = hostText.isEmpty() ? QStringLiteral("127.0.0.1") : hostText;
    *port = quint16(number);
    return true;
}

bool LinkOptions::fromParser(const QCommandLineParser &parser,
                             const QProcessEnvironment &environment, int uses,
                             LinkOptions *options, QString *error)
{
    LinkOptions o;
    if (!o.readTarget(parser, environment, error) || !o.readLine(parser, environment, uses, error)
        || !o.readNumbers(parser, uses, error))
        return false;
    o.localEcho = parser.isSet(QStringLiteral("echo"));
    o.trace = parser.isSet(QStringLiteral("trace"));
    o.stats = (uses & Statistics) && Options::Stats.isSet(parser);
    o.keepTrying = !(uses & KeepTrying) || parser.isSet(QStringLiteral("keep-trying"));
    o.pluginPath = Options::Plugin.value(parser);
    *options = o;
    return true;
}

bool LinkOptions::readTarget(const QCommandLineParser &parser,
                             const QProcessEnvironment &environment, QString *error)
{
    const bool simulator = parser.isSet(QStringLiteral("sim"));
    const bool serialOption = parser.isSet(QStringLiteral("port"));
    const bool tcpOption = parser.isSet(QStringLiteral("tcp"));
    if (int(simulator) + int(serialOption) + int(tcpOption) > 1) {
        *error = QStringLiteral("--port, --tcp and --sim each name a link; give one of them");
        return false;
    }
    Setting serial = setting(parser, environment, "port", "LUSTBUS_PORT");
    Setting tcp = setting(parser, environment, "tcp", "LUSTBUS_TCP");
    if (simulator || serialOption || tcpOption) {
        // An option overrides both variables.
        if (!serialOption)
            serial = Setting();
        if (!tcpOption)
            tcp = Setting();
    } else if (serial.given() && tcp.given()) {
        *error = QStringLiteral("LUSTBUS_PORT and LUSTBUS_TCP each name a link; unset one, or "
                                "give --port, --tcp or --sim");
        return false;
    }
    if (simulator) {
        target = Simulator;
    } else if (serial.given()) {
        target = Serial;
        device = serial.text;
    } else if (tcp.given()) {
        target = Tcp;
        if (!parseEndpoint(tcp.text, false, &host, &port, error)) {
            error->prepend(tcp.source + QStringLiteral(": "));
            return false;
        }
    }
    if (target == Serial && device.isEmpty()) {
        *error = QStringLiteral("bad --port '': expected a device such as /dev/ttyUSB0");
        return false;
    }
    return true;
}

bool LinkOptions::readLine(const QCommandLineParser &parser,
                           const QProcessEnvironment &environment, int uses, QString *error)
{
    const Setting settings = setting(parser, environment, "settings", "LUSTBUS_SETTINGS");
    settingsGiven = settings.given();
    settingsText = settings.text;
    SerialSettings line;
    QString settingsError;
    if (settingsGiven && !SerialSettings::parse(settingsText, &line, &settingsError)) {
        *error = QStringLiteral("bad %1 '%2': %3").arg(settings.source, settingsText, settingsError);
        return false;
    }
    if (!(uses & Station))
        return true;
    const Setting station = setting(parser, environment, "station", "LUSTBUS_STATION");
    stationGiven = station.given();
    return !stationGiven
           || Command::stationId(station.source, station.text, &protocol.stationid, error);
}

bool LinkOptions::readNumbers(const QCommandLineParser &parser, int uses, QString *error)
{
    const qint32 max = std::numeric_limits<qint32>::max();
    if (!parseNumber(parser, "timeout", 0, max, &protocol.timeout, &timeoutGiven, error))
        return false;
    if ((uses & Attempts)
        && (!parseNumber(parser, "retries", 0, 100, &protocol.retry, &retriesGiven, error)
            || !parseNumber(parser, "delay", 0, 60000, &protocol.delay, &delayGiven, error)))
        return false;
    if (!parseNumber(parser, "inter-byte-timeout", 0, 60000, &interByteTimeoutMs, nullptr, error)
        || !parseNumber(parser, "reconnect-interval", 0, 3600000, &reconnectIntervalMs, nullptr,
                        error))
        return false;
    // The kernel keeps RTS delays to 100 ms.
    rs485 = parser.isSet(QStringLiteral("rs485"));
    for (const char *delay : {"rts-delay-before", "rts-delay-after"}) {
        if (parser.isSet(QString::fromLatin1(delay)) && !rs485) {
            *error = QStringLiteral("--%1 needs --rs485").arg(QLatin1String(delay));
            return false;
        }
    }
    if (!parseNumber(parser, "rts-delay-before", 0, 100, &rtsDelayBeforeMs, nullptr, error)
        || !parseNumber(parser, "rts-delay-after", 0, 100, &rtsDelayAfterMs, nullptr, error))
        return false;
    if (rs485 && target != Serial && target != NoLink) {
        const bool tcpOption = parser.isSet(QStringLiteral("tcp"));
        *error = QStringLiteral("--rs485 switches a serial port: give --port DEVICE, not %1")
                     .arg(target == Simulator ? QStringLiteral("--sim")
                          : tcpOption         ? QStringLiteral("--tcp")
                                              : QStringLiteral("LUSTBUS_TCP"));
        return false;
    }
    return true;
}

void LinkOptions::applyDefaults(const ProtocolSettings &driverDefaults, const QString &driverText)
{
    if (!settingsGiven)
        settingsText = driverText;
    if (!stationGiven)
        protocol.stationid = driverDefaults.stationid;
    if (!timeoutGiven)
        protocol.timeout = driverDefaults.timeout;
    if (!retriesGiven)
        protocol.retry = driverDefaults.retry;
    if (!delayGiven)
        protocol.delay = driverDefaults.delay;
}
