// lustbus bridge as a plant meets it: a real mosquitto broker on a free loopback port,
// the bridge program on the simulator, and a subscriber that sees what the broker
// delivers.
#include "cliprocess.h"
#include "mosquittofixture.h"
#include "mqttclient.h"
#include "simulator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QMap>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <iterator>

namespace {

// {"value": ...} compact, to compare values of every type.
std::string valueJson(const char *text)
{
    return compact(QStringLiteral("{\"value\": %1}").arg(QLatin1String(text)).toUtf8().constData());
}
std::string valueJson(const QJsonObject &object)
{
    return compact({{QStringLiteral("value"), object.value(QStringLiteral("value"))}});
}

class Bridge : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (mosquittoProgram().isEmpty())
            GTEST_SKIP() << "the mosquitto broker is not installed (Debian package mosquitto)";
        ASSERT_TRUE(broker.start()) << "mosquitto did not start";
        ASSERT_TRUE(subscriber.start(broker.port)) << "the subscriber did not connect";
    }
    void TearDown() override
    {
        if (bridge.state() != QProcess::NotRunning) {
            bridge.kill();
            bridge.waitForFinished();
        }
    }

    // The bridge with options (its link among them), publishing under lustbus/BUS;
    // returns once it says "online" there, or at once for an empty bus.
    void startBridge(const QString &options, const QString &bus = QStringLiteral("sim"))
    {
        runBridge(args(QStringLiteral("bridge --catalogue " LUSTBUS_SAMPLE_CATALOGUE
                                      " --broker 127.0.0.1:%1 %2")
                           .arg(broker.port).arg(options).toUtf8().constData()),
                  bus);
    }
    void runBridge(const QStringList &arguments, const QString &bus)
    {
        bridge.setProcessEnvironment(cliEnvironment());
        const int from = subscriber.count();
        bridge.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
        ASSERT_TRUE(bridge.waitForStarted());
        // This bridge's "online", not the previous one's: it has subscribed to set
        // messages only then.
        ASSERT_TRUE(bus.isEmpty() || waitFor([&] {
            return subscriber.last(QStringLiteral("lustbus/%1/status").arg(bus), from) == "online";
        }))
            << "state " << bridge.state() << ", stdout: " << bridge.readAllStandardOutput().toStdString()
            << ", stderr: " << bridge.readAllStandardError().toStdString();
    }
    // SIGTERM, then the bridge's stderr; the exit status must be 0.
    QString stopBridge()
    {
        signalProcess(bridge.processId(), SIGTERM);
        EXPECT_TRUE(bridge.waitForFinished(5000));
        EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(bridge.exitCode(), 0);
        return QString::fromUtf8(bridge.readAllStandardError());
    }
    QJsonObject value(const QString &name, int from = 0,
                      const QString &station = QStringLiteral("sim/1"))
    {
        const QString topic = QStringLiteral("lustbus/%1/%2").arg(station, name);
        EXPECT_TRUE(subscriber.waitForMessage(topic, from)) << topic.toStdString();
        return subscriber.lastJson(topic, from);
    }
    // Publishes payload on TOPIC/set and returns what comes on TOPIC/result.
    QJsonObject write(const QString &topic, const QByteArray &payload)
    {
        const int from = subscriber.count();
        subscriber.publish(topic + QStringLiteral("/set"), payload);
        EXPECT_TRUE(subscriber.waitForMessage(topic + QStringLiteral("/result"), from));
        return subscriber.lastJson(topic + QStringLiteral("/result"), from);
    }

    Broker broker;
    Subscriber subscriber;
    QProcess bridge;
};

// Every data type by name, retained, with its unit; offline after a clean stop.
TEST_F(Bridge, PublishesEveryTypeByNameAndGoesOfflineOnStop)
{
    startBridge(QStringLiteral("--sim --poll current_trim,speed_setpoint,encoder_offset,"
                               "current_limit,ramp_time,torque_offset,drive_name,gains,ramp_times@200"));
    const struct { const char *name, *value /* as JSON */, *unit; } cases[] = {
        {"current_trim", "-100", "%"},
        {"speed_setpoint", "-1234", "rpm"},
        {"encoder_offset", "3735928559", "inc"},
        {"current_limit", "1.5", "A"},
        {"ramp_time", "1.25", "s"},
        {"torque_offset", "2.5", "Nm"},
        {"drive_name", "\"LUST CDE SIM\"", ""},
        {"gains", "[0,-1,2,-3,4,-5,6,-7]", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject got = value(QString::fromLatin1(c.name));
        EXPECT_TRUE(got.value(QStringLiteral("ok")).toBool());
        EXPECT_EQ(got.value(QStringLiteral("unit")).toString().toStdString(), c.unit);
        EXPECT_TRUE(got.value(QStringLiteral("ts")).toString().endsWith(QLatin1Char('Z')));
        for (const char *key : {"ok", "ts", "unit"})
            got.remove(QLatin1String(key));
        EXPECT_EQ(compact(got), valueJson(c.value));
    }
    // Retained: a subscriber that comes later gets every value at once, unchanged.
    Subscriber later;
    ASSERT_TRUE(later.start(broker.port));
    for (const auto &c : cases) {
        const QString topic = QStringLiteral("lustbus/sim/1/") + QLatin1String(c.name);
        ASSERT_TRUE(later.waitForMessage(topic, 0, 1000)) << c.name;
        EXPECT_EQ(later.last(topic), subscriber.last(topic)) << c.name;
    }
    const int before = subscriber.count();
    stopBridge();
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/sim/status"), before));
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/sim/status"), before), "offline");
}

// An MQTT 5 request at QoS 1 with a response topic gets its result there, with its
// correlation data, and nothing on .../result. A duplicate of a request after another
// write gets its result again, not a second write.
TEST_F(Bridge, AnMqtt5RequestGetsItsResultOnItsResponseTopic)
{
    const QString replies = QStringLiteral("lustbus/replies/hmi");
    QList<QByteArray> correlations;
    QObject::connect(&subscriber.client, &MqttClient::messageReceived, &subscriber.client,
                     [&](const QString &topic, const QByteArray &, const QString &,
                         const QByteArray &correlation) {
                         if (topic == replies)
                             correlations.append(correlation);
                     });
    startBridge(QStringLiteral("--sim --poll speed_setpoint@200 --allow-writes --qos 1"));
    const struct { const char *payload, *correlation; bool ok; } cases[] = {
        {"700", "request-1", true}, {"7000", "request-2", false},
        {"900", "request-3", true}, {"700", "request-1", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.correlation);
        const int from = subscriber.count();
        subscriber.client.publish(QStringLiteral("lustbus/sim/1/speed_setpoint/set"), c.payload,
                                  1, false, replies, c.correlation);
        ASSERT_TRUE(subscriber.waitForMessage(replies, from));
        const QJsonObject result = subscriber.lastJson(replies, from);
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), c.ok) << compact(result);
        ASSERT_FALSE(correlations.isEmpty());
        EXPECT_EQ(correlations.last(), QByteArray(c.correlation));
        EXPECT_TRUE(subscriber.last(QStringLiteral("lustbus/sim/1/speed_setpoint/result"), from)
                        .isEmpty());
        if (c.correlation == QByteArray("request-2")) {
            EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value("value").toInt(), 700);
        }
    }
    waitFor([] { return false; }, 300); // two polls
    EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value(QStringLiteral("value")).toInt(), 900);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("2 writes, 1 refused"))) << err.toStdString();
}

