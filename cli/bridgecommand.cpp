// lustbus bridge: a bus's catalogue parameters on an MQTT broker, polled by group and
// written from it when allowed, until SIGINT or SIGTERM (see bridge/bridge.h).
#include "bridge.h"
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "homeassistantdiscovery.h"
#include "linkbusaccess.h"
#include "linkcommand.h"
#include "linkinterrupt.h"
#include "lustbusversion.h"
#include "mqttclient.h"
#include "options.h"
#include "sparkplugnode.h"

#include <QtCore/QEventLoop>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <memory>

using LustBus::CatalogueEntry;

namespace {

constexpr quint16 DefaultBrokerPort = 1883;
constexpr quint16 DefaultTlsBrokerPort = 8883;

const char Description[] =
    "Reads the parameters of the catalogue (--catalogue FILE) from every --station\n"
    "of the bus (--port, --tcp or --sim), group by group at each --poll group's\n"
    "interval, and publishes them, retained, on the MQTT broker of --broker:\n"
    "\n"
    "  PREFIX/BUS/STATION/NAME    {\"value\": ..., \"unit\": \"...\", \"ts\": \"...\", \"ok\": true}\n"
    "                             or {\"ok\": false, \"error\": \"...\", \"ts\": \"...\"}\n"
    "  PREFIX/BUS/STATION/status  online; silent: the station does not answer; not\n"
    "                             identified: its identity could not be read; another\n"
    "                             drive: not the one first identified there\n"
    "  PREFIX/BUS/STATION/identity {\"NAME\": value, ...}: the identity of the drive\n"
    "                             first read there\n"
    "  PREFIX/BUS/status          online; bus lost: the link failed (device gone,\n"
    "                             connection closed); offline (also the will)\n"
    "  PREFIX/BUS/stats           counters of the bridge and the link, every minute\n"
    "                             (--stats-interval)\n"
    "\n"
    "A value is published when it changes and at least every --heartbeat seconds;\n"
    "arrays as JSON lists, STRING as text, FIXPT16 and INT32Q16 as decimals. With\n"
    "--allow-writes a JSON value on PREFIX/BUS/STATION/NAME/set is written to an \"rw\"\n"
    "parameter inside its range, before the next poll. The result goes to\n"
    "PREFIX/BUS/STATION/NAME/result, or to an MQTT 5 request's response topic with its\n"
    "correlation data: {\"ok\": true, \"outcome\": \"done\", \"value\": ...} with the value\n"
    "read back, or {\"ok\": false, \"outcome\": \"refused\" or \"unknown\", \"error\": ...}.\n"
    "Refused: not carried out, by a check before sending or by the servo; unknown: the\n"
    "request went out and no valid reply came, so the servo may hold the new value.\n"
    "Such a write is read back: the new value makes it done (\"confirmed by read\n"
    "back\"), another value refused; if that read fails too it stays unknown.\n"
    "\n"
    "Writes go only to the drive identified at a station: by the catalogue's\n"
    "\"identity\": true entries or, without any, its read-only simple parameters (with\n"
    "--allow-writes a catalogue must name one or the other). The identity is read\n"
    "when the station first answers, and again after the link was reopened, the bus\n"
    "came back or the station answered after being silent, before the next write.\n"
    "Until it reads as before, writes to it are refused; once another drive answers\n"
    "there, no write goes to it until the bridge is started anew. The refusal names\n"
    "the station, the link and both identities. Its values are published all the\n"
    "same: they are what the bus holds.\n"
    "\n"
    "The bridge acts only on what it was asked for now. HMIs publish set messages\n"
    "without retain: a retained one (which the broker would hand out again at every\n"
    "reconnect) is refused. A response topic must lie under --reply-prefix\n"
    "(PREFIX/replies by default); a request naming another is refused and its result\n"
    "goes to .../result. A refused write sends nothing on the bus; so does one that\n"
    "finds 256 writes waiting for the bus already.\n"
    "\n"
    "A station whose two requests in a row get no response is silent: its values say\n"
    "\"not tried: station N does not answer\", writes to it are refused, and it is\n"
    "asked once (without retries) after 1 s, then at doubling intervals up to 16 s,\n"
    "until it answers. So other stations keep their pace, and their writes wait for\n"
    "one --timeout at most. QoS 1 may deliver a write twice: a duplicate of a request\n"
    "with correlation data is answered, not written again, and so is a request that\n"
    "repeats the last write to a parameter within 10 s while the servo still holds\n"
    "that value. To write the same value again at once, give each request its own\n"
    "correlation data.\n"
    "\n"
    "--sparkplug GROUP/EDGE_NODE makes the bus a Sparkplug B edge node beside the\n"
    "JSON topics, on a second connection to the same broker (client id ID-sparkplug):\n"
    "spBv1.0/GROUP/NBIRTH|NDATA|NDEATH/EDGE_NODE for the bus (bdSeq, \"Node\n"
    "Control/Rebirth\", \"Bus/State\", \"Bus/Requests\", ...) and\n"
    "spBv1.0/GROUP/DBIRTH|DDATA|DDEATH/EDGE_NODE/DEVICE for each station (its number,\n"
    "or the name of --sparkplug-device), one metric per polled parameter by its\n"
    "catalogue name, with engUnit, engLow, engHigh, readOnly and the alias\n"
    "STATION*65536+NUMBER. NDEATH is the will and goes out on a clean stop. bdSeq\n"
    "goes up with every session, also over a restart (--sparkplug-state). A DCMD's\n"
    "metrics are writes with the checks of a set message; with --primary-host the\n"
    "node publishes only while that host's STATE says online.\n"
    "\n"
    "With --discovery the parameters also announce themselves to Home Assistant:\n"
    "a retained config on DPREFIX/COMPONENT/NODE_ID/STATION_NAME/config\n"
    "(--discovery-prefix, homeassistant by default) for each polled simple\n"
    "parameter of each station, once its drive is identified: a sensor, or with\n"
    "--allow-writes a number that writes through .../NAME/set; each bit that the\n"
    "catalogue names (\"bits\") a binary_sensor, or a switch that writes through\n"
    "PREFIX/BUS/STATION/NAME/BIT/set (the word read, the bit changed, written with\n"
    "the checks of any set message). Arrays get no entity. One device per station;\n"
    "an entity is available while the bus and its station say online. The configs\n"
    "go out again after a reconnect and when DPREFIX/status says online; those of\n"
    "this bridge that a run no longer publishes are emptied.";

const char Notes[] =
    "The first line on stdout names the bus, the broker and the topics. The broker\n"
    "connection is kept by a thread of its own and comes back after a loss (after\n"
    "1 s, doubling up to 30 s); meanwhile the broker publishes the will \"offline\".\n"
    "What keeps it from the broker (a refused login, a CA that does not vouch for\n"
    "the broker, no answer at all) is said on stderr, once per cause.\n"
    "The link's loss and return are logged as \"bus lost: WHY\" and \"bus back after\n"
    "N s\", a silent station and its return as well.\n"
    "SIGINT or SIGTERM publishes \"offline\", disconnects and ends the bridge.\n"
    "\n"
    "Link: --port DEVICE for a serial port, --tcp HOST:PORT for a TCP serial server\n"
    "(the gateway, for instance) or --sim for the built-in simulated servo; one of\n"
    "them is needed. Time-out, retries, delay and serial line default to the\n"
    "driver's own defaults.\n"
    "\n"
    "Environment: LUSTBUS_PORT, LUSTBUS_TCP, LUSTBUS_SETTINGS, LUSTBUS_STATION and\n"
    "LUSTBUS_CATALOGUE stand for --port, --tcp, --settings, --station and\n"
    "--catalogue where those are not given (empty counts as unset).\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM, 2 a usage error, 3 the plugin did not\n"
    "load, the link did not open or the MQTT client could not start, 4 the output\n"
    "could not be written.\n"
    "\n"
    "Examples:\n"
    "  lustbus bridge --broker 127.0.0.1 --catalogue catalogues/sample.json --sim\n"
    "  lustbus bridge --broker mqtt.plant:8883 --tls-ca ca.crt --username line3 \\\n"
    "      --password-file line3.pw --catalogue cde.json --port /dev/ttyUSB0 \\\n"
    "      --station 1 --station 2 --poll speed_setpoint,ramp_time@200 --allow-writes\n";

class BridgeCommand : public LinkCommand
{
public:
    BridgeCommand()
        : LinkCommand({"bridge", "publishes a bus's parameters on an MQTT broker and takes writes",
                       Description, Notes, {}})
    {
    }

    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // A silent station is the bridge's to pace: it keeps polling it.
    int linkUses() const override { return LinkOptions::AllUses & ~LinkOptions::KeepTrying; }

private:
    bool readBridgeOptions(const QCommandLineParser &parser, QString *error);
    // --broker and --tls-ca: where the broker is.
    bool readBroker(const QCommandLineParser &parser, QString *error);
    // --prefix, --bus and --reply-prefix, and catalogue names that would take a topic.
    bool readTopics(const QCommandLineParser &parser, QString *error);
    // --poll groups, --station, the intervals, --qos and --allow-writes.
    bool readPolling(const QCommandLineParser &parser, QString *error);
    // The client id, user name, password and CA file of the broker connection.
    bool readLogin(const QCommandLineParser &parser, QString *error);
    // --sparkplug and the options that go with it.
    bool readSparkplug(const QCommandLineParser &parser, QString *error);
    QString defaultBusName() const;

