#include "linkoptions.h"

#include "command.h"
#include "serialsettings.h"

#include <limits>

namespace {

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

QCommandLineOption LinkOptions::pluginOption()
{
    return Command::valueOption("plugin",
                       "The driver plugin file. Default: the installed one (the program of "
                       "a build tree takes its own tree's plugin first).",
                       "PATH");
}

QString LinkOptions::environmentNotes()
{
    return QStringLiteral(
        "Environment (an option given on the command line wins; empty counts as unset):\n"
        "  LUSTBUS_PORT      serial port, as --port\n"
        "  LUSTBUS_TCP       HOST:PORT of a TCP serial server, as --tcp\n"
        "  LUSTBUS_SETTINGS  serial line, as --settings\n"
        "  LUSTBUS_STATION   station id, as --station\n"
        "  LUSTBUS_CATALOGUE parameter catalogue, as --catalogue (read, write, watch,\n"
        "                    list, backup, restore, diff, simulate)\n");
}

QString LinkOptions::noLinkError()
{
    return QStringLiteral("no link given: name one with --port DEVICE (a serial port), --tcp "
                          "HOST:PORT (a TCP serial server) or --sim (the built-in simulated "
                          "servo), or set LUSTBUS_PORT or LUSTBUS_TCP");
}

QList<QCommandLineOption> LinkOptions::options(int uses)
{
    const QList<QCommandLineOption> all = {
        Command::valueOption("port",
                    "Serial port of the bus, best by the name that stays with the adapter, "
                    "/dev/serial/by-id/..., else e.g. /dev/ttyUSB0 (the line as --settings "
                    "says). Default: $LUSTBUS_PORT.",
                    "DEVICE"),
        Command::valueOption("tcp",
                    "TCP serial device server that passes the bytes to the bus. Default: "
                    "$LUSTBUS_TCP.",
                    "HOST:PORT"),
        QCommandLineOption(QStringLiteral("sim"),
                           QStringLiteral("The built-in simulated servo (the catalogue's "
                                          "parameters, else the default table) on a "
                                          "pseudo-terminal, reached through the serial link. "
                                          "One of --port, --tcp and --sim is needed.")),
        Command::valueOption("settings",
                    "Serial line: interface,baud,parity,data bits,stop bits. Default: "
                    "$LUSTBUS_SETTINGS, else the driver's \"RS485,57600,EVEN,7,1\" (on a "
                    "pseudo-terminal at 8 data bits without parity).",
                    "TEXT"),
        Command::valueOption("station",
                    "Station id of the servo, 0 to 63. Default: $LUSTBUS_STATION, else the "
                    "driver's (1).",
                    "N"),
        Command::valueOption("timeout", "How long to wait for a reply. Default: the driver's (500).",
                    "MS"),
        Command::valueOption("retries",
                    "How often a failed request is repeated. Default: the driver's (3).", "N"),
        Command::valueOption("delay", "Pause before every attempt. Default: the driver's (0).", "MS"),
        Command::valueOption("inter-byte-timeout",
                    "Longest gap between two bytes of one reply; a reply that stalls longer "
                    "ends there. 0 turns the limit off. Default: 4 character times of the "
                    "line but at least 20 ms (serial), 100 ms (TCP).",
                    "MS"),
        QCommandLineOption(QStringLiteral("echo"),
                           QStringLiteral("The adapter hears its own transmission (2-wire "
                                          "RS485): read back the echo of every telegram, "
                                          "check it and drop it.")),
        QCommandLineOption(QStringLiteral("rs485"),
                           QStringLiteral("Switches the serial port into the kernel's RS485 "
                                          "mode: RTS drives the transmitter while a telegram "
                                          "is sent, for adapters whose kernel driver switches "
                                          "the line direction. --port only.")),
        Command::valueOption("rts-delay-before",
                    "With --rs485: RTS on this long before the first byte, 0 to 100. "
                    "Default: 0.",
                    "MS"),
        Command::valueOption("rts-delay-after",
                    "With --rs485: RTS held on this long after the last byte, 0 to 100. "
                    "Default: 0.",
                    "MS"),
        Command::valueOption("reconnect-interval",
                    "When the device goes away (adapter unplugged, server gone), reopen it "
                    "on the next request, reopens at least this far apart; a request "
                    "meanwhile waits for the next one, at most its time-out. A serial port "
                    "is used again only if the same device is there. 0: never reopen. "
                    "Default: 1000.",
                    "MS"),
        QCommandLineOption(QStringLiteral("keep-trying"),
                           QStringLiteral("Keeps sending every request to a station that left "
                                          "two requests in a row without a response; by "
                                          "default the rest are not sent (\"not tried: "
                                          "station N does not answer\").")),
        QCommandLineOption(QStringLiteral("trace"),
                           QStringLiteral("Shows every telegram sent and received on stderr.")),
        QCommandLineOption(QStringLiteral("stats"),
                           QStringLiteral("Prints per-station link statistics at the end: on "
                                          "stderr, or with --json in the JSON output.")),
        pluginOption(),
    };
    QList<QCommandLineOption> offered;
    for (const QCommandLineOption &option : all) {
        const QString name = option.names().constFirst();
        const int use = name == QLatin1String("station") ? Station
            : name == QLatin1String("retries") || name == QLatin1String("delay") ? Attempts
            : name == QLatin1String("stats") ? Statistics
            : name == QLatin1String("keep-trying") ? KeepTrying
                                               : 0;
        if ((use & uses) == use)
            offered.append(option);
    }
    return offered;
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
    auto source = [&](const char *option, const char *variable) {
        return setting(parser, environment, option, variable);
    };

    const bool simulator = parser.isSet(QStringLiteral("sim"));
    const bool serialOption = parser.isSet(QStringLiteral("port"));
    const bool tcpOption = parser.isSet(QStringLiteral("tcp"));
    if (int(simulator) + int(serialOption) + int(tcpOption) > 1) {
        *error = QStringLiteral("--port, --tcp and --sim each name a link; give one of them");
        return false;
    }
    Setting serial = source("port", "LUSTBUS_PORT");
    Setting tcp = source("tcp", "LUSTBUS_TCP");
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
        o.target = Simulator;
    } else if (serial.given()) {
        o.target = Serial;
        o.device = serial.text;
    } else if (tcp.given()) {
        o.target = Tcp;
        if (!parseEndpoint(tcp.text, false, &o.host, &o.port, error)) {
            error->prepend(tcp.source + QStringLiteral(": "));
            return false;
        }
    }
    if (o.target == Serial && o.device.isEmpty()) {
        *error = QStringLiteral("bad --port '': expected a device such as /dev/ttyUSB0");
        return false;
    }