// Writes from .../set: carried out and read back, or refused with the cause and
// nothing sent on the bus.
TEST_F(Bridge, WritesLandOrAreRefusedWithTheCause)
{
    // result: the "value" of an ok result, or a part of the error.
    const struct { const char *name, *payload, *result; bool ok; } cases[] = {
        {"speed_setpoint", "500", "500", true},
        {"gains", "[1, 2, 3, 4, 5, 6, 7, 8]", "[1,2,3,4,5,6,7,8]", true},
        {"drive_name", "\"AXIS 3\"", "\"AXIS 3\"", true},
        {"speed_setpoint", "5000", "5000 lies outside its range -3000 to 3000", false},
        {"firmware_version", "5", "firmware_version is read-only", false},
        {"speed_setpoint", "abc", "bad value 'abc'", false},
        {"gains", "[1, 2]", "gains has 8 elements; the value gives 2", false},
        {"no_such", "1", "no parameter 'no_such' in sample.json", false},
        {"01/speed_setpoint", "1", "station '01' is not on this bridge", false},
    };
    startBridge(QStringLiteral("--sim --poll speed_setpoint,gains,drive_name@200 --allow-writes"));
    int written = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name + std::string(" = ") + c.payload);
        // A name with a '/' names its station itself.
        const int from = subscriber.count();
        const QJsonObject result = write(QStringLiteral("lustbus/sim/")
                                         + (std::strchr(c.name, '/') ? "" : "1/")
                                         + QLatin1String(c.name), c.payload);
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), c.ok) << compact(result);
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(),
                  QLatin1String(c.ok ? "done" : "refused"));
        if (c.ok) {
            ++written;
            EXPECT_EQ(valueJson(result), valueJson(c.result));
            // The servo holds it: the value topic, read back, says so.
            EXPECT_EQ(valueJson(value(QLatin1String(c.name), from)), valueJson(c.result));
        } else {
            EXPECT_TRUE(result.value(QStringLiteral("error")).toString()
                            .contains(QLatin1String(c.result)))
                << compact(result);
        }
    }
    const QString err = stopBridge();
    // Refused writes never reached the bus.
    EXPECT_TRUE(err.contains(QStringLiteral("%1 writes, %2 refused")
                                 .arg(written).arg(int(std::size(cases)) - written)))
        << err.toStdString();
}

// An unchanged value goes out again only at the heartbeat, however often it is polled.
// Without --allow-writes a write is refused: the value stays as it was.
TEST_F(Bridge, AnUnchangedValueIsPublishedOnlyAtTheHeartbeat)
{
    startBridge(QStringLiteral("--sim --poll speed_setpoint@50 --heartbeat 1"));
    const QString setpoint = QStringLiteral("lustbus/sim/1/speed_setpoint");
    const QJsonObject refused = write(setpoint, "500");
    EXPECT_TRUE(refused.value(QStringLiteral("error")).toString().contains(
        QStringLiteral("writes are off"))) << compact(refused);
    const auto count = [&] {
        int n = 0;
        for (const Message &message : qAsConst(subscriber.messages))
            n += message.topic == setpoint;
        return n;
    };
    // About 30 polls in 1.5 s: the first value and one heartbeat.
    ASSERT_TRUE(waitFor([&] { return count() >= 2; }, 3000));
    waitFor([] { return false; }, 400);
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value("value").toInt(), -1234);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("0 writes, 1 refused"))) << err.toStdString();
}

// A broker that restarts keeps the will it published for the lost bridge, "offline",
// until the bridge is back: then "online" and every value again.
TEST_F(Bridge, ReconnectsAndRepublishesAfterTheBrokerRestarts)
{
    const QString status = QStringLiteral("lustbus/sim/status");
    const QString name = QStringLiteral("lustbus/sim/1/drive_name");
    startBridge(QStringLiteral("--sim --poll speed_setpoint,drive_name@200"));
    value(QStringLiteral("drive_name"));
    broker.stop();
    ASSERT_TRUE(broker.start());
    // There before the bridge's first retry, a second after the loss.
    Subscriber late;
    ASSERT_TRUE(late.start(broker.port));
    ASSERT_TRUE(late.waitForMessage(status));
    EXPECT_EQ(late.last(status), "offline");
    ASSERT_TRUE(waitFor([&] { return late.last(status) == "online"; }, 8000));
    int online = late.count() - 1;
    while (late.messages.at(online).topic != status)
        --online;
    ASSERT_TRUE(late.waitForMessage(name, online)) << "not published again";
    EXPECT_EQ(late.lastJson(name).value(QStringLiteral("value")).toString(),
              QStringLiteral("LUST CDE SIM"));
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("broker lost"))) << err.toStdString();
}

