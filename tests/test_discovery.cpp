// Home Assistant discovery as HA meets it: a real mosquitto broker on a free loopback
// port, lustbus bridge on a simulated drive that a separate lustbus read sees too, and
// the configs as the broker hands them out. Their templates are rendered by Jinja
// (python3-jinja2), the engine HA renders them with.
#include "cliprocess.h"
#include "mosquittofixture.h"

#include "catalogue.h"
#include "parametertable.h"
#include "simulator.h"

#include <QtCore/QJsonArray>
#include <QtCore/QPair>

#include <csignal>
#include <cstring>
#include <memory>

namespace {

const QString Node = QStringLiteral("homeassistant/%1/lustbus_line/%2/config");

// The sample catalogue with the hints HA takes: a device class, two named bits of the
// control word (43981: bit 0 set, bit 4 clear), and a read-only status word whose
// bits 0 and 15 are set.
QByteArray hintedCatalogue()
{
    QFile file(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    QJsonArray parameters = root.value(QStringLiteral("parameters")).toArray();
    for (int i = 0; i < parameters.size(); ++i) {
        QJsonObject parameter = parameters.at(i).toObject();
        const QString name = parameter.value(QStringLiteral("name")).toString();
        if (name == QLatin1String("current_limit"))
            parameter.insert(QStringLiteral("device_class"), QStringLiteral("current"));
        if (name == QLatin1String("control_word"))
            parameter.insert(QStringLiteral("bits"),
                             QJsonObject{{QStringLiteral("enable"), 0},
                                         {QStringLiteral("quick_stop"), 4}});
        parameters.replace(i, parameter);
    }
    parameters.append(json(QStringLiteral(
        R"({"name": "status_word", "number": 30, "type": "INT16", "access": "ro",
            "bits": {"ready": 0, "fault": 15}, "value": -32767})")));
    root.insert(QStringLiteral("parameters"), parameters);
    return QJsonDocument(root).toJson();
}

// Each template rendered as HA renders a state or availability template, with its
// payload: value is the payload, value_json the payload read as JSON; HA's own
// bitwise_and filter added. One run of Jinja for them all.
QStringList render(const QList<QPair<QString, QByteArray>> &templates)
{
    static const char script[] =
        "import json, sys, jinja2\n"
        "env = jinja2.Environment()\n"
        "env.filters['bitwise_and'] = lambda a, b: a & b\n"
        "def render(text, payload):\n"
        "    try:\n"
        "        value_json = json.loads(payload)\n"
        "    except ValueError:\n"
        "        value_json = None\n"
        "    return env.from_string(text).render(value=payload, value_json=value_json)\n"
        "sys.stdout.write(json.dumps([render(t, p) for t, p in json.loads(sys.argv[1])]))\n";
    QJsonArray pairs;
    for (const auto &pair : templates)
        pairs.append(QJsonArray{pair.first, QString::fromUtf8(pair.second)});
    const Result r = runProgram(QStringLiteral("python3"),
                                {QStringLiteral("-c"), QLatin1String(script),
                                 QString::fromUtf8(QJsonDocument(pairs).toJson())});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList shown;
    for (const QJsonValue &text : QJsonDocument::fromJson(r.out.toUtf8()).array())
        shown.append(text.toString());
    EXPECT_EQ(shown.size(), templates.size()) << r.out.toStdString();
    return shown;
}

bool haveJinja()
{
    return runProgram(QStringLiteral("python3"), args("-c import~jinja2")).exitCode == 0;
}

class Discovery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (mosquittoProgram().isEmpty())
            GTEST_SKIP() << "the mosquitto broker is not installed (Debian package mosquitto)";
        if (!haveJinja()) {
            // CI installs it: there, a missing one is a fault of the set-up.
            if (qgetenv("CI") == "true")
                FAIL() << "Jinja is not installed (Debian package python3-jinja2)";
            GTEST_SKIP() << "Jinja is not installed (Debian package python3-jinja2)";
        }
        QFile file(catalogue);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(hintedCatalogue());
        file.close();
        ASSERT_TRUE(broker.start()) << "mosquitto did not start";
        ASSERT_TRUE(subscriber.start(broker.port, {}, QStringLiteral("#")));
    }
    void TearDown() override
    {
        if (bridge.state() != QProcess::NotRunning) {
            bridge.kill();
            bridge.waitForFinished();
        }
    }

    // A drive of the hinted catalogue in a lustbus simulate of its own.
    QStringList simulated()
    {
        if (!simulator)
            simulator = std::make_unique<SimulatorProcess>(args("--tcp 0 --catalogue")
                                                           << catalogue);
        return simulator->link();
    }
    // The bridge on link with --discovery and options, as lustbus/line; returns once it
    // says "online".
    void startBridge(const QStringList &link, const QString &options)
    {
        const int from = subscriber.count();
        bridge.setProcessEnvironment(cliEnvironment());
        bridge.start(QStringLiteral(LUSTBUS_CLI_PATH),
                     args("bridge --discovery --bus line --catalogue")
                         << catalogue << QStringLiteral("--broker")
                         << QStringLiteral("127.0.0.1:%1").arg(broker.port)
                         << link + args(options.toUtf8().constData()));
        ASSERT_TRUE(waitFor([&] {
            return subscriber.last(QStringLiteral("lustbus/line/status"), from) == "online";
        })) << bridge.readAllStandardError().toStdString();
    }
    QString stopBridge()
    {
        signalProcess(bridge.processId(), SIGTERM);
        EXPECT_TRUE(bridge.waitForFinished(5000));
        EXPECT_EQ(bridge.exitCode(), 0);
        return QString::fromUtf8(bridge.readAllStandardError());
    }
    // The config of OBJECT under COMPONENT that came after message from.
    QJsonObject config(const char *component, const char *object, int from = 0)
    {
        const QString topic = Node.arg(QLatin1String(component), QLatin1String(object));
        EXPECT_TRUE(subscriber.waitForMessage(topic, from)) << topic.toStdString();
        return subscriber.lastJson(topic, from);
    }
    // Whether an empty payload came on topic after message from.
    bool emptied(const QString &topic, int from)
    {
        return waitFor([&] {
            for (int i = from; i < subscriber.count(); ++i) {
                if (subscriber.messages.at(i).topic == topic
                    && subscriber.messages.at(i).payload.isEmpty())
                    return true;
            }
            return false;
        });
    }
    // Publishes payload on topic as HA does (QoS 1, no retain) and returns the result
    // that comes on resultTopic.
    QJsonObject command(const QString &topic, const QByteArray &payload,
                        const QString &resultTopic)
    {
        const int from = subscriber.count();
        subscriber.publish(topic, payload);
        EXPECT_TRUE(subscriber.waitForMessage(resultTopic, from)) << resultTopic.toStdString();
        return subscriber.lastJson(resultTopic, from);
    }
    QString readOnDrive(const char *name)
    {
        const Result r = lustbus(args("read") << QLatin1String(name) << QStringLiteral("--catalogue")
                                              << catalogue << simulated());
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        return r.out.trimmed();
    }

    QTemporaryDir dir;
    const QString catalogue = dir.filePath(QStringLiteral("cde.json"));
    Broker broker;
    Subscriber subscriber;
    std::unique_ptr<SimulatorProcess> simulator;
    QProcess bridge;
};

struct Kind
{
    bool writes;
    const char *component, *object;
    const char *keys; //!< JSON: keys the config must hold with these values
    const char *absent; //!< keys it must not hold, blank-separated
};

// Each kind of parameter gets its component and keys, with writes allowed and without;
// a config the second run no longer publishes is emptied. Every config reads its
// value topic, belongs to the one device of the station and is available only while
// the bus and the station say "online"; an array gets none.
TEST_F(Discovery, EachParameterGetsTheConfigOfItsKind)
{
    const Kind kinds[] = {
        {true, "number", "1_speed_setpoint",
         R"({"name": "Speed setpoint", "state_topic": "lustbus/line/1/speed_setpoint",
             "command_topic": "lustbus/line/1/speed_setpoint/set", "min": -3000, "max": 3000,
             "step": 1, "mode": "box", "unit_of_measurement": "rpm"})",
         "state_class device_class"},
        {true, "number", "1_current_limit",
         R"({"min": 0, "max": 20, "step": 0.001, "unit_of_measurement": "A",
             "device_class": "current"})", ""},
        {true, "number", "1_ramp_time", R"({"min": 0, "max": 100, "step": 0.05})", ""},
        {true, "number", "1_torque_offset", R"({"min": 0, "max": 50, "step": 0.01})", ""},
        {true, "number", "1_brake_delay", R"({"min": 0, "max": 255, "step": 1})", ""},
        {true, "number", "1_control_word", R"({"min": 0, "max": 65535})",
         "unit_of_measurement"},
        {true, "sensor", "1_drive_name", R"({"state_topic": "lustbus/line/1/drive_name"})",
         "command_topic state_class unit_of_measurement"},
        {true, "sensor", "1_firmware_version",
         R"({"state_class": "measurement", "entity_category": "diagnostic"})", "command_topic"},
        {true, "switch", "1_control_word_enable",
         R"({"name": "Control word enable", "state_topic": "lustbus/line/1/control_word",
             "command_topic": "lustbus/line/1/control_word/enable/set", "payload_on": "1",
             "payload_off": "0", "state_on": "1", "state_off": "0"})", "unit_of_measurement"},
        {true, "binary_sensor", "1_status_word_fault",
         R"({"state_topic": "lustbus/line/1/status_word", "payload_on": "1"})",
         "command_topic"},
        {true, "sensor", "1_status_word", R"({"state_class": "measurement"})", "command_topic"},
        {false, "sensor", "1_speed_setpoint",
         R"({"state_class": "measurement", "unit_of_measurement": "rpm"})",
         "command_topic min max step"},
        {false, "sensor", "1_current_limit",
         R"({"state_class": "measurement", "device_class": "current"})", "command_topic"},
        {false, "binary_sensor", "1_control_word_enable",
         R"({"state_topic": "lustbus/line/1/control_word"})", "command_topic state_on"},
    };
    const char *poll = "--poll speed_setpoint,current_limit,ramp_time,torque_offset,brake_delay,"
                       "control_word,drive_name,firmware_version,status_word,gains@200";
    for (bool writes : {true, false}) {
        SCOPED_TRACE(writes ? "writes allowed" : "writes off");
        const int from = subscriber.count();
        startBridge(simulated(), QLatin1String(poll) + (writes ? " --allow-writes" : ""));
        QJsonObject device;
        for (const Kind &kind : kinds) {
            if (kind.writes != writes)
                continue;
            SCOPED_TRACE(std::string(kind.component) + ' ' + kind.object);
            const QJsonObject c = config(kind.component, kind.object, from);
            const QJsonObject keys = json(QString::fromUtf8(kind.keys));
            for (auto it = keys.begin(); it != keys.end(); ++it)
                EXPECT_EQ(compact({{it.key(), c.value(it.key())}}),
                          compact({{it.key(), it.value()}}));
            for (const QString &key : QString::fromUtf8(kind.absent).split(
                     QLatin1Char(' '), Qt::SkipEmptyParts))
                EXPECT_FALSE(c.contains(key)) << key.toStdString();
            EXPECT_EQ(c.value(QStringLiteral("unique_id")).toString(),
                      QStringLiteral("lustbus_line_") + QLatin1String(kind.object));
            EXPECT_EQ(compact({{"a", c.value(QStringLiteral("availability"))}}),
                      compact(R"({"a": [
                {"topic": "lustbus/line/status", "payload_available": "online",
                 "payload_not_available": "offline",
                 "value_template": "{{ 'online' if value == 'online' else 'offline' }}"},
                {"topic": "lustbus/line/1/status", "payload_available": "online",
                 "payload_not_available": "offline",
                 "value_template": "{{ 'online' if value == 'online' else 'offline' }}"}]})"));
            EXPECT_EQ(c.value(QStringLiteral("availability_mode")).toString(), "all");
            EXPECT_EQ(compact(c.value(QStringLiteral("origin")).toObject()),
                      compact(R"({"name": "lustbus", "sw_version": ")" LUSTBUS_PACKAGE_VERSION
                              R"("})"));
            if (device.isEmpty())
                device = c.value(QStringLiteral("device")).toObject();
            EXPECT_EQ(compact(c.value(QStringLiteral("device")).toObject()), compact(device));
        }
        EXPECT_TRUE(device.value(QStringLiteral("identifiers")).toArray().at(0).toString()
                        .startsWith(QLatin1String("lustbus_line_1_")));
        for (const char *key : {"name", "manufacturer", "model", "sw_version"})
            EXPECT_TRUE(device.contains(QLatin1String(key))) << key;
        EXPECT_EQ(device.value(QStringLiteral("model")).toString(), "CDE sample");
        EXPECT_EQ(device.value(QStringLiteral("sw_version")).toString(), "66051");
        if (!writes) {
            // What the first run announced as writable is a sensor now.
            for (const QString &topic :
                 {Node.arg("number", "1_speed_setpoint"), Node.arg("switch", "1_control_word_enable")})
                EXPECT_TRUE(emptied(topic, from)) << topic.toStdString();
        }
        stopBridge();
    }
    for (const Message &message : qAsConst(subscriber.messages))
        EXPECT_FALSE(message.topic.contains(QLatin1String("gains"))
                     && message.topic.startsWith(QLatin1String("homeassistant/")))
            << message.topic.toStdString();
}