    MqttClient::Settings m_mqtt;
    Bridge::Settings m_bridge;
    SparkplugNode::Settings m_sparkplug;
    QString m_discoveryPrefix = QStringLiteral("homeassistant");
};

QList<QCommandLineOption> BridgeCommand::options() const
{
    return QList<QCommandLineOption>{
               Options::value("broker", "The MQTT broker, HOST[:PORT] (port 1883, 8883 with "
                                        "--tls-ca). Required.",
                              "HOST[:PORT]"),
               CatalogueOption::option(),
               Options::value("poll", "A group of parameters polled together every MS "
                                      "milliseconds (default 1000); repeatable. Default: the "
                                      "whole catalogue, every 1000 ms.",
                              "NAME[,NAME...][@MS]"),
               Options::value("prefix", "The first topic level(s). Default: lustbus.", "TOPIC"),
               Options::value("reply-prefix", "MQTT 5 response topics are taken only under "
                                              "TOPIC/. Default: PREFIX/replies.",
                              "TOPIC"),
               Options::value("bus", "The bus's topic level. Default: the device's name "
                                     "(ttyUSB0), the TCP endpoint (HOST:PORT) or sim.",
                              "NAME"),
               Options::value("heartbeat", "An unchanged value is published again after SECONDS "
                                           "(1 to 86400, default 60).",
                              "SECONDS"),
               Options::value("stats-interval", "PREFIX/BUS/stats is published every SECONDS (1 "
                                                "to 86400, default 60).",
                              "SECONDS"),
               Options::flag("allow-writes", "Takes writes from .../NAME/set, published without "
                                             "retain, for identified drives. Off by default."),
               Options::flag("discovery", "Announces the parameters to Home Assistant (MQTT "
                                          "discovery). Off by default."),
               Options::value("discovery-prefix", "Home Assistant's discovery prefix; implies "
                                                  "--discovery. Default: homeassistant.",
                              "TOPIC"),
               Options::value("qos", "QoS of the values, results and write subscription: 0 "
                                     "(default) or 1.",
                              "0|1"),
               Options::value("client-id", "The MQTT client id. Default: one the library makes "
                                           "up.",
                              "ID"),
               Options::value("username", "The MQTT user name; the password comes from "
                                          "--password-file.",
                              "U"),
               Options::value("password-file", "The file whose first line is the MQTT password "
                                               "(never on the command line).",
                              "F"),
               Options::value("tls-ca", "Connects with TLS, checking the broker against the CA "
                                        "FILE.",
                              "FILE"),
               Options::value("sparkplug", "Also a Sparkplug B edge node GROUP/EDGE_NODE, on a "
                                           "connection of its own.",
                              "GROUP/EDGE_NODE"),
               Options::value("sparkplug-device", "The Sparkplug DEVICE_ID of STATION (default: "
                                                  "its number); repeatable.",
                              "STATION=NAME"),
               Options::value("sparkplug-state", "The file that keeps bdSeq over restarts. "
                                                 "Default: sparkplug-GROUP+EDGE_NODE.bdseq in "
                                                 "$XDG_STATE_HOME/lustbus.",
                              "FILE"),
               Options::value("primary-host", "Sparkplug births only while "
                                              "spBv1.0/STATE/HOST_ID says online.",
                              "HOST_ID"),
           }
           + LinkOptions::options(
               linkUses(),
               {{"station", "A station to poll, 0 to 63; repeatable. Default: $LUSTBUS_STATION, "
                            "else the driver's (1)."},
                {"stats", "Prints per-station link statistics on stderr at the end "
                          "(PREFIX/BUS/stats carries them all along)."}});
}

bool BridgeCommand::readBridgeOptions(const QCommandLineParser &parser, QString *error)
{
    if (!parser.isSet(QStringLiteral("broker"))) {
        *error = QStringLiteral("no broker: give --broker HOST[:PORT]");
        return false;
    }
    return readBroker(parser, error) && readTopics(parser, error) && readPolling(parser, error)
           && readLogin(parser, error) && readSparkplug(parser, error);
}

bool BridgeCommand::readBroker(const QCommandLineParser &parser, QString *error)
{
    m_mqtt.caFile = parser.value(QStringLiteral("tls-ca"));
    const QString broker = parser.value(QStringLiteral("broker"));
    if (broker.contains(QLatin1Char(':'))) {
        QString host;
        if (!LinkOptions::parseEndpoint(broker, false, &host, &m_mqtt.port, error)) {
            error->prepend(QStringLiteral("--broker: "));
            return false;
        }
        m_mqtt.host = host;
    } else if (broker.isEmpty()) {
        *error = QStringLiteral("bad --broker '': expected HOST[:PORT]");
        return false;
    } else {
        m_mqtt.host = broker;
        m_mqtt.port = m_mqtt.caFile.isEmpty() ? DefaultBrokerPort : DefaultTlsBrokerPort;
    }
    return true;
}

bool BridgeCommand::readTopics(const QCommandLineParser &parser, QString *error)
{
    const struct { const char *option; bool levels; QString *target; } topics[] = {
        {"prefix", true, &m_bridge.prefix},
        {"bus", false, &m_bridge.bus},
        {"reply-prefix", true, &m_bridge.replyPrefix},
        {"discovery-prefix", true, &m_discoveryPrefix},
    };
    m_bridge.bus = defaultBusName();
    for (const auto &topic : topics) {
        const QString name = QString::fromLatin1(topic.option);
        if (!parser.isSet(name))
            continue;
        const QString text = parser.value(name);
        QString why;
        if (!Bridge::checkTopic(text, topic.levels, &why)) {
            *error = QStringLiteral("bad --%1 '%2': %3").arg(name, text, why);
            return false;
        }
        *topic.target = text;
    }
    // PREFIX/BUS/STATION/status and .../identity are the station's.
    for (const char *topic : {"status", "identity"}) {
        if (m_catalogue.find(QLatin1String(topic))) {
            *error = QStringLiteral("%1 has a parameter '%2', whose topic would be the "
                                    "station's %2 topic: rename it")
                         .arg(m_catalogue.fileName(), QLatin1String(topic));
            return false;
        }
    }
    return true;
}

bool BridgeCommand::readPolling(const QCommandLineParser &parser, QString *error)
{
    for (const QString &text : parser.values(QStringLiteral("poll"))) {
        Bridge::PollGroup group;
        if (!Bridge::parsePollGroup(text, m_catalogue, &group, error))
            return false;
        m_bridge.groups.append(group);
    }
    if (!stationIds(parser, &m_bridge.stations, error))
        return false;
    const struct { const char *option; qint64 min, max; int *target; } numbers[] = {
        {"heartbeat", 1, 86400, &m_bridge.heartbeatSeconds},
        {"stats-interval", 1, 86400, &m_bridge.statsIntervalSeconds},
        {"qos", 0, 1, &m_bridge.qos},
    };
    for (const auto &number : numbers) {
        qint64 value = *number.target;
        if (!wholeNumberOption(parser, number.option, number.min, number.max, &value, error))
            return false;
        *number.target = int(value);
    }
    m_bridge.allowWrites = parser.isSet(QStringLiteral("allow-writes"));
    if (m_bridge.allowWrites && DriveIdentity::entries(m_catalogue).isEmpty()) {
        *error = DriveIdentity::noEntriesText(m_catalogue)
                 + QStringLiteral(": with --allow-writes the bridge would write to drives it "
                                  "cannot identify");
        return false;
    }
    return true;
}

QString BridgeCommand::defaultBusName() const
{
    switch (m_options.target) {
    case LinkOptions::Serial:
        return QFileInfo(m_options.device).fileName();
    case LinkOptions::Tcp:
        return QStringLiteral("%1:%2").arg(m_options.host).arg(m_options.port);
    default:
        return QStringLiteral("sim");
    }
}

bool BridgeCommand::readLogin(const QCommandLineParser &parser, QString *error)
{
    m_mqtt.clientId = parser.value(QStringLiteral("client-id"));
    m_mqtt.username = parser.value(QStringLiteral("username"));
    const QString passwordFile = parser.value(QStringLiteral("password-file"));
    if (parser.isSet(QStringLiteral("password-file"))) {
        if (m_mqtt.username.isEmpty()) {
            *error = QStringLiteral("--password-file needs --username");
            return false;
        }
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read --password-file '%1': %2")
                         .arg(passwordFile, file.errorString());
            return false;
        }
        m_mqtt.password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n'))
                              .remove(QLatin1Char('\r'));
    }
    if (!m_mqtt.caFile.isEmpty() && !QFileInfo(m_mqtt.caFile).isReadable()) {
        *error = QStringLiteral("cannot read --tls-ca '%1'").arg(m_mqtt.caFile);
        return false;
    }
    return true;
}