// Usage errors name the bad option before anything is opened.
TEST_F(Bridge, BadOptionsAreUsageErrors)
{
#define ON_SIM "bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1"
    const Expected runs[] = {
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE, 2, "",
         "no broker: give --broker HOST[:PORT]"},
        {"bridge --sim --broker 127.0.0.1", 2, "", "no catalogue"},
        {ON_SIM " --poll x", 2, "", "bad --poll 'x': no parameter 'x' in sample.json"},
        {ON_SIM " --poll gains@5", 2, "",
         "bad --poll 'gains@5': the interval after '@' is 10 to 3600000 ms"},
        {ON_SIM " --bus a/b", 2, "", "bad --bus 'a/b': one topic level, without '/'"},
        {ON_SIM " --reply-prefix hmi/#", 2, "",
         "bad --reply-prefix 'hmi/#': '+' and '#' are MQTT wildcards"},
        {ON_SIM " --discovery-prefix ha/+", 2, "",
         "bad --discovery-prefix 'ha/+': '+' and '#' are MQTT wildcards"},
        {ON_SIM " --prefix a/#", 2, "", "bad --prefix 'a/#': '+' and '#' are MQTT wildcards"},
        {ON_SIM " --qos 2", 2, "", "bad --qos '2'"},
        {ON_SIM " --password-file /nonexistent", 2, "", "--password-file needs --username"},
        {ON_SIM " --username u --password-file /nonexistent", 2, "",
         "cannot read --password-file '/nonexistent'"},
    };
#undef ON_SIM
    expectRuns(runs);

    // PREFIX/BUS/STATION/status and .../identity are the station's, not a parameter's;
    // a catalogue that identifies no drive takes no writes.
    const struct { const char *file, *parameters, *options, *error; } catalogues[] = {
        {"status.json", R"({"name": "status", "number": 40, "type": "USIGN16"})", "",
         "status.json has a parameter 'status', whose topic would be the station's status "
         "topic: rename it"},
        {"identity.json", R"({"name": "identity", "number": 40, "type": "USIGN16", "access": "ro"})",
         "", "identity.json has a parameter 'identity', whose topic would be the station's "
             "identity topic: rename it"},
        {"anonymous.json", R"({"name": "speed", "number": 12, "type": "INT16"})", "--allow-writes",
         "catalogue anonymous.json names nothing that identifies a drive (no entry with "
         "\"identity\": true, no read-only simple parameter): with --allow-writes the bridge "
         "would write to drives it cannot identify"},
    };
    QTemporaryDir dir;
    for (const auto &c : catalogues) {
        SCOPED_TRACE(c.file);
        QFile catalogue(dir.filePath(QLatin1String(c.file)));
        ASSERT_TRUE(catalogue.open(QIODevice::WriteOnly));
        catalogue.write(QByteArray(R"({"parameters": [)") + c.parameters + "]}");
        catalogue.close();
        expectRun(QStringList{QStringLiteral("bridge"), QStringLiteral("--sim"),
                              QStringLiteral("--broker"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("--catalogue"), catalogue.fileName()}
                      + args(c.options),
                  2, QLatin1String(c.error));
    }
}

// The simulator in this process on a pseudo-terminal, for tests that change its
// servos' values or count what reaches its line; the bridge publishes it as lustbus/line.
class SimulatedBus : public Bridge
{
protected:
    void startOnLine(std::initializer_list<int> stations, const char *options)
    {
        for (int station : stations)
            sim.setStation(station, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(LustBusSim::Simulator::Pty)) << sim.errorString().toStdString();
        startBridge(QStringLiteral("--port %1 --settings RS485,57600,NONE,8,1 --bus line %2")
                        .arg(sim.slaveName(), QLatin1String(options)),
                    QStringLiteral("line"));
    }

    LustBusSim::Simulator sim;
};

// A change inside a servo reaches the broker within one poll interval, on every
// station. A repeat of the last write while the servo still holds its value is taken
// for a QoS 1 duplicate; once the value has changed, the same request is written again.
TEST_F(SimulatedBus, ValuesFollowEveryServoAndARepeatIsWrittenOnce)
{
    using LustBusSim::Parameter;
    startOnLine({1, 2}, "--station 1 --station 2 --poll speed_setpoint,gains@300 --allow-writes");
    for (const char *station : {"line/1", "line/2"})
        EXPECT_EQ(value(QStringLiteral("speed_setpoint"), 0, QLatin1String(station))
                      .value(QStringLiteral("value")).toInt(), -1234) << station;
    const struct { int station; Parameter parameter; const char *name, *value; } changes[] = {
        {2, Parameter::simple(12, LustBus::DataType::Int16, 777), "speed_setpoint", "777"},
        {1, Parameter::array(101, LustBus::DataType::Int16, {8, 7, 6, 5, 4, 3, 2, 1}), "gains",
         "[8,7,6,5,4,3,2,1]"},
    };
    for (const auto &c : changes) {
        SCOPED_TRACE(c.name);
        const QString topic = QStringLiteral("lustbus/line/%1/%2").arg(c.station).arg(c.name);
        const int from = subscriber.count();
        ASSERT_TRUE(sim.setParameter(c.station, c.parameter));
        // One interval of 300 ms, and as much again for the broker and this process.
        ASSERT_TRUE(subscriber.waitForMessage(topic, from, 600));
        EXPECT_EQ(valueJson(subscriber.lastJson(topic, from)), valueJson(c.value));
    }

    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "a repeat" : "the same request after a change");
        EXPECT_TRUE(write(setpoint, "600").value(QStringLiteral("ok")).toBool());
        EXPECT_TRUE(write(setpoint, "600").value(QStringLiteral("ok")).toBool());
        Parameter held;
        ASSERT_TRUE(sim.parameter(1, 12, &held));
        EXPECT_EQ(held.raw(), 600);
        if (round == 0) {
            const int from = subscriber.count();
            ASSERT_TRUE(sim.setParameter(1, Parameter::simple(12, LustBus::DataType::Int16, 100)));
            ASSERT_TRUE(subscriber.waitForMessage(setpoint, from));
        }
    }
    const QString err = stopBridge();
    // The first request of each round written, its repeat answered.
    EXPECT_TRUE(err.contains(QStringLiteral("2 writes, 0 refused"))) << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("a duplicate of a request already carried out")), 2)
        << err.toStdString();
}

