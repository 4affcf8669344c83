// lustbus bridge as a plant meets it: a real mosquitto broker on a free loopback port,
// the bridge program on the simulator, and a subscriber that sees what the broker
// delivers.
#include "cliprocess.h"
#include "mqttclient.h"
#include "simulator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <csignal>
#include <functional>
#include <memory>

namespace {

QString mosquittoProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          args("/usr/sbin /usr/local/sbin /usr/bin"));
}

// Processes events until done() holds or ms pass; whether it held.
bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// mosquitto with a generated configuration, in which {port} stands for a free loopback
// port and {dir} for the broker's directory. By default one anonymous listener and
// retained messages kept over a restart, as a plant's broker keeps them.
class Broker
{
public:
    bool start(const QString &config = QString())
    {
        if (port == 0) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            port = probe.serverPort();
            probe.close();
        }
        if (!config.isNull())
            m_config = config;
        // Run as root, mosquitto reads its files as the user mosquitto.
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                              | QFile::ReadOther | QFile::WriteOther
                                              | QFile::ExeOther);
        const QString configFile = dir.filePath(QStringLiteral("mosquitto.conf"));
        QString text = m_config.isEmpty() ? QStringLiteral("listener {port} 127.0.0.1\n"
                                                           "allow_anonymous true\n")
                                          : m_config;
        text += QStringLiteral("persistence true\npersistence_location {dir}/\n");
        text.replace(QStringLiteral("{port}"), QString::number(port))
            .replace(QStringLiteral("{dir}"), dir.path());
        if (!writeFile(configFile, text.toUtf8()))
            return false;
        process.start(mosquittoProgram(), {QStringLiteral("-c"), configFile});
        if (!process.waitForStarted())
            return false;
        // Ready once it takes connections.
        return waitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(100) || process.state() == QProcess::NotRunning;
        }) && process.state() == QProcess::Running;
    }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished();
    }
    ~Broker() { stop(); }
    bool writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
               && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;

private:
    QString m_config;
};

struct Message
{
    QString topic;
    QByteArray payload;
};

// Everything under a pattern, in the order the broker delivers it, handed to the
// test's thread.
class Subscriber
{
public:
    // Subscribes to pattern once connected with settings on port.
    bool start(quint16 port, MqttClient::Settings settings = {},
               const QString &pattern = QStringLiteral("lustbus/#"))
    {
        QObject::connect(&client, &MqttClient::connected, &client, [this, pattern] {
            client.subscribe(pattern, 1);
            subscribed = true;
        });
        QObject::connect(&client, &MqttClient::messageReceived, &client,
                         [this](const QString &topic, const QByteArray &payload) {
                             messages.append({topic, payload});
                         });
        settings.port = port;
        return client.start(settings) && waitFor([this] { return subscribed; });
    }
    void publish(const QString &topic, const QByteArray &payload)
    {
        client.publish(topic, payload, 1, false);
    }
    // The last message on topic after the first from, or an empty payload.
    QByteArray last(const QString &topic, int from = 0) const
    {
        for (int i = int(messages.size()) - 1; i >= from; --i) {
            if (messages.at(i).topic == topic)
                return messages.at(i).payload;
        }
        return QByteArray();
    }
    bool waitForMessage(const QString &topic, int from = 0, int ms = 5000)
    {
        return waitFor([&] { return !last(topic, from).isEmpty(); }, ms);
    }
    MqttClient client;
    QList<Message> messages;
    bool subscribed = false;
};

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

    void startBridge(const QStringList &extra)
    {
        startBridgeOn({QStringLiteral("--sim")}, QStringLiteral("sim"), extra);
    }
    // The bridge on link (its options), publishing under lustbus/BUS; returns once it
    // says "online", or with a failure when waitOnline and it does not.
    void startBridgeOn(const QStringList &link, const QString &bus, const QStringList &extra,
                       bool waitOnline = true)
    {
        bridge.setProcessEnvironment(cliEnvironment());
        bridge.start(QStringLiteral(LUSTBUS_CLI_PATH),
                     QStringList{QStringLiteral("bridge"), QStringLiteral("--catalogue"),
                                 QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE),
                                 QStringLiteral("--broker"),
                                 QStringLiteral("127.0.0.1:%1").arg(broker.port)}
                         + link + extra);
        ASSERT_TRUE(bridge.waitForStarted());
        if (!waitOnline)
            return;
        // The previous bridge's "offline" may still be on its way.
        ASSERT_TRUE(waitFor([&] {
            return subscriber.last(QStringLiteral("lustbus/%1/status").arg(bus)) == "online";
        }))
            << "state " << bridge.state() << ", stdout: " << bridge.readAllStandardOutput().toStdString()
            << ", stderr: " << bridge.readAllStandardError().toStdString();
    }
    // SIGTERM, then the bridge's stderr; the exit status must be 0.
    QString stopBridge()
    {
        ::kill(pid_t(bridge.processId()), SIGTERM);
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
        return json(QString::fromUtf8(subscriber.last(topic, from)));
    }

    Broker broker;
    Subscriber subscriber;
    QProcess bridge;
};