// The templates read what the bridge publishes as HA reads it: the value, the bits of
// a negative word, unknown for a failed read, and unavailable for every status but
// "online".
TEST_F(Discovery, TheTemplatesReadTheBridgesTopicsAsHomeAssistantDoes)
{
    startBridge(simulated(), QStringLiteral("--allow-writes --poll speed_setpoint,control_word,status_word@200"));
    const auto valueTemplate = [this](const char *component, const char *object) {
        return config(component, object).value(QStringLiteral("value_template")).toString();
    };
    const auto state = [this](const char *name) {
        const QString topic = QStringLiteral("lustbus/line/1/") + QLatin1String(name);
        EXPECT_TRUE(subscriber.waitForMessage(topic));
        return subscriber.last(topic);
    };
    const struct { const char *component, *object, *topic; QByteArray payload; const char *shown; }
        cases[] = {
            {"number", "1_speed_setpoint", "speed_setpoint", {}, "-1234"},
            {"number", "1_speed_setpoint", nullptr, R"({"ok": false, "error": "timeout"})",
             "None"},
            {"switch", "1_control_word_enable", "control_word", {}, "1"},
            {"switch", "1_control_word_quick_stop", "control_word", {}, "0"},
            {"binary_sensor", "1_status_word_ready", "status_word", {}, "1"},
            {"binary_sensor", "1_status_word_fault", "status_word", {}, "1"},
            {"binary_sensor", "1_status_word_fault", nullptr, R"({"value": 32767, "ok": true})",
             "0"},
        };
    QList<QPair<QString, QByteArray>> templates;
    for (const auto &c : cases)
        templates.append({valueTemplate(c.component, c.object), c.topic ? state(c.topic) : c.payload});
    const QString available = config("number", "1_speed_setpoint")
                                  .value(QStringLiteral("availability")).toArray().at(1)
                                  .toObject().value(QStringLiteral("value_template")).toString();
    const char *statuses[] = {"online", "silent", "not identified", "another drive", "bus lost",
                              "offline"};
    for (const char *status : statuses)
        templates.append({available, status});
    const QStringList shown = render(templates);
    ASSERT_EQ(shown.size(), templates.size());
    int i = 0;
    for (const auto &c : cases) {
        EXPECT_EQ(shown.at(i++).toStdString(), c.shown) << c.object << ' ' << c.payload.toStdString();
    }
    for (const char *status : statuses)
        EXPECT_EQ(shown.at(i++).toStdString(), std::strcmp(status, "online") ? "offline" : "online")
            << status;
}