// Silent stations: two requests without a response make a station silent. Its status
// and values say so, it is asked once in a long while, and the station that answers
// keeps its pace: counted in requests on the line, not in time. A write to it waits
// for one request at most; one to a silent station is refused without sending.
TEST_F(SimulatedBus, ASilentStationIsAskedRarelyAndTheOthersKeepTheirPace)
{
    startOnLine({1}, "--station 1 --station 3 --station 4 --poll speed_setpoint,gains@100 "
                     "--timeout 150 --retries 1 --allow-writes --stats-interval 1");
    const auto status = [this](int station) {
        return subscriber.last(QStringLiteral("lustbus/line/%1/status").arg(station));
    };
    // Each status follows its station's own requests, in no fixed order across rounds
    // (a request lost with the link counts for no station).
    ASSERT_TRUE(waitFor([&] {
        return status(1) == "online" && status(3) == "silent" && status(4) == "silent";
    })) << "statuses " << status(1).constData() << ", " << status(3).constData() << ", "
        << status(4).constData() << "; stderr: " << bridge.readAllStandardError().toStdString();
    const QJsonObject unavailable = value(QStringLiteral("gains"), 0, QStringLiteral("line/3"));
    EXPECT_FALSE(unavailable.value(QStringLiteral("ok")).toBool(true));
    EXPECT_EQ(unavailable.value(QStringLiteral("error")).toString(),
              QStringLiteral("not tried: station 3 does not answer"));

    // Station 1's reads go on at their pace; 3 and 4 get a single attempt now and then.
    sim.resetCounters();
    ASSERT_TRUE(waitFor([&] { return sim.counters().answered >= 30; }));
    EXPECT_LE(sim.counters().foreign, 4u) << sim.counters().answered << " answered";
    const quint64 before = sim.counters().foreign;
    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
    EXPECT_TRUE(write(setpoint, "321").value(QStringLiteral("ok")).toBool());
    EXPECT_LE(sim.counters().foreign - before, 1u) << "the write waited for silent stations";
    const QJsonObject refused = write(QStringLiteral("lustbus/line/3/speed_setpoint"), "321");
    EXPECT_EQ(refused.value(QStringLiteral("error")).toString(),
              QStringLiteral("not tried: station 3 does not answer"));

    // A flood while the servo answers slowly: the first MaxWaitingWrites wait, the rest
    // are refused at once; every request gets its result.
    const auto results = [&](int from, const char *part) {
        int n = 0;
        for (int i = from; i < subscriber.count(); ++i)
            n += subscriber.messages.at(i).topic == setpoint + QStringLiteral("/result")
                 && subscriber.messages.at(i).payload.contains(part);
        return n;
    };
    const auto setFaults = [this](const char *text) {
        LustBusSim::FaultPlan plan;
        QString error;
        EXPECT_TRUE(LustBusSim::FaultPlan::parse(QLatin1String(text), &plan, &error));
        sim.setFaultPlan(plan);
    };
    setFaults("delay:1.0@100");
    const int from = subscriber.count();
    for (int i = 0; i < 300; ++i)
        subscriber.publish(setpoint + QStringLiteral("/set"), QByteArray::number(i));
    EXPECT_TRUE(waitFor([&] {
        return results(from, "256 writes are waiting for the bus already") > 0;
    }));
    setFaults("");
    EXPECT_TRUE(waitFor([&] { return results(from, "") == 300; })) << results(from, "");

    // Rounds with a probe overrun, the others keep their interval.
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/line/stats"), from, 3000));
    const QJsonObject stats = subscriber.lastJson(QStringLiteral("lustbus/line/stats"));
    EXPECT_LT(stats.value(QStringLiteral("overruns")).toInt() * 2,
              stats.value(QStringLiteral("rounds")).toInt()) << compact(stats);
    const QJsonArray stations = stats.value("link").toObject().value("stations").toArray();
    const auto third = std::find_if(stations.begin(), stations.end(), [](const QJsonValue &s) {
        return s.toObject().value(QStringLiteral("station")).toInt() == 3;
    });
    ASSERT_NE(third, stations.end()) << compact(stats);
    EXPECT_GE((*third).toObject().value(QStringLiteral("errors")).toInt(), 2);

    // Switched on, it is found at its next probe (after 1, 3, 7 s of silence).
    const int on = subscriber.count();
    sim.setStation(3, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(waitFor([&] { return status(3) == "online"; }, 9000));
    EXPECT_EQ(value(QStringLiteral("gains"), on, QStringLiteral("line/3")).value("value"),
              QJsonArray({0, -1, 2, -3, 4, -5, 6, -7}));
    const QString err = stopBridge();
    for (const char *line : {"station 3 does not answer; asked once every 1 to 16 s",
                             "station 3 answers again", "write 3/speed_setpoint refused: not tried"})
        EXPECT_TRUE(err.contains(QLatin1String(line))) << line << '\n' << err.toStdString();
}

// A write that comes in during a round goes to the bus before the round's next read,
// not after the round: counted in requests on the line, while every reply comes late
// and the rounds of twelve reads follow each other without a pause.
TEST_F(SimulatedBus, AWriteWaitsForOneReadNotForTheRound)
{
    startOnLine({1}, "--poll current_trim,brake_delay,speed_setpoint,control_word,"
                     "position_target,encoder_offset,current_limit,ramp_time,torque_offset,"
                     "drive_name,io_map,gains@10 --timeout 300 --retries 0 --allow-writes");
    value(QStringLiteral("gains"), 0, QStringLiteral("line/1"));
    LustBusSim::FaultPlan plan;
    QString error;
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(QStringLiteral("delay:1.0@100"), &plan, &error));
    sim.setFaultPlan(plan);
    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
    for (int payload = 500; payload < 505; ++payload) {
        SCOPED_TRACE(payload);
        const quint64 before = sim.counters().requests;
        EXPECT_TRUE(write(setpoint, QByteArray::number(payload)).value("ok").toBool());
        // The reads on the line while the request reaches the bridge, the write and its
        // read back, and the next read begun: not the rest of a round of twelve.
        EXPECT_LE(sim.counters().requests - before, 6u);
    }
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("5 writes, 0 refused"))) << err.toStdString();
}