// Every data type by name, retained, with its unit; offline after a clean stop.
TEST_F(Bridge, PublishesEveryTypeByNameAndGoesOfflineOnStop)
{
    startBridge({QStringLiteral("--poll"),
                 QStringLiteral("current_trim,speed_setpoint,encoder_offset,current_limit,"
                                "ramp_time,torque_offset,drive_name,gains,ramp_times@200")});
    const struct
    {
        const char *name;
        const char *value; // as JSON
        const char *unit;
    } cases[] = {
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
        got.remove(QStringLiteral("ok"));
        got.remove(QStringLiteral("ts"));
        got.remove(QStringLiteral("unit"));
        EXPECT_EQ(compact(got),
                  compact(QStringLiteral("{\"value\": %1}").arg(QLatin1String(c.value))
                              .toUtf8()
                              .constData()));
    }
    // Retained: a subscriber that comes later gets every value at once, unchanged.
    Subscriber later;
    ASSERT_TRUE(later.start(broker.port));
    for (const auto &c : cases) {
        const QString topic = QStringLiteral("lustbus/sim/1/") + QLatin1String(c.name);
        ASSERT_TRUE(later.waitForMessage(topic, 0, 1000)) << c.name;
        EXPECT_EQ(later.last(topic), subscriber.last(topic)) << c.name;
    }
    const int before = int(subscriber.messages.size());
    stopBridge();
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/sim/status"), before));
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/sim/status"), before), "offline");
}

// An MQTT 5 request at QoS 1 with a response topic gets its result there, with its
// correlation data, and nothing on .../result.
TEST_F(Bridge, AnMqtt5RequestGetsItsResultOnItsResponseTopic)
{
    QList<QByteArray> correlations;
    QObject::connect(&subscriber.client, &MqttClient::messageReceived, &subscriber.client,
                     [&](const QString &topic, const QByteArray &, const QString &,
                         const QByteArray &correlation) {
                         if (topic == QLatin1String("lustbus/replies/hmi"))
                             correlations.append(correlation);
                     });
    startBridge(args("--poll speed_setpoint@200 --allow-writes --qos 1"));
    const struct
    {
        const char *payload;
        const char *correlation;
        bool ok;
    } cases[] = {{"700", "request-1", true}, {"7000", "request-2", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        const int from = int(subscriber.messages.size());
        subscriber.client.publish(QStringLiteral("lustbus/sim/1/speed_setpoint/set"), c.payload,
                                  1, false, QStringLiteral("lustbus/replies/hmi"),
                                  c.correlation);
        ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/replies/hmi"), from));
        const QJsonObject result = json(
            QString::fromUtf8(subscriber.last(QStringLiteral("lustbus/replies/hmi"), from)));
        EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), c.ok) << compact(result);
        ASSERT_FALSE(correlations.isEmpty());
        EXPECT_EQ(correlations.last(), QByteArray(c.correlation));
        EXPECT_TRUE(subscriber.last(QStringLiteral("lustbus/sim/1/speed_setpoint/result"), from)
                        .isEmpty());
    }
    EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value(QStringLiteral("value")).toInt(), 700);

    // A duplicate of request-1 after another write: its result again, not a second write.
    for (const char *correlation : {"request-3", "request-1"}) {
        const int from = int(subscriber.messages.size());
        subscriber.client.publish(QStringLiteral("lustbus/sim/1/speed_setpoint/set"),
                                  correlation == QByteArray("request-3") ? "900" : "700", 1,
                                  false, QStringLiteral("lustbus/replies/hmi"), correlation);
        ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/replies/hmi"), from));
        EXPECT_EQ(correlations.last(), QByteArray(correlation));
    }
    waitFor([] { return false; }, 300); // two polls
    EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value(QStringLiteral("value")).toInt(), 900);
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("2 writes, 1 refused"))) << err.toStdString();
}