// HA writes through the command topics its configs name, as it publishes: a number's
// plain text, a switch's "1" or "0", without retain. Each write reaches the drive (a
// separate lustbus read sees it) and comes back on the state topic; a switch changes
// only its bit. A bit that is read-only, unnamed or sent retained is refused, and the
// drive keeps its value.
TEST_F(Discovery, HomeAssistantWritesThroughTheCommandTopics)
{
    startBridge(simulated(),
                QStringLiteral("--allow-writes --poll speed_setpoint,current_limit,control_word,status_word@200"));
    const struct { const char *component, *object, *state; QByteArray payload; bool done;
                   const char *error, *drive; } writes[] = {
        {"number", "1_speed_setpoint", "speed_setpoint", "12", true, "", "12 rpm"},
        {"number", "1_current_limit", "current_limit", "2.5", true, "", "2.5 A"},
        {"switch", "1_control_word_enable", "control_word", "0", true, "", "43980"},
        {"switch", "1_control_word_quick_stop", "control_word", "1", true, "", "43996"},
        {"switch", "1_control_word_enable", "control_word", "on", false,
         "bad value 'on'", "43996"},
    };
    for (const auto &w : writes) {
        SCOPED_TRACE(std::string(w.object) + " <- " + w.payload.toStdString());
        const QString topic = config(w.component, w.object).value(QStringLiteral("command_topic"))
                                  .toString();
        ASSERT_FALSE(topic.isEmpty());
        const int from = subscriber.count();
        const QJsonObject result =
            command(topic, w.payload, topic.chopped(4) + QStringLiteral("/result"));
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), w.done) << compact(result);
        EXPECT_TRUE(result.value(QStringLiteral("error")).toString().contains(
            QLatin1String(w.error))) << compact(result);
        const QString drive = QString::fromLatin1(w.drive);
        EXPECT_EQ(readOnDrive(w.state), drive);
        if (w.done) {
            const QString state = QStringLiteral("lustbus/line/1/") + QLatin1String(w.state);
            ASSERT_TRUE(subscriber.waitForMessage(state, from));
            EXPECT_EQ(subscriber.lastJson(state, from).value(QStringLiteral("value")).toDouble(),
                      drive.section(QLatin1Char(' '), 0, 0).toDouble());
        }
    }
    const struct { const char *topic; bool retain; const char *error; } refused[] = {
        {"lustbus/line/1/status_word/fault/set", false, "status_word is read-only"},
        {"lustbus/line/1/control_word/brake/set", false, "no bit 'brake' of 'control_word'"},
        {"lustbus/line/1/control_word/enable/set", true, "a retained set message is not"},
        {"lustbus/line/7/control_word/enable/set", false, "station '7' is not on this bridge"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.topic);
        const QString topic = QLatin1String(r.topic);
        const QString resultTopic = topic.chopped(4) + QStringLiteral("/result");
        const int from = subscriber.count();
        subscriber.client.publish(topic, "1", 1, r.retain);
        ASSERT_TRUE(subscriber.waitForMessage(resultTopic, from));
        const QJsonObject result = subscriber.lastJson(resultTopic, from);
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), "refused");
        EXPECT_TRUE(result.value(QStringLiteral("error")).toString().contains(
            QLatin1String(r.error))) << compact(result);
        if (r.retain)
            subscriber.client.publish(topic, QByteArray(), 1, true);
    }
    EXPECT_EQ(readOnDrive("control_word"), "43996");
    EXPECT_EQ(readOnDrive("status_word"), "-32767");
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("4 writes, 5 refused"))) << err.toStdString();
}