// A write has three outcomes, and a write without a valid reply is settled by reading
// it back. Each row's fault hits the write's request (nothing is polled meanwhile).
TEST_F(SimulatedBus, AWriteSaysWhetherItWasDoneRefusedOrIsUnknown)
{
    // An adapter that hears its own telegrams, so that an echo can come back wrong.
    sim.setLocalEcho(true);
    startOnLine({1}, "--poll drive_name@3600000 --timeout 150 --retries 0 --allow-writes --echo");
    // The first round is over: the faults below hit the writes, not its reads.
    value(QStringLiteral("drive_name"), 0, QStringLiteral("line/1"));
    const struct
    {
        const char *faults;
        int wrongEchoes;
        const char *payload, *outcome, *text /* note or error */;
        int held;
    } cases[] = {
        // The servo took it; the line garbled the echo of the request, which counts as
        // a lost bus: the next write reads the drive's identity again first.
        {"", 1, "700", "done", "confirmed by read back", 700},
        {"", 0, "100", "done", "", 100},
        {"nak:1", 0, "200", "refused", "write INT16:12> invalid param no.", 100},
        // The acknowledgement came back damaged or from elsewhere.
        {"corrupt:1", 0, "300", "done", "confirmed by read back", 300},
        {"wrongstation:1", 0, "400", "done", "confirmed by read back", 400},
        {"noreply:1", 0, "500", "refused", "no reply; read back shows 400: not carried out", 400},
        {"noreply:2", 0, "600", "unknown",
         "write INT16:12> no response; reading it back failed too (read INT16:12> no response)",
         400},
    };
    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.faults) + " " + c.payload);
        LustBusSim::FaultPlan plan;
        QString error;
        ASSERT_TRUE(LustBusSim::FaultPlan::parse(QLatin1String(c.faults), &plan, &error));
        sim.setFaultPlan(plan);
        sim.setCorruptedEchoes(c.wrongEchoes);
        const QJsonObject result = write(setpoint, c.payload);
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString().toStdString(), c.outcome);
        const bool done = !std::strcmp(c.outcome, "done");
        const QString text = result.value(QLatin1String(done ? "note" : "error")).toString();
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), done);
        EXPECT_EQ(text.left(int(std::strlen(c.text))), QLatin1String(c.text)) << compact(result);
        LustBusSim::Parameter held;
        ASSERT_TRUE(sim.parameter(1, 12, &held));
        EXPECT_EQ(held.raw(), c.held);
    }
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("4 writes, 2 refused, 1 unknown"))) << err.toStdString();
}

// The bridge acts only on what was asked for now: a set message with the retain flag,
// stored on the broker before the bridge came or published live, is refused; a response
// topic outside the reply prefix gets nothing, its refusal goes to .../result. None of
// them reaches the bus: the simulator counts no request.
TEST_F(SimulatedBus, OnlyRequestsMadeNowAndAnsweredUnderTheReplyPrefixAreCarriedOut)
{
    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
    const QString result = setpoint + QStringLiteral("/result");
    subscriber.client.publish(setpoint + QStringLiteral("/set"), "111", 1, true);
    startOnLine({1}, "--poll drive_name@3600000 --allow-writes --qos 1 --reply-prefix hmi/answers");
    ASSERT_TRUE(subscriber.waitForMessage(result));
    EXPECT_TRUE(subscriber.lastJson(result).value(QStringLiteral("error")).toString()
                    .startsWith(QStringLiteral("a retained set message is not carried out")));
    value(QStringLiteral("drive_name"), 0, QStringLiteral("line/1"));
    const quint64 requests = sim.counters().requests;

    const struct { bool retained; const char *responseTopic, *error; } refused[] = {
        {true, "", "a retained set message is not carried out: publish set messages without retain"},
        {false, "lustbus/line/status", "the response topic 'lustbus/line/status' lies outside hmi/answers/#"},
        {false, "lustbus/line/1/gains", "the response topic 'lustbus/line/1/gains' lies outside"},
        {false, "hmi/answersx/a", "the response topic 'hmi/answersx/a' lies outside"},
        {false, "hmi/answers", "the response topic 'hmi/answers' lies outside"},
        {false, "lustbus/replies/hmi", "the response topic 'lustbus/replies/hmi' lies outside"},
    };
    Subscriber elsewhere;
    ASSERT_TRUE(elsewhere.start(broker.port, {}, QStringLiteral("#")));
    ASSERT_TRUE(elsewhere.waitForMessage(QStringLiteral("lustbus/line/status")));
    for (const auto &c : refused) {
        SCOPED_TRACE(c.responseTopic);
        const int from = subscriber.count();
        const int fromElsewhere = elsewhere.count();
        subscriber.client.publish(setpoint + QStringLiteral("/set"), "222", 1, c.retained,
                                  QLatin1String(c.responseTopic), "request");
        ASSERT_TRUE(subscriber.waitForMessage(result, from));
        const QJsonObject got = subscriber.lastJson(result, from);
        EXPECT_EQ(got.value(QStringLiteral("outcome")).toString(), QStringLiteral("refused"));
        EXPECT_TRUE(got.value(QStringLiteral("error")).toString().startsWith(QLatin1String(c.error)))
            << compact(got);
        if (*c.responseTopic) {
            EXPECT_TRUE(elsewhere.last(QLatin1String(c.responseTopic), fromElsewhere).isEmpty());
        }
    }
    EXPECT_EQ(sim.counters().requests, requests);
    LustBusSim::Parameter held;
    ASSERT_TRUE(sim.parameter(1, 12, &held));
    EXPECT_EQ(held.raw(), -1234);

    // Under the prefix, the same request is carried out and answered there.
    const QString replies = QStringLiteral("hmi/answers/panel-3");
    const int from = elsewhere.count();
    subscriber.client.publish(setpoint + QStringLiteral("/set"), "222", 1, false, replies, "r");
    ASSERT_TRUE(elsewhere.waitForMessage(replies, from));
    EXPECT_EQ(elsewhere.lastJson(replies, from).value(QStringLiteral("value")).toInt(), 222);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("1 writes, 7 refused"))) << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("write 1/speed_setpoint refused")), 7) << err.toStdString();
}