// A bridge that dies leaves "offline" behind through its will.
TEST_F(Bridge, TheWillSaysOfflineWhenTheBridgeDies)
{
    startBridge(args("--poll speed_setpoint@200"));
    const int before = int(subscriber.messages.size());
    bridge.kill();
    bridge.waitForFinished();
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/sim/status"), before));
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/sim/status"), before), "offline");
}

// Writes from .../set: carried out and read back, or refused with the cause and
// nothing sent on the bus.
TEST_F(Bridge, WritesLandOrAreRefusedWithTheCause)
{
    const struct
    {
        bool allowWrites;
        const char *name;
        const char *payload;
        const char *result; // the "value" of an ok result, or a part of the error
        bool ok;
    } cases[] = {
        {true, "speed_setpoint", "500", "500", true},
        {true, "gains", "[1, 2, 3, 4, 5, 6, 7, 8]", "[1,2,3,4,5,6,7,8]", true},
        {true, "drive_name", "\"AXIS 3\"", "\"AXIS 3\"", true},
        {true, "speed_setpoint", "5000", "5000 lies outside its range -3000 to 3000", false},
        {true, "firmware_version", "5", "firmware_version is read-only", false},
        {true, "speed_setpoint", "abc", "bad value 'abc'", false},
        {true, "gains", "[1, 2]", "gains has 8 elements; the value gives 2", false},
        {true, "no_such", "1", "no parameter 'no_such' in sample.json", false},
        {true, "7/speed_setpoint", "1", "station '7' is not on this bridge", false},
        {true, "01/speed_setpoint", "1", "station '01' is not on this bridge", false},
        {false, "speed_setpoint", "500", "writes are off", false},
    };
    for (const bool allowWrites : {true, false}) {
        SCOPED_TRACE(allowWrites ? "--allow-writes" : "without --allow-writes");
        QStringList extra = args("--poll speed_setpoint,gains,drive_name@200");
        if (allowWrites)
            extra.append(QStringLiteral("--allow-writes"));
        startBridge(extra);
        int written = 0;
        int refused = 0;
        for (const auto &c : cases) {
            if (c.allowWrites != allowWrites)
                continue;
            SCOPED_TRACE(c.name + std::string(" = ") + c.payload);
            // A name with a '/' names its station itself.
            const QString topic = QStringLiteral("lustbus/sim/")
                                  + (QByteArray(c.name).contains('/') ? QString()
                                                                       : QStringLiteral("1/"))
                                  + QLatin1String(c.name);
            const int from = int(subscriber.messages.size());
            subscriber.publish(topic + QStringLiteral("/set"), c.payload);
            ASSERT_TRUE(subscriber.waitForMessage(topic + QStringLiteral("/result"), from));
            const QJsonObject result =
                json(QString::fromUtf8(subscriber.last(topic + QStringLiteral("/result"), from)));
            EXPECT_EQ(result.value(QStringLiteral("ok")).toBool(), c.ok) << compact(result);
            if (c.ok) {
                ++written;
                const std::string expected = compact(
                    QStringLiteral("{\"value\": %1}").arg(QLatin1String(c.result)).toUtf8()
                        .constData());
                EXPECT_EQ(compact({{QStringLiteral("value"), result.value("value")}}),
                          expected);
                // The servo holds it: the value topic, read back, says so.
                QJsonObject held = value(QLatin1String(c.name), from);
                EXPECT_EQ(compact({{QStringLiteral("value"), held.value("value")}}), expected);
            } else {
                ++refused;
                EXPECT_TRUE(result.value(QStringLiteral("error")).toString()
                                .contains(QLatin1String(c.result)))
                    << compact(result);
            }
        }
        if (!allowWrites) {
            // The refused write changed nothing: the value is still the simulator's.
            EXPECT_EQ(value(QStringLiteral("speed_setpoint")).value("value").toInt(), -1234);
        }
        const QString err = stopBridge();
        // Refused writes never reached the bus.
        EXPECT_TRUE(err.contains(QStringLiteral("%1 writes, %2 refused").arg(written).arg(refused)))
            << err.toStdString();
        subscriber.messages.clear();
    }
}