bool BridgeCommand::readSparkplug(const QCommandLineParser &parser, QString *error)
{
    if (!parser.isSet(QStringLiteral("sparkplug"))) {
        for (const char *option : {"sparkplug-device", "sparkplug-state", "primary-host"}) {
            if (parser.isSet(QLatin1String(option))) {
                *error = QStringLiteral("--%1 needs --sparkplug").arg(QLatin1String(option));
                return false;
            }
        }
        return true;
    }
    if (!SparkplugNode::parseNode(parser.value(QStringLiteral("sparkplug")), &m_sparkplug, error))
        return false;
    const QList<int> stations = m_bridge.stations.isEmpty()
                                    ? QList<int>{m_options.protocol.stationid}
                                    : m_bridge.stations;
    for (const QString &text : parser.values(QStringLiteral("sparkplug-device"))) {
        if (!SparkplugNode::parseDevice(text, &m_sparkplug, error))
            return false;
    }
    QSet<QString> ids;
    for (int station : stations) {
        const QString id = m_sparkplug.devices.value(station, QString::number(station));
        if (ids.contains(id)) {
            *error = QStringLiteral("bad --sparkplug-device: two stations are device '%1'").arg(id);
            return false;
        }
        ids.insert(id);
    }
    for (int station : m_sparkplug.devices.keys()) {
        if (!stations.contains(station)) {
            *error = QStringLiteral("bad --sparkplug-device: station %1 is not polled (--station)")
                         .arg(station);
            return false;
        }
    }
    m_sparkplug.stateFile = parser.value(QStringLiteral("sparkplug-state"));
    if (parser.isSet(QStringLiteral("sparkplug-state")) && m_sparkplug.stateFile.isEmpty()) {
        *error = QStringLiteral("bad --sparkplug-state '': expected a file name");
        return false;
    }
    m_sparkplug.primaryHost = parser.value(QStringLiteral("primary-host"));
    QString why;
    if (parser.isSet(QStringLiteral("primary-host"))
        && !SparkplugNode::checkId(m_sparkplug.primaryHost, &why)) {
        *error = QStringLiteral("bad --primary-host '%1': %2").arg(m_sparkplug.primaryHost, why);
        return false;
    }
    return true;
}

int BridgeCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readCatalogue(parser, true, &status))
        return status;
    QString error;
    if (!readBridgeOptions(parser, &error))
        return usageError(error);
    // The stats topic carries the link's statistics, with --stats or without.
    m_options.stats = true;
    if (!openLink(&status))
        return status;
    if (m_bridge.stations.isEmpty())
        m_bridge.stations.append(m_options.protocol.stationid);
    m_mqtt.willTopic = m_bridge.prefix + QLatin1Char('/') + m_bridge.bus
                       + QStringLiteral("/status");
    m_mqtt.willPayload = QByteArrayLiteral("offline");

    QEventLoop loop;
    MqttClient client;
    LinkBusAccess bus(driver(), link(), m_factory.streamLink(), m_options.protocol,
                      m_catalogue.fileName(), requestHook());
    bus.setGuard(&requestGuard());
    m_bridge.link = m_factory.description();
    Bridge bridge(m_catalogue, bus, client, m_bridge);
    bridge.setLinkStatistics([this] { return statisticsJson(); });
    const auto log = [&loop](const QString &line) {
        Console::err() << "lustbus bridge: " << line << Qt::endl;
        if (Console::writeError() != 0)
            loop.quit();
    };
    bridge.setLog(log);
    std::unique_ptr<HomeAssistantDiscovery> discovery;
    if (parser.isSet(QStringLiteral("discovery"))
        || parser.isSet(QStringLiteral("discovery-prefix"))) {
        discovery = std::make_unique<HomeAssistantDiscovery>(
            bridge, client, m_discoveryPrefix, QStringLiteral(LUSTBUS_VERSION_STRING));
        discovery->setLog(log);
        bridge.addConvention(discovery.get());
    }
    // The state file is the node's first step: before anything is said on stdout.
    MqttClient sparkplugClient;
    std::unique_ptr<SparkplugNode> node;
    if (!m_sparkplug.group.isEmpty()) {
        node = std::make_unique<SparkplugNode>(bridge, sparkplugClient, m_sparkplug);
        node->setLog(log);
        bridge.addConvention(node.get());
        if (!node->start(m_mqtt, &error))
            return failure(ExitEnvironment, error);
    }
    QStringList stations;
    for (int station : qAsConst(m_bridge.stations))
        stations.append(QString::number(station));
    Console::out() << "bridge " << m_factory.description() << " to broker " << m_mqtt.host << ':'
                   << m_mqtt.port << ", topics " << m_bridge.prefix << '/' << m_bridge.bus
                   << "/..., " << m_catalogue.entries.size() << " parameters, station"
                   << (stations.size() == 1 ? " " : "s ") << stations.join(QLatin1Char(','))
                   << ", writes " << (m_bridge.allowWrites ? "allowed" : "off")
                   << (discovery ? ", Home Assistant discovery under " + m_discoveryPrefix
                                 : QString())
                   << "; stop with Ctrl-C" << Qt::endl;
    if (Console::writeError() != 0)
        return writeFailure();

    QObject::connect(&bridge, &Bridge::ended, &loop, &QEventLoop::quit);
    onInterrupt(m_stop->interrupt(), &loop, [&loop] { loop.quit(); });
    // The bridge listens before the client connects, so that it sees the first connect.
    bridge.start();
    if (!client.start(m_mqtt))
        return failure(ExitEnvironment, client.errorString());
    loop.exec();
    // The node's NDEATH goes out first, from bridge.stop().
    bridge.stop();
    if (Console::writeError() != 0)
        return writeFailure();

    const Bridge::Counters &counters = bridge.counters();
    Console::err() << "lustbus bridge: stopped; " << counters.rounds << " rounds, "
                   << counters.overruns << " overruns, " << counters.published << " published, "
                   << counters.writes << " writes, " << counters.writesRefused << " refused, "
                   << counters.writesUnknown << " unknown" << Qt::endl;
    if (Options::Stats.isSet(parser))
        printStatistics();
    return ExitSuccess;
}

} // namespace

std::unique_ptr<Command> Commands::bridge()
{
    return std::make_unique<BridgeCommand>();
}