// The bus's status follows its link: "bus lost" when the TCP serial server goes away,
// "online" again once it is back, both in the log as the gateway words them. A write
// meanwhile never reaches a servo: refused, not unknown.
TEST_F(Bridge, TheBusStatusSaysWhenTheLinkIsLostAndBack)
{
    LustBusSim::Simulator sim;
    sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
    ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp)) << sim.errorString().toStdString();
    const quint16 port = sim.port();
    startBridge(QStringLiteral("--tcp 127.0.0.1:%1 --bus line --poll speed_setpoint@100 "
                               "--timeout 200 --retries 0 --reconnect-interval 100 "
                               "--allow-writes")
                    .arg(port),
                QStringLiteral("line"));
    const QString status = QStringLiteral("lustbus/line/status");
    const QString station = QStringLiteral("lustbus/line/1/status");
    ASSERT_TRUE(waitFor([&] { return subscriber.last(station) == "online"; }));
    sim.stop();
    ASSERT_TRUE(waitFor([&] { return subscriber.last(status) == "bus lost"; }))
        << subscriber.last(status).toStdString();
    const QJsonObject refused = write(QStringLiteral("lustbus/line/1/speed_setpoint"), "10");
    EXPECT_EQ(refused.value(QStringLiteral("outcome")).toString(), QStringLiteral("refused"));
    EXPECT_TRUE(refused.value(QStringLiteral("error")).toString().contains(
        QStringLiteral("(nothing sent: "))) << compact(refused);
    EXPECT_TRUE(sim.start(LustBusSim::Simulator::Tcp, port)) << sim.errorString().toStdString();
    ASSERT_TRUE(waitFor([&] { return subscriber.last(status) == "online"; }));
    EXPECT_EQ(subscriber.last(station), "online");
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("bus lost: "))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("bus back after "))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("does not answer"))) << err.toStdString();
}

// The sample catalogue's identity of the simulator's servo, as the bridge names it.
const char *const SimIdentity = "drive_type=\"CDE\", firmware_version=66051";

// Writes go only to the drive identified at a station. Its identity is read again
// once it answers after being silent or the link was reopened (the TCP serial server
// restarted): the same drive takes writes again; another one, whose values are still
// published, gets none, and every write to it is refused with both identities.
TEST_F(Bridge, AWriteGoesOnlyToTheDriveIdentifiedAtItsStation)
{
    const struct { const char *how; const char *driveType; } cases[] = {
        {"silent", "CDE"}, {"reopened", "CDE"}, {"silent", "CDX"}, {"reopened", "CDX"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.how) + " " + c.driveType);
        LustBusSim::Simulator sim;
        sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp)) << sim.errorString().toStdString();
        const quint16 port = sim.port();
        const int start = subscriber.count();
        startBridge(QStringLiteral("--tcp 127.0.0.1:%1 --bus line --poll speed_setpoint@100 "
                                   "--timeout 150 --retries 0 --reconnect-interval 100 "
                                   "--allow-writes")
                        .arg(port),
                    QStringLiteral("line"));
        const QString identity = QStringLiteral("lustbus/line/1/identity");
        ASSERT_TRUE(subscriber.waitForMessage(identity, start));
        EXPECT_EQ(subscriber.last(identity, start),
                  R"({"drive_type":"CDE","firmware_version":66051})");
        const QString station = QStringLiteral("lustbus/line/1/status");
        const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");
        EXPECT_TRUE(write(setpoint, "10").value(QStringLiteral("ok")).toBool());

        LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
        table.insert(LustBusSim::Parameter::text(21, c.driveType, true));
        if (!std::strcmp(c.how, "silent")) {
            sim.removeStation(1);
            ASSERT_TRUE(waitFor([&] { return subscriber.last(station) == "silent"; }));
            sim.setStation(1, table);
        } else {
            sim.stop();
            ASSERT_TRUE(waitFor([&] { return subscriber.last("lustbus/line/status") == "bus lost"; }));
            sim.setStation(1, table);
            ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp, port)) << sim.errorString().toStdString();
        }
        const bool same = !std::strcmp(c.driveType, "CDE");
        const QByteArray status = same ? "online" : "another drive";
        // A write before the link is back would be refused as well (see below).
        ASSERT_TRUE(waitFor([&] {
            return subscriber.last(QStringLiteral("lustbus/line/status")) == "online"
                   && subscriber.last(station) == status;
        }, 8000)) << subscriber.last(station).toStdString();
        const QString was = QLatin1String(SimIdentity);
        const QString now = QStringLiteral("drive_type=\"%1\", firmware_version=66051")
                                .arg(QLatin1String(c.driveType));
        const QString refusal = QStringLiteral("station 1 on tcp 127.0.0.1:%1: another drive "
                                               "answers: was %2, now %3; no writes to it until "
                                               "the bridge is started anew")
                                    .arg(port).arg(was, now);
        for (const char *payload : {"20", "30"}) {
            const QJsonObject result = write(setpoint, payload);
            EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(),
                      QLatin1String(same ? "done" : "refused")) << compact(result);
            if (!same) {
                EXPECT_EQ(result.value(QStringLiteral("error")).toString(), refusal);
            }
        }
        LustBusSim::Parameter held;
        ASSERT_TRUE(sim.parameter(1, 12, &held));
        EXPECT_EQ(held.raw(), same ? 30 : -1234);
        // The other drive's values are what the bus holds: still published.
        const QJsonObject published = subscriber.lastJson(setpoint);
        EXPECT_TRUE(published.value(QStringLiteral("ok")).toBool()) << compact(published);
        EXPECT_EQ(published.value(QStringLiteral("value")).toInt(), same ? 30 : -1234);
        const QString err = stopBridge();
        EXPECT_EQ(err.count(QStringLiteral("another drive answers")), same ? 0 : 1)
            << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("write 1/speed_setpoint refused: station 1: "
                                                "another drive")) != same) << err.toStdString();
    }
}