// An unchanged value goes out again only at the heartbeat, however often it is polled.
TEST_F(Bridge, AnUnchangedValueIsPublishedOnlyAtTheHeartbeat)
{
    startBridge(args("--poll speed_setpoint@50 --heartbeat 1"));
    const QString topic = QStringLiteral("lustbus/sim/1/speed_setpoint");
    const auto count = [&] {
        int n = 0;
        for (const Message &message : qAsConst(subscriber.messages))
            n += message.topic == topic ? 1 : 0;
        return n;
    };
    // About 30 polls in 1.5 s: the first value and one heartbeat.
    ASSERT_TRUE(waitFor([&] { return count() >= 2; }, 3000));
    waitFor([] { return false; }, 400);
    EXPECT_EQ(count(), 2);
    stopBridge();
}

// A broker that restarts keeps the will it published for the lost bridge, "offline",
// until the bridge is back: then "online" and every value again.
TEST_F(Bridge, ReconnectsAndRepublishesAfterTheBrokerRestarts)
{
    const QString status = QStringLiteral("lustbus/sim/status");
    const QString name = QStringLiteral("lustbus/sim/1/drive_name");
    startBridge(args("--poll speed_setpoint,drive_name@200"));
    value(QStringLiteral("drive_name"));
    broker.stop();
    ASSERT_TRUE(broker.start());
    // There before the bridge's first retry, a second after the loss.
    Subscriber late;
    ASSERT_TRUE(late.start(broker.port));
    ASSERT_TRUE(late.waitForMessage(status));
    EXPECT_EQ(late.last(status), "offline");
    ASSERT_TRUE(waitFor([&] { return late.last(status) == "online"; }, 8000));
    int online = int(late.messages.size()) - 1;
    while (late.messages.at(online).topic != status)
        --online;
    ASSERT_TRUE(late.waitForMessage(name, online)) << "not published again";
    EXPECT_EQ(json(QString::fromUtf8(late.last(name))).value(QStringLiteral("value")).toString(),
              QStringLiteral("LUST CDE SIM"));
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("broker lost"))) << err.toStdString();
}

// Usage errors name the bad option before anything is opened.
TEST_F(Bridge, BadOptionsAreUsageErrors)
{
    const struct
    {
        const char *arguments;
        const char *error;
    } cases[] = {
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE,
         "no broker: give --broker HOST[:PORT]"},
        {"bridge --sim --broker 127.0.0.1", "no catalogue"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1 --poll x",
         "bad --poll 'x': no parameter 'x' in sample.json"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE
         " --broker 127.0.0.1 --poll gains@5",
         "bad --poll 'gains@5': the interval after '@' is 10 to 3600000 ms"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1 --bus a/b",
         "bad --bus 'a/b': one topic level, without '/'"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1 --prefix a/#",
         "bad --prefix 'a/#': '+' and '#' are MQTT wildcards"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1 --qos 2",
         "bad --qos '2'"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE
         " --broker 127.0.0.1 --password-file /nonexistent",
         "--password-file needs --username"},
        {"bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE
         " --broker 127.0.0.1 --username u --password-file /nonexistent",
         "cannot read --password-file '/nonexistent'"},
    };
    for (const auto &c : cases) {
        const Result r = lustbus(args(c.arguments));
        EXPECT_EQ(r.exitCode, 2) << c.arguments << '\n' << describe(r);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.error))) << c.arguments << '\n' << describe(r);
    }
}

// The simulator in this process on a pseudo-terminal, for tests that change its
// servos' values or count what reaches its line.
class SimulatedBus : public Bridge
{
protected:
    void startSimulator(std::initializer_list<int> stations)
    {
        for (int station : stations)
            sim.setStation(station, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(LustBusSim::Simulator::Pty)) << sim.errorString().toStdString();
    }
    QStringList link() const
    {
        return {QStringLiteral("--port"), sim.slaveName(), QStringLiteral("--settings"),
                QStringLiteral("RS485,57600,NONE,8,1")};
    }
    // Publishes payload on STATION/NAME/set under lustbus/line and returns the result.
    QJsonObject write(const char *parameter, const QByteArray &payload)
    {
        const QString topic = QStringLiteral("lustbus/line/%1").arg(QLatin1String(parameter));
        const int from = int(subscriber.messages.size());
        subscriber.publish(topic + QStringLiteral("/set"), payload);
        EXPECT_TRUE(subscriber.waitForMessage(topic + QStringLiteral("/result"), from));
        return json(QString::fromUtf8(subscriber.last(topic + QStringLiteral("/result"), from)));
    }