// A parameter taken off the bridge loses its config: the next run empties it, and a
// client that comes later finds only the configs the bridge still publishes.
TEST_F(Discovery, AParameterTakenOffTheBridgeLosesItsConfig)
{
    const QString kept = Node.arg("sensor", "1_speed_setpoint");
    const QString dropped = Node.arg("sensor", "1_drive_name");
    startBridge(simulated(), QStringLiteral("--poll speed_setpoint,drive_name@200"));
    ASSERT_TRUE(subscriber.waitForMessage(kept));
    ASSERT_TRUE(subscriber.waitForMessage(dropped));
    stopBridge();

    const int from = subscriber.count();
    startBridge(simulated(), QStringLiteral("--poll speed_setpoint@200"));
    EXPECT_TRUE(emptied(dropped, from));
    Subscriber later;
    ASSERT_TRUE(later.start(broker.port, {}, QStringLiteral("homeassistant/#")));
    ASSERT_TRUE(later.waitForMessage(kept));
    // Retained messages come at subscribing, in one go: a moment is enough.
    waitFor([] { return false; }, 300);
    for (const Message &message : qAsConst(later.messages))
        EXPECT_NE(message.topic, dropped);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("discovery config %1 emptied").arg(dropped)))
        << err.toStdString();
}

// HA's "online" on homeassistant/status (not retained) brings every config again;
// another payload does not.
TEST_F(Discovery, ConfigsGoOutAgainWhenHomeAssistantSaysOnline)
{
    const QString topic = Node.arg("sensor", "1_speed_setpoint");
    startBridge(simulated(), QStringLiteral("--poll speed_setpoint@200"));
    ASSERT_TRUE(subscriber.waitForMessage(topic));
    const QByteArray first = subscriber.last(topic);
    for (const char *status : {"offline", "online"}) {
        SCOPED_TRACE(status);
        const int from = subscriber.count();
        subscriber.publish(QStringLiteral("homeassistant/status"), status);
        // A config that is not coming is waited for a second; one that is, up to 5 s.
        const bool online = !std::strcmp(status, "online");
        const bool again = subscriber.waitForMessage(topic, from, online ? 5000 : 1000);
        EXPECT_EQ(again, online);
        if (again) {
            EXPECT_EQ(subscriber.last(topic, from), first);
        }
    }
}