    const Setting settings = source("settings", "LUSTBUS_SETTINGS");
    o.settingsGiven = settings.given();
    o.settingsText = settings.text;
    SerialSettings line;
    QString settingsError;
    if (o.settingsGiven && !SerialSettings::parse(o.settingsText, &line, &settingsError)) {
        *error = QStringLiteral("bad %1 '%2': %3").arg(settings.source, o.settingsText, settingsError);
        return false;
    }
    if (uses & Station) {
        const Setting station = source("station", "LUSTBUS_STATION");
        qint64 number = 0;
        o.stationGiven = station.given();
        if (o.stationGiven) {
            if (!Command::wholeNumber(station.source, station.text, 0, 63, &number, error))
                return false;
            o.protocol.stationid = qint32(number);
        }
    }
    const qint32 max = std::numeric_limits<qint32>::max();
    if (!parseNumber(parser, "timeout", 0, max, &o.protocol.timeout, &o.timeoutGiven, error))
        return false;
    if ((uses & Attempts)
        && (!parseNumber(parser, "retries", 0, 100, &o.protocol.retry, &o.retriesGiven, error)
            || !parseNumber(parser, "delay", 0, 60000, &o.protocol.delay, &o.delayGiven, error)))
        return false;
    if (!parseNumber(parser, "inter-byte-timeout", 0, 60000, &o.interByteTimeoutMs, nullptr,
                     error)
        || !parseNumber(parser, "reconnect-interval", 0, 3600000, &o.reconnectIntervalMs,
                        nullptr, error))
        return false;
    // The kernel keeps RTS delays to 100 ms.
    o.rs485 = parser.isSet(QStringLiteral("rs485"));
    for (const char *delay : {"rts-delay-before", "rts-delay-after"}) {
        if (parser.isSet(QString::fromLatin1(delay)) && !o.rs485) {
            *error = QStringLiteral("--%1 needs --rs485").arg(QLatin1String(delay));
            return false;
        }
    }
    if (!parseNumber(parser, "rts-delay-before", 0, 100, &o.rtsDelayBeforeMs, nullptr, error)
        || !parseNumber(parser, "rts-delay-after", 0, 100, &o.rtsDelayAfterMs, nullptr, error))
        return false;
    if (o.rs485 && o.target != Serial && o.target != NoLink) {
        *error = QStringLiteral("--rs485 switches a serial port: give --port DEVICE, not %1")
                     .arg(o.target == Tcp ? tcp.source : QStringLiteral("--sim"));
        return false;
    }
    o.localEcho = parser.isSet(QStringLiteral("echo"));
    o.trace = parser.isSet(QStringLiteral("trace"));
    o.stats = (uses & Statistics) && parser.isSet(QStringLiteral("stats"));
    o.keepTrying = !(uses & KeepTrying) || parser.isSet(QStringLiteral("keep-trying"));
    o.pluginPath = parser.value(QStringLiteral("plugin"));
    *options = o;
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