    LustBusSim::Simulator sim;
};

// A change inside a servo reaches the broker within one poll interval, on every
// station. A repeat of the last write while the servo still holds its value is taken
// for a QoS 1 duplicate; once the value has changed, the same request is written again.
TEST_F(SimulatedBus, ValuesFollowEveryServoAndARepeatIsWrittenOnce)
{
    using LustBusSim::Parameter;
    startSimulator({1, 2});
    startBridgeOn(link(), QStringLiteral("line"),
                  args("--bus line --station 1 --station 2 --poll speed_setpoint,gains@300 "
                       "--allow-writes"));
    for (const char *station : {"line/1", "line/2"})
        EXPECT_EQ(value(QStringLiteral("speed_setpoint"), 0, QLatin1String(station))
                      .value(QStringLiteral("value")).toInt(), -1234) << station;
    const struct
    {
        int station;
        Parameter parameter;
        const char *name;
        const char *value; // as JSON
    } changes[] = {
        {2, Parameter::simple(12, LustBus::DataType::Int16, 777), "speed_setpoint", "777"},
        {1, Parameter::array(101, LustBus::DataType::Int16, {8, 7, 6, 5, 4, 3, 2, 1}), "gains",
         "[8,7,6,5,4,3,2,1]"},
    };
    for (const auto &c : changes) {
        SCOPED_TRACE(c.name);
        const QString topic = QStringLiteral("lustbus/line/%1/%2").arg(c.station).arg(c.name);
        const int from = int(subscriber.messages.size());
        ASSERT_TRUE(sim.setParameter(c.station, c.parameter));
        // One interval of 300 ms, and as much again for the broker and this process.
        ASSERT_TRUE(subscriber.waitForMessage(topic, from, 600));
        EXPECT_EQ(compact({{QStringLiteral("value"),
                            json(QString::fromUtf8(subscriber.last(topic, from))).value("value")}}),
                  compact(QStringLiteral("{\"value\": %1}").arg(QLatin1String(c.value))
                              .toUtf8().constData()));
    }

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "a repeat" : "the same request after a change");
        EXPECT_TRUE(write("1/speed_setpoint", "600").value(QStringLiteral("ok")).toBool());
        EXPECT_TRUE(write("1/speed_setpoint", "600").value(QStringLiteral("ok")).toBool());
        Parameter held;
        ASSERT_TRUE(sim.parameter(1, 12, &held));
        EXPECT_EQ(held.raw(), 600);
        if (round == 0) {
            const int from = int(subscriber.messages.size());
            ASSERT_TRUE(sim.setParameter(1, Parameter::simple(12, LustBus::DataType::Int16, 100)));
            ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/line/1/speed_setpoint"),
                                                  from));
        }
    }
    const QString err = stopBridge();
    // The first request of each round written, its repeat answered.
    EXPECT_TRUE(err.contains(QStringLiteral("2 writes, 0 refused"))) << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("a duplicate of a request already carried out")), 2)
        << err.toStdString();
}