// A write goes out only after the drive's identity was read: counted in requests on the
// line. Until it can be read, writes to the station are refused with nothing written.
TEST_F(SimulatedBus, AWriteGoesOutOnlyAfterTheDriveWasIdentified)
{
    LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    ASSERT_TRUE(table.remove(20)); // firmware_version, the first identity entry
    sim.setStation(1, table);
    ASSERT_TRUE(sim.start(LustBusSim::Simulator::Pty)) << sim.errorString().toStdString();
    startBridge(QStringLiteral("--port %1 --settings RS485,57600,NONE,8,1 --bus line "
                               "--poll drive_name@3600000 --retries 0 --allow-writes")
                    .arg(sim.slaveName()),
                QStringLiteral("line"));
    const QString station = QStringLiteral("lustbus/line/1/status");
    ASSERT_TRUE(waitFor([&] { return subscriber.last(station) == "not identified"; }));
    value(QStringLiteral("drive_name"), 0, QStringLiteral("line/1"));
    const QString setpoint = QStringLiteral("lustbus/line/1/speed_setpoint");

    // requests: the identity's reads, the write and its read back.
    const struct { bool identifiable; const char *payload; quint64 requests; const char *outcome; } cases[] = {
        {false, "10", 1, "refused"}, {true, "20", 4, "done"}, {true, "30", 2, "done"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        if (c.identifiable) {
            sim.setParameter(1, LustBusSim::Parameter::simple(20, LustBus::DataType::USign32,
                                                              0x00010203, true));
        }
        const quint64 before = sim.counters().requests;
        const QJsonObject result = write(setpoint, c.payload);
        EXPECT_EQ(sim.counters().requests - before, c.requests);
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), QLatin1String(c.outcome));
        if (!c.identifiable) {
            EXPECT_EQ(result.value(QStringLiteral("error")).toString(),
                      QStringLiteral("cannot identify station 1 on serial %1 (RS485,57600,NONE,8,1): "
                                     "firmware_version: read USIGN32:20> invalid param no.")
                          .arg(sim.slaveName())) << compact(result);
        }
    }
    LustBusSim::Parameter held;
    ASSERT_TRUE(sim.parameter(1, 12, &held));
    EXPECT_EQ(held.raw(), 30);
    EXPECT_EQ(subscriber.last(station), "online");
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/line/1/identity")),
              R"({"drive_type":"CDE","firmware_version":66051})");
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("station 1 on serial %1 (RS485,57600,NONE,8,1) is %2")
                                 .arg(sim.slaveName(), QLatin1String(SimIdentity))))
        << err.toStdString();
}

// The first block of docs/plant.md fenced as ```KIND, as the guide gives it.
QString guideBlock(const char *kind)
{
    QFile file(QStringLiteral(LUSTBUS_SOURCE_DIR "/docs/plant.md"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(file.readAll());
    const QString fence = QStringLiteral("```%1\n").arg(QLatin1String(kind));
    const int start = text.indexOf(fence) + fence.size();
    const int end = text.indexOf(QStringLiteral("\n```"), start);
    return start < fence.size() || end < 0 ? QString() : text.mid(start, end - start + 1);
}

// The bridge command of docs/plant.md, its plant's paths and names replaced by this
// test's: the broker, the files, the catalogue, and the simulator for the serial port.
QStringList plantBridge(const QMap<QString, QString> &replaced)
{
    QStringList command;
    for (const QString &line : guideBlock("sh").split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('#')))
            command += line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    command.removeAll(QStringLiteral("\\"));
    command.removeFirst(); // lustbus
    for (QString &word : command)
        word = replaced.value(word, word);
    const int port = int(command.indexOf(QStringLiteral("--port")));
    if (port >= 0) {
        command.replace(port, QStringLiteral("--sim"));
        command.removeAt(port + 1);
    }
    // Stations 1 to 3 are not simulated: silent after a short time-out.
    return command + args("--timeout 100 --retries 0");
}

// Brokers as docs/plant.md sets them up: a listener that asks for a login over TLS and
// applies the guide's ACL, beside the anonymous one of this test's subscriber, and the
// bridge command of the guide as written.
class PlantGuide : public Bridge
{
protected:
    void SetUp() override
    {
        Bridge::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const QString passwd = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto_passwd"), args("/usr/bin /usr/sbin"));
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty() || passwd.isEmpty())
            GTEST_SKIP() << "openssl or mosquitto_passwd is not installed";
        // Two CAs, the brokers' certificate from the first, and the logins.
        QProcess shell;
        shell.setWorkingDirectory(broker.dir.path());
        shell.start(QStringLiteral("sh"), {QStringLiteral("-ec"), QStringLiteral(
            "key='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'\n"
            "for ca in ca other; do\n"
            "  openssl req -x509 $key -keyout $ca.key -out $ca.crt -days 1 -subj /CN=$ca\n"
            "done\n"
            "openssl req $key -keyout broker.key -out broker.csr -subj /CN=127.0.0.1\n"
            "echo subjectAltName=IP:127.0.0.1 > san\n"
            "openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
            "-out broker.crt -days 1 -extfile san\n"
            ": > passwords\n"
            "for user in bridge-line3 site-line3 dashboard hmi-line3; do\n"
            "  \"$0\" -b passwords $user pw-$user\n"
            "done\n"
            "chmod 0444 broker.key passwords"), passwd});
        ASSERT_TRUE(shell.waitForFinished(30000) && shell.exitCode() == 0)
            << shell.readAllStandardError().toStdString();
        ASSERT_TRUE(broker.writeFile("acl", guideBlock("text").toUtf8()));
        broker.stop();
        ASSERT_TRUE(broker.start(QStringLiteral("per_listener_settings true\n"
                                                "listener {port} 127.0.0.1\nallow_anonymous true\n")
                                 + plantListener(securePort)));
        ASSERT_TRUE(plain.start(broker.port, {}, QStringLiteral("plant/#")));
    }

    // The listener on port with the certificate, logins and ACL made in SetUp.
    QString plantListener(quint16 port) const
    {
        return QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\n"
                              "password_file %2/passwords\nacl_file %2/acl\ncafile %2/ca.crt\n"
                              "certfile %2/broker.crt\nkeyfile %2/broker.key\n")
            .arg(port)
            .arg(broker.dir.path());
    }
    // The guide's bridge on the broker at port, with this password and CA file.
    void startPlantBridge(quint16 port, const char *password = "pw-bridge-line3\n",
                          const char *ca = "ca.crt")
    {
        ASSERT_TRUE(broker.writeFile("bridge.pw", password));
        const QStringList command = plantBridge({
            {QStringLiteral("mqtt.plant:8883"), QStringLiteral("127.0.0.1:%1").arg(port)},
            {QStringLiteral("/etc/lustbus/ca.crt"), broker.file(ca)},
            {QStringLiteral("/etc/lustbus/line3.pw"), broker.file("bridge.pw")},
            {QStringLiteral("/etc/lustbus/cde.json"), QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE)},
        });
        ASSERT_TRUE(command.contains(QStringLiteral("--allow-writes")))
            << guideBlock("sh").toStdString();
        runBridge(command, QString());
    }
    // A client of the plant's listener, logged in as user, subscribed to plant/#.
    void logIn(Subscriber *client, const char *user)
    {
        MqttClient::Settings login;
        login.username = QLatin1String(user);
        login.password = QStringLiteral("pw-") + login.username;
        login.caFile = broker.file("ca.crt");
        ASSERT_TRUE(client->start(securePort, login, QStringLiteral("plant/#")));
    }

    const quint16 securePort = freePort();
    Subscriber plain;
};

