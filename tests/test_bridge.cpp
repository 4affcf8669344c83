// lustbus bridge as a plant meets it: a real mosquitto broker on a free loopback port,
// the bridge program on the simulator, and a subscriber that sees what the broker
// delivers.
#include "cliprocess.h"
#include "mqttclient.h"

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

namespace {

QString mosquittoProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          {QStringLiteral("/usr/sbin"),
                                           QStringLiteral("/usr/local/sbin"),
                                           QStringLiteral("/usr/bin")});
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

// mosquitto on 127.0.0.1 with a generated configuration.
class Broker
{
public:
    bool start()
    {
        if (port == 0) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            port = probe.serverPort();
            probe.close();
        }
        const QString config = dir.filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n")
                       .arg(port)
                       .toUtf8());
        file.close();
        process.start(mosquittoProgram(), {QStringLiteral("-c"), config});
        if (!process.waitForStarted())
            return false;
        // Ready once it takes connections.
        return waitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(100);
        });
    }
    ~Broker()
    {
        process.terminate();
        if (!process.waitForFinished(2000))
            process.kill();
        process.waitForFinished();
    }
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;
};

struct Message
{
    QString topic;
    QByteArray payload;
};

// Everything under lustbus/#, in the order the broker delivers it.
class Subscriber
{
public:
    bool start(quint16 port)
    {
        QObject::connect(&client, &MqttClient::connected, [this] {
            client.subscribe(QStringLiteral("lustbus/#"), 1);
            subscribed = true;
        });
        QObject::connect(&client, &MqttClient::messageReceived,
                         [this](const QString &topic, const QByteArray &payload) {
                             messages.append({topic, payload});
                         });
        MqttClient::Settings settings;
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
        bridge.setProcessEnvironment(cliEnvironment());
        bridge.start(QStringLiteral(LUSTBUS_CLI_PATH),
                     QStringList{QStringLiteral("bridge"), QStringLiteral("--sim"),
                                 QStringLiteral("--catalogue"),
                                 QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE),
                                 QStringLiteral("--broker"),
                                 QStringLiteral("127.0.0.1:%1").arg(broker.port)}
                         + extra);
        ASSERT_TRUE(bridge.waitForStarted());
        // The previous bridge's "offline" may still be on its way.
        ASSERT_TRUE(waitFor([this] {
            return subscriber.last(QStringLiteral("lustbus/sim/status")) == "online";
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
    QJsonObject value(const QString &name, int from = 0)
    {
        const QString topic = QStringLiteral("lustbus/sim/1/") + name;
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
    const int before = int(subscriber.messages.size());
    stopBridge();
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/sim/status"), before));
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/sim/status"), before), "offline");
}

// An MQTT 5 request with a response topic gets its result there, with its correlation
// data, and nothing on .../result.
TEST_F(Bridge, AnMqtt5RequestGetsItsResultOnItsResponseTopic)
{
    QList<QByteArray> correlations;
    QObject::connect(&subscriber.client, &MqttClient::messageReceived,
                     [&](const QString &topic, const QByteArray &, const QString &,
                         const QByteArray &correlation) {
                         if (topic == QLatin1String("lustbus/replies/hmi"))
                             correlations.append(correlation);
                     });
    startBridge({QStringLiteral("--poll"), QStringLiteral("speed_setpoint@200"),
                 QStringLiteral("--allow-writes")});
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
    startBridge({QStringLiteral("--poll"), QStringLiteral("speed_setpoint@200")});
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
        {false, "speed_setpoint", "500", "writes are off", false},
    };
    for (const bool allowWrites : {true, false}) {
        SCOPED_TRACE(allowWrites ? "--allow-writes" : "without --allow-writes");
        QStringList extra{QStringLiteral("--poll"),
                          QStringLiteral("speed_setpoint,gains,drive_name@200")};
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
    startBridge({QStringLiteral("--poll"), QStringLiteral("speed_setpoint@50"),
                 QStringLiteral("--heartbeat"), QStringLiteral("1")});
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

// A broker that restarts without its retained messages gets every value again, and
// the status says "online" once more.
TEST_F(Bridge, ReconnectsAndRepublishesAfterTheBrokerRestarts)
{
    startBridge({QStringLiteral("--poll"), QStringLiteral("speed_setpoint,drive_name@200")});
    value(QStringLiteral("drive_name"));
    broker.process.terminate();
    ASSERT_TRUE(broker.process.waitForFinished(3000));
    ASSERT_TRUE(broker.start());
    subscriber.messages.clear();
    ASSERT_TRUE(subscriber.waitForMessage(QStringLiteral("lustbus/sim/status"), 0, 8000));
    EXPECT_EQ(subscriber.last(QStringLiteral("lustbus/sim/status")), "online");
    EXPECT_EQ(value(QStringLiteral("drive_name")).value(QStringLiteral("value")).toString(),
              QStringLiteral("LUST CDE SIM"));
    const QString err = stopBridge();
    EXPECT_TRUE(err.contains(QStringLiteral("broker lost"))) << err.toStdString();
}

// A bus that stays silent: every value carries "ok": false and the driver's error text.
TEST_F(Bridge, ASilentBusGivesTheDriversErrorText)
{
    QTcpServer silent; // takes the connection and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const QString bus = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    bridge.setProcessEnvironment(cliEnvironment());
    bridge.start(QStringLiteral(LUSTBUS_CLI_PATH),
                 {QStringLiteral("bridge"), QStringLiteral("--tcp"), bus,
                  QStringLiteral("--catalogue"), QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE),
                  QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.port),
                  QStringLiteral("--timeout"), QStringLiteral("50"), QStringLiteral("--retries"),
                  QStringLiteral("0"), QStringLiteral("--poll"),
                  QStringLiteral("speed_setpoint,gains@200")});
    ASSERT_TRUE(bridge.waitForStarted());
    const struct
    {
        const char *name;
        const char *error;
    } cases[] = {
        {"speed_setpoint", "read INT16:12> no response"},
        {"gains", "read INT16:101:0> no response"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString topic = QStringLiteral("lustbus/%1/1/%2").arg(bus, QLatin1String(c.name));
        ASSERT_TRUE(subscriber.waitForMessage(topic));
        const QJsonObject got = json(QString::fromUtf8(subscriber.last(topic)));
        EXPECT_FALSE(got.value(QStringLiteral("ok")).toBool(true)) << compact(got);
        EXPECT_EQ(got.value(QStringLiteral("error")).toString().toStdString(), c.error);
        EXPECT_FALSE(got.contains(QStringLiteral("value")));
    }
    stopBridge();
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

} // namespace