// Silent stations: their values carry the driver's error text, every round overruns
// and the stats say so, and a write to a station that answers waits for the read on
// the line, not for the end of the round.
TEST_F(SimulatedBus, WritesPassSilentStationsAndTheStatsCountTheOverruns)
{
    startSimulator({1});
    startBridgeOn(link(), QStringLiteral("line"),
                  args("--bus line --station 1 --station 3 --station 4 --poll "
                       "speed_setpoint,gains@100 --timeout 150 --retries 0 --allow-writes "
                       "--stats-interval 1"));
    const struct
    {
        const char *name;
        const char *error;
    } silent[] = {
        {"speed_setpoint", "read INT16:12> no response"},
        {"gains", "read INT16:101:0> no response"},
    };
    for (const auto &c : silent) {
        SCOPED_TRACE(c.name);
        const QJsonObject got = value(QLatin1String(c.name), 0, QStringLiteral("line/3"));
        EXPECT_FALSE(got.value(QStringLiteral("ok")).toBool(true)) << compact(got);
        EXPECT_EQ(got.value(QStringLiteral("error")).toString().toStdString(), c.error);
        EXPECT_FALSE(got.contains(QStringLiteral("value")));
    }

    // A round reads 2 names on station 1, then 4 times nothing on stations 3 and 4: the
    // write goes out while the first of those is on the line.
    const auto silentReads = [this] { return sim.counters().foreign; };
    ASSERT_TRUE(waitFor([&] { return silentReads() % 4 == 1; }));
    const quint64 before = silentReads();
    EXPECT_TRUE(write("1/speed_setpoint", "321").value(QStringLiteral("ok")).toBool());
    EXPECT_LE(silentReads() - before, 1u) << "the write waited for the round";

    // A flood while a silent read is on the line: the first MaxWaitingWrites wait, the
    // rest are refused at once; every request gets its result.
    const QString result = QStringLiteral("lustbus/line/1/speed_setpoint/result");
    const auto results = [&](int from, const char *part) {
        int n = 0;
        for (int i = from; i < subscriber.messages.size(); ++i)
            n += subscriber.messages.at(i).topic == result
                 && subscriber.messages.at(i).payload.contains(part);
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return silentReads() % 4 == 1; }));
    const int from = int(subscriber.messages.size());
    for (int i = 0; i < 300; ++i)
        subscriber.publish(QStringLiteral("lustbus/line/1/speed_setpoint/set"), "321");
    EXPECT_TRUE(waitFor([&] { return results(from, "") == 300; })) << results(from, "");
    EXPECT_GT(results(from, "256 writes are waiting for the bus already"), 0);

    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/line/stats"), 0, 3000));
    const QJsonObject stats =
        json(QString::fromUtf8(subscriber.last(QStringLiteral("lustbus/line/stats"))));
    EXPECT_GT(stats.value(QStringLiteral("rounds")).toInt(), 0) << compact(stats);
    EXPECT_EQ(stats.value(QStringLiteral("overruns")), stats.value(QStringLiteral("rounds")));
    EXPECT_GE(stats.value(QStringLiteral("readErrors")).toInt(), 4);
    bool listed = false;
    for (const QJsonValue station : stats.value("link").toObject().value("stations").toArray()) {
        if (station.toObject().value(QStringLiteral("station")).toInt() != 3)
            continue;
        listed = true;
        EXPECT_GE(station.toObject().value(QStringLiteral("errors")).toInt(), 2);
    }
    EXPECT_TRUE(listed) << compact(stats);
    stopBridge();
}