// A station that stops answering makes its entities unavailable: its status topic,
// which every config of it names, says "silent", which the availability template
// turns into "offline"; the bus's own topic still says "online".
TEST_F(Discovery, ASilentStationsEntitiesGoUnavailable)
{
    LustBus::Catalogue loaded;
    QString error;
    ASSERT_TRUE(LustBus::Catalogue::load(catalogue, &loaded, &error)) << error.toStdString();
    LustBusSim::Simulator sim;
    sim.setStation(1, LustBusSim::ParameterTable::fromCatalogue(loaded));
    ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp)) << sim.errorString().toStdString();
    startBridge({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(sim.port())},
                QStringLiteral("--poll speed_setpoint@100 --timeout 150 --retries 1"));
    const QJsonArray availability =
        config("sensor", "1_speed_setpoint").value(QStringLiteral("availability")).toArray();
    ASSERT_EQ(availability.size(), 2);
    // What the availability templates make of the bus's and the station's status.
    const auto shown = [&] {
        QList<QPair<QString, QByteArray>> templates;
        for (const QJsonValue &entry : availability)
            templates.append({entry.toObject().value(QStringLiteral("value_template")).toString(),
                              subscriber.last(entry.toObject().value(QStringLiteral("topic"))
                                                  .toString())});
        return render(templates).join(QLatin1Char(' ')).toStdString();
    };
    const QString station = QStringLiteral("lustbus/line/1/status");
    ASSERT_TRUE(waitFor([&] { return subscriber.last(station) == "online"; }));
    EXPECT_EQ(shown(), "online online");
    sim.removeStation(1);
    ASSERT_TRUE(waitFor([&] { return subscriber.last(station) == "silent"; }));
    EXPECT_EQ(shown(), "online offline");
}

} // namespace