// A wrong password or CA is named in the bridge's log; with the right ones, only a client
// that the ACL lets write gets a write to the bus.
TEST_F(PlantGuide, TheBridgeLogsInOverTlsAndOnlyTheHmiWrites)
{
    const struct { const char *password, *ca, *logged; } refused[] = {
        {"wrong\n", "ca.crt", "refused the connection: Not authorized"},
        {"pw-bridge-line3\n", "other.crt", "certificate verify failed"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.logged);
        startPlantBridge(securePort, c.password, c.ca);
        QByteArray err;
        EXPECT_TRUE(waitFor([&] {
            err += bridge.readAllStandardError();
            return err.contains(c.logged);
        })) << err.toStdString();
        bridge.kill();
        bridge.waitForFinished();
    }

    startPlantBridge(securePort);
    ASSERT_TRUE(waitFor([&] { return plain.last(QStringLiteral("plant/line3/status")) == "online"; }))
        << bridge.readAllStandardError().toStdString();
    // The dashboard's write never reaches the bridge; the HMI's does. The simulator
    // serves the last --station.
    const QString setpoint = QStringLiteral("plant/line3/4/speed_setpoint");
    Subscriber clients[2];
    const char *users[2] = {"dashboard", "hmi-line3"};
    for (int i = 0; i < 2; ++i) {
        logIn(&clients[i], users[i]);
        clients[i].publish(setpoint + QStringLiteral("/set"), i == 0 ? "111" : "222");
    }
    const QString result = setpoint + QStringLiteral("/result");
    ASSERT_TRUE(clients[1].waitForMessage(result));
    EXPECT_EQ(clients[1].lastJson(result).value(QStringLiteral("value")).toInt(), 222);
    waitFor([] { return false; }, 300); // time for the dashboard's, were it let through
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("1 writes, 0 refused"))) << err.toStdString();
}

// The site broker of the guide, joined to the central one by its connection section:
// an HMI's MQTT 5 request on the central broker comes in to the bridge, its reply and
// the value go out.
TEST_F(PlantGuide, ASiteBrokerLetsSetMessagesInAndRepliesOut)
{
    Broker site;
    QString connection = guideBlock("conf");
    connection.replace(QStringLiteral("central.plant:8883"), QStringLiteral("127.0.0.1:%1").arg(securePort))
        .replace(QStringLiteral("/etc/mosquitto/ca.crt"), broker.file("ca.crt"))
        .replace(QStringLiteral("site-line3-secret"), QStringLiteral("pw-site-line3"));
    ASSERT_TRUE(site.start(plantListener(site.port) + connection));
    Subscriber hmi;
    logIn(&hmi, "hmi-line3");
    startPlantBridge(site.port);
    // Once the bridge's "online" has come across, the set messages go the other way.
    ASSERT_TRUE(waitFor([&] { return hmi.last(QStringLiteral("plant/line3/status")) == "online"; },
                        10000));
    const QString setpoint = QStringLiteral("plant/line3/4/speed_setpoint");
    const QString replies = QStringLiteral("plant/replies/hmi-line3");
    const int from = hmi.count();
    hmi.client.publish(setpoint + QStringLiteral("/set"), "333", 1, false, replies, "c1");
    ASSERT_TRUE(hmi.waitForMessage(replies, from)) << stopBridge().toStdString();
    EXPECT_EQ(hmi.lastJson(replies, from).value(QStringLiteral("value")).toInt(), 333);
    ASSERT_TRUE(hmi.waitForMessage(setpoint, from));
    EXPECT_EQ(hmi.lastJson(setpoint, from).value(QStringLiteral("value")).toInt(), 333);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("1 writes, 0 refused"))) << err.toStdString();
}

} // namespace