// On a broker that asks for a login over TLS and applies the ACL of docs/plant.md:
// the bridge logs in with its password file, only a client the ACL lets write gets a
// write to the bus, and a wrong password or CA is named in the bridge's log.
TEST_F(Bridge, LogsInOverTlsUnderThePlantsAcl)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString passwd = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto_passwd"), args("/usr/bin /usr/sbin"));
    if (openssl.isEmpty() || passwd.isEmpty())
        GTEST_SKIP() << "openssl or mosquitto_passwd is not installed";
    const auto run = [](const QString &program, const QString &arguments) {
        QProcess process;
        process.start(program, arguments.split(QLatin1Char(' ')));
        return process.waitForFinished(20000) && process.exitCode() == 0;
    };
    const QString dir = broker.dir.path();
    const QString key = QStringLiteral(" -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
    ASSERT_TRUE(run(openssl, QStringLiteral("req -x509%1 -keyout %2/ca.key -out %2/ca.crt -days 1 "
                                            "-subj /CN=plant-ca").arg(key, dir)));
    ASSERT_TRUE(run(openssl, QStringLiteral("req -x509%1 -keyout %2/other.key -out %2/other.crt "
                                            "-days 1 -subj /CN=other-ca").arg(key, dir)));
    ASSERT_TRUE(run(openssl, QStringLiteral("req%1 -keyout %2/broker.key -out %2/broker.csr "
                                            "-subj /CN=127.0.0.1").arg(key, dir)));
    ASSERT_TRUE(broker.writeFile(broker.file("san"), "subjectAltName=IP:127.0.0.1\n"));
    ASSERT_TRUE(run(openssl, QStringLiteral("x509 -req -in %1/broker.csr -CA %1/ca.crt -CAkey "
                                            "%1/ca.key -CAcreateserial -out %1/broker.crt -days 1 "
                                            "-extfile %1/san").arg(dir)));
    ASSERT_TRUE(broker.writeFile(broker.file("passwords"), ""));
    for (const char *user : {"bridge-line3", "dashboard", "hmi-line3"})
        ASSERT_TRUE(run(passwd, QStringLiteral("-b %1/passwords %2 pw-%2").arg(dir, QLatin1String(user))));
    QFile::setPermissions(broker.file("broker.key"), QFile::ReadOwner | QFile::ReadOther);
    QFile::setPermissions(broker.file("passwords"), QFile::ReadOwner | QFile::ReadOther);

    // The ACL as the plant's guide gives it.
    QFile guide(QStringLiteral(LUSTBUS_SOURCE_DIR "/docs/plant.md"));
    ASSERT_TRUE(guide.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(guide.readAll());
    const int start = text.indexOf(QStringLiteral("```text\n")) + 8;
    ASSERT_GT(start, 8);
    ASSERT_TRUE(broker.writeFile(broker.file("acl"),
                                 text.mid(start, text.indexOf(QStringLiteral("```"), start) - start)
                                     .toUtf8()));

    // The anonymous listener of this test's subscriber, and the plant's.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 securePort = probe.serverPort();
    probe.close();
    broker.stop();
    ASSERT_TRUE(broker.start(QStringLiteral(
        "per_listener_settings true\n"
        "listener {port} 127.0.0.1\nallow_anonymous true\n"
        "listener %1 127.0.0.1\nallow_anonymous false\npassword_file {dir}/passwords\n"
        "acl_file {dir}/acl\ncafile {dir}/ca.crt\ncertfile {dir}/broker.crt\n"
        "keyfile {dir}/broker.key\n").arg(securePort)));
    Subscriber plain;
    ASSERT_TRUE(plain.start(broker.port, {}, QStringLiteral("plant/#")));

    const auto startPlantBridge = [&](const char *password, const char *ca) {
        ASSERT_TRUE(broker.writeFile(broker.file("bridge.pw"), password));
        startBridgeOn(QStringLiteral("--sim --broker 127.0.0.1:%1 --tls-ca %2 --username "
                                     "bridge-line3 --password-file %3 --prefix plant --bus line3")
                          .arg(securePort)
                          .arg(broker.file(ca), broker.file("bridge.pw"))
                          .split(QLatin1Char(' ')),
                      QString(), args("--poll speed_setpoint@100 --allow-writes"), false);
    };
    const struct
    {
        const char *password;
        const char *ca;
        const char *logged;
    } refused[] = {
        {"wrong\n", "ca.crt", "refused the connection: Not authorized"},
        {"pw-bridge-line3\n", "other.crt", "certificate verify failed"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.logged);
        startPlantBridge(c.password, c.ca);
        QByteArray err;
        EXPECT_TRUE(waitFor([&] {
            err += bridge.readAllStandardError();
            return err.contains(c.logged);
        })) << err.toStdString();
        bridge.kill();
        bridge.waitForFinished();
    }

    startPlantBridge("pw-bridge-line3\n", "ca.crt");
    ASSERT_TRUE(waitFor([&] { return plain.last(QStringLiteral("plant/line3/status")) == "online"; }))
        << bridge.readAllStandardError().toStdString();
    // The dashboard's write never reaches the bridge; the HMI's does.
    std::unique_ptr<Subscriber> clients[2];
    const char *users[2] = {"dashboard", "hmi-line3"};
    for (int i = 0; i < 2; ++i) {
        MqttClient::Settings login;
        login.username = QLatin1String(users[i]);
        login.password = QStringLiteral("pw-") + login.username;
        login.caFile = broker.file("ca.crt");
        clients[i] = std::make_unique<Subscriber>();
        ASSERT_TRUE(clients[i]->start(securePort, login, QStringLiteral("plant/#")));
        clients[i]->publish(QStringLiteral("plant/line3/1/speed_setpoint/set"), i == 0 ? "111" : "222");
    }
    ASSERT_TRUE(clients[1]->waitForMessage(QStringLiteral("plant/line3/1/speed_setpoint/result")));
    EXPECT_EQ(json(QString::fromUtf8(
                       clients[1]->last(QStringLiteral("plant/line3/1/speed_setpoint/result"))))
                  .value(QStringLiteral("value")).toInt(), 222);
    waitFor([] { return false; }, 300); // time for the dashboard's, were it let through
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("1 writes, 0 refused"))) << err.toStdString();
}

} // namespace
