// lustbus bridge --sparkplug as a SCADA host meets it: a real mosquitto on a free
// loopback port, the bridge program on a simulator that lustbus read sees too, and
// every message decoded by an independent implementation of the payload, the npm
// package sparkplug-payload run by node (tests/sparkplug/decode.js).
#include "cliprocess.h"
#include "mosquittofixture.h"
#include "mqttclient.h"
#include "simulator.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QTemporaryDir>

#include <csignal>
#include <cstring>

namespace {

const char DecoderDir[] = LUSTBUS_SOURCE_DIR "/tests/sparkplug";

// Why the decoder cannot run here, or nothing.
QString decoderMissing()
{
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        return QStringLiteral("node is not installed (Debian package nodejs)");
    if (!QFileInfo::exists(QLatin1String(DecoderDir) + QStringLiteral("/node_modules/sparkplug-payload")))
        return QStringLiteral("the npm package sparkplug-payload is not installed: npm ci --prefix "
                              "tests/sparkplug (scripts/install-deps.sh)");
    return QString();
}

// decode.js in a process of its own, a line asked and a line answered.
class Decoder
{
public:
    bool start()
    {
        m_process.setWorkingDirectory(QLatin1String(DecoderDir));
        m_process.start(QStringLiteral("node"), {QStringLiteral("decode.js")});
        return m_process.waitForStarted();
    }
    ~Decoder()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }
    QJsonObject decode(const Message &message)
    {
        const QJsonObject decoded = json(QString::fromUtf8(
            ask(message.topic.toUtf8() + ' ' + message.payload.toHex())));
        EXPECT_FALSE(decoded.contains(QStringLiteral("error"))) << compact(decoded);
        return decoded.value(QStringLiteral("payload")).toObject();
    }
    // A payload as the package encodes it from {"metrics": [{"name", "type", "value"}]}.
    QByteArray encode(const char *payload)
    {
        return QByteArray::fromHex(ask(QByteArray(payload)));
    }

private:
    QByteArray ask(const QByteArray &line)
    {
        m_process.write(line + '\n');
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        return m_process.readLine().trimmed();
    }
    QProcess m_process;
};

// The metric of a payload by name, or an empty object.
QJsonObject metric(const QJsonObject &payload, const QString &name)
{
    for (const QJsonValue &value : payload.value(QStringLiteral("metrics")).toArray()) {
        if (value.toObject().value(QStringLiteral("name")).toString() == name)
            return value.toObject();
    }
    return QJsonObject();
}

int bdSeqOf(const QJsonObject &payload)
{
    return metric(payload, QStringLiteral("bdSeq")).value(QStringLiteral("value")).toInt(-1);
}

int seqOf(const QJsonObject &payload)
{
    return payload.value(QStringLiteral("seq")).toInt(-1);
}

std::string valueText(const QJsonValue &value)
{
    return compact({{QStringLiteral("value"), value}});
}

const QString Node = QStringLiteral("spBv1.0/plant/%1/line3");

QString nodeTopic(const char *type)
{
    return Node.arg(QLatin1String(type));
}

QString deviceTopic(const char *type, const char *device)
{
    return nodeTopic(type) + QLatin1Char('/') + QLatin1String(device);
}

class Sparkplug : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (mosquittoProgram().isEmpty())
            GTEST_SKIP() << "the mosquitto broker is not installed (Debian package mosquitto)";
        const QString missing = decoderMissing();
        if (!missing.isEmpty()) {
            // CI installs both: there, a missing one is a fault of the set-up.
            if (qgetenv("CI") == "true")
                FAIL() << missing.toStdString();
            GTEST_SKIP() << missing.toStdString();
        }
        ASSERT_TRUE(decoder.start());
        ASSERT_TRUE(broker.start()) << "mosquitto did not start";
        ASSERT_TRUE(subscriber.start(broker.port, {}, QStringLiteral("spBv1.0/#")));
        for (int station : {1, 2})
            sim.setStation(station, LustBusSim::ParameterTable::defaultTable());
        ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp)) << sim.errorString().toStdString();
    }
    void TearDown() override
    {
        if (bridge.state() != QProcess::NotRunning) {
            bridge.kill();
            bridge.waitForFinished();
        }
    }

    QString link() const { return QStringLiteral("127.0.0.1:%1").arg(sim.port()); }
    // The bridge as edge node plant/line3 on the simulator, with options; waits for its
    // NBIRTH unless told otherwise.
    void startNode(const QString &options, bool birth = true,
                   const QStringList &environment = {})
    {
        bridge.setProcessEnvironment(cliEnvironment(environment));
        const int from = subscriber.count();
        m_err.clear();
        bridge.start(QStringLiteral(LUSTBUS_CLI_PATH),
                     args(QStringLiteral("bridge --catalogue " LUSTBUS_SAMPLE_CATALOGUE
                                         " --broker 127.0.0.1:%1 --tcp %2 --sparkplug plant/line3 %3")
                              .arg(broker.port)
                              .arg(link(), options)
                              .toUtf8()
                              .constData()));
        ASSERT_TRUE(bridge.waitForStarted());
        ASSERT_TRUE(!birth || subscriber.waitForMessage(nodeTopic("NBIRTH"), from))
            << bridge.readAllStandardError().toStdString();
    }
    // The signal, then the bridge's stderr; SIGTERM ends it with 0.
    QString stopNode(int signal = SIGTERM)
    {
        signalProcess(bridge.processId(), signal);
        EXPECT_TRUE(bridge.waitForFinished(5000));
        if (signal == SIGTERM) {
            EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(bridge.exitCode(), 0);
        }
        return m_err + QString::fromUtf8(bridge.readAllStandardError());
    }
    // Whether the bridge's stderr shows text within ms.
    bool waitForLog(const QString &text, int ms = 5000)
    {
        return waitFor([&] {
            m_err += QString::fromUtf8(bridge.readAllStandardError());
            return m_err.contains(text);
        }, ms);
    }
    // The payload of the last message on topic after from, decoded; waits for one.
    QJsonObject payload(const QString &topic, int from = 0, int ms = 5000)
    {
        EXPECT_TRUE(subscriber.waitForMessage(topic, from, ms)) << topic.toStdString();
        for (int i = subscriber.count() - 1; i >= from; --i) {
            if (subscriber.messages.at(i).topic == topic)
                return decoder.decode(subscriber.messages.at(i));
        }
        return QJsonObject();
    }
    // The index of the first message on topic from from on, or -1.
    int indexOf(const QString &topic, int from = 0) const
    {
        for (int i = from; i < subscriber.count(); ++i) {
            if (subscriber.messages.at(i).topic == topic)
                return i;
        }
        return -1;
    }
    // The value lustbus read gives for name on station 1 of the simulator; null when
    // it cannot read it, as it must then.
    QJsonValue readValue(const char *name, bool readable = true)
    {
        const Result r = lustbus(args(QStringLiteral("read --json --catalogue " LUSTBUS_SAMPLE_CATALOGUE
                                                     " --tcp %1 %2")
                                          .arg(link(), QLatin1String(name))
                                          .toUtf8()
                                          .constData()));
        EXPECT_EQ(r.exitCode == 0, readable) << describe(r);
        return readable ? json(r.out).value(QStringLiteral("value")) : QJsonValue();
    }
    void publish(const QString &topic, const QByteArray &payload, bool retained = false)
    {
        subscriber.client.publish(topic, payload, 1, retained);
    }

    QTemporaryDir dir;
    const QString stateFile = dir.filePath(QStringLiteral("bdseq"));
    Broker broker;
    Subscriber subscriber;
    Decoder decoder;
    LustBusSim::Simulator sim;
    QProcess bridge;
    QString m_err;
};

// A station's DBIRTH: one metric per polled parameter with the datatype of its type, its
// unit and range as properties, its alias, and the value lustbus read gives: null for
// one it cannot read (the simulator's torque_offset is negative, which a simple read
// of INT32Q16 cannot take).
TEST_F(Sparkplug, ABirthCarriesEveryParameterAsLustbusReadsIt)
{
    const struct { const char *name, *type, *unit, *low, *high; bool readOnly; } cases[] = {
        {"current_trim", "Int8", "%", "-100", "100", false},
        {"brake_delay", "UInt8", "ms", nullptr, nullptr, false},
        {"speed_setpoint", "Int16", "rpm", "-3000", "3000", false},
        {"control_word", "UInt16", nullptr, nullptr, nullptr, false},
        {"position_target", "Int32", "inc", nullptr, nullptr, false},
        {"encoder_offset", "UInt32", "inc", nullptr, nullptr, false},
        {"current_limit", "Float", "A", "0", "20", false},
        {"ramp_time", "Double", "s", "0", "100", false},
        {"torque_offset", "Double", "Nm", "0", "50", false},
        {"drive_name", "String", nullptr, nullptr, nullptr, false},
        {"firmware_version", "UInt32", nullptr, nullptr, nullptr, true},
        {"io_map", "UInt8Array", nullptr, nullptr, nullptr, false},
        {"gains", "Int16Array", nullptr, nullptr, nullptr, false},
        {"current_table", "FloatArray", "A", "0", "20", false},
        {"ramp_times", "DoubleArray", "s", "0", "100", false},
    };
    QStringList names;
    for (const auto &c : cases)
        names.append(QLatin1String(c.name));
    startNode(QStringLiteral("--sparkplug-state %1 --poll %2@500").arg(stateFile, names.join(',')));
    const QJsonObject birth = payload(deviceTopic("DBIRTH", "1"));
    ASSERT_EQ(birth.value(QStringLiteral("metrics")).toArray().size(), int(std::size(cases)))
        << compact(birth);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QJsonObject got = metric(birth, QLatin1String(c.name));
        EXPECT_EQ(got.value(QStringLiteral("type")).toString().toStdString(), c.type);
        const bool readable = std::strcmp(c.name, "torque_offset") != 0;
        EXPECT_EQ(valueText(got.value(QStringLiteral("value"))),
                  valueText(readValue(c.name, readable)));
        EXPECT_GT(got.value(QStringLiteral("alias")).toDouble(), 65536.0);
        EXPECT_GT(got.value(QStringLiteral("timestamp")).toDouble(), 1.7e12);
        const QJsonObject properties = got.value(QStringLiteral("properties")).toObject();
        const auto property = [&](const char *key) {
            return properties.value(QLatin1String(key)).toObject();
        };
        EXPECT_EQ(property("readOnly").value(QStringLiteral("value")).toBool(!c.readOnly), c.readOnly);
        EXPECT_EQ(property("engUnit").value(QStringLiteral("value")).toString().toStdString(),
                  c.unit ? c.unit : "");
        // The range, typed as one element.
        const QString element = QString::fromLatin1(c.type).remove(QStringLiteral("Array"));
        const struct { const char *key, *value; } bounds[] = {{"engLow", c.low}, {"engHigh", c.high}};
        for (const auto &bound : bounds) {
            EXPECT_EQ(properties.contains(QLatin1String(bound.key)), bound.value != nullptr) << bound.key;
            if (bound.value) {
                EXPECT_EQ(valueText(property(bound.key).value(QStringLiteral("value"))),
                          valueText(json(QStringLiteral("{\"v\": %1}").arg(QLatin1String(bound.value)))
                                        .value(QStringLiteral("v"))));
                EXPECT_EQ(property(bound.key).value(QStringLiteral("type")).toString(), element);
            }
        }
    }
    EXPECT_EQ(seqOf(birth), 1);
    stopNode();
}

// Every session's NDEATH carries the bdSeq of its NBIRTH: the will after kill -9, the
// node's own after SIGTERM. A restart takes the next bdSeq from the state file, kept
// by default under $XDG_STATE_HOME.
TEST_F(Sparkplug, EachSessionDiesWithTheBdSeqOfItsBirthAndTheNextTakesAnother)
{
    const QString state = dir.filePath(QStringLiteral("state/lustbus/sparkplug-plant+line3.bdseq"));
    const struct { int signal; const char *how; } stops[] = {
        {SIGKILL, "kill -9: the will"}, {SIGTERM, "a clean stop"}, {SIGKILL, "kill -9 again"}};
    int previous = -1;
    for (const auto &stop : stops) {
        SCOPED_TRACE(stop.how);
        const int from = subscriber.count();
        startNode(QStringLiteral("--poll speed_setpoint@200"), true,
                  {QStringLiteral("XDG_STATE_HOME=") + dir.filePath(QStringLiteral("state"))});
        const QJsonObject birth = payload(nodeTopic("NBIRTH"), from);
        const int bdSeq = bdSeqOf(birth);
        EXPECT_EQ(seqOf(birth), 0);
        EXPECT_EQ(metric(birth, QStringLiteral("bdSeq")).value(QStringLiteral("type")).toString(),
                  QStringLiteral("UInt64"));
        EXPECT_EQ(metric(birth, QStringLiteral("Node Control/Rebirth")).value("value"), QJsonValue(false));
        EXPECT_EQ(metric(birth, QStringLiteral("Bus/State")).value("value"), QJsonValue("online"));
        if (previous >= 0) {
            EXPECT_EQ(bdSeq, (previous + 1) % 256);
        }
        QFile file(state);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray::number(bdSeq) + '\n');
        payload(deviceTopic("DBIRTH", "1"), from);
        stopNode(stop.signal);
        const QJsonObject death = payload(nodeTopic("NDEATH"), from);
        EXPECT_EQ(bdSeqOf(death), bdSeq) << compact(death);
        EXPECT_FALSE(death.contains(QStringLiteral("seq")));
        previous = bdSeq;
    }
}

// DDATA only for a value that changed, by alias, and seq going up by one modulo 256
// over every message of the session, past 1,000 of them.
TEST_F(Sparkplug, DataGoesOutOnChangeWithSeqWithoutGaps)
{
    startNode(QStringLiteral("--sparkplug-state %1 --station 1 --station 2 "
                             "--poll speed_setpoint,current_trim@10")
                  .arg(stateFile));
    const int from = indexOf(nodeTopic("NBIRTH"));
    payload(deviceTopic("DBIRTH", "2"), from);
    const auto dataCount = [&] {
        int n = 0;
        for (int i = from; i < subscriber.count(); ++i)
            n += subscriber.messages.at(i).topic.contains(QStringLiteral("/DDATA/"));
        return n;
    };
    for (int value = 0; subscriber.count() - from < 1010; ++value) {
        const int before = dataCount();
        for (int station : {1, 2})
            sim.setParameter(station, LustBusSim::Parameter::simple(12, LustBus::DataType::Int16,
                                                                    value % 3000));
        ASSERT_TRUE(waitFor([&] { return dataCount() >= before + 2; })) << value;
    }
    // Unchanged values: no more DDATA, however often they are read.
    const int changes = dataCount();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(dataCount(), changes);

    int seq = -1;
    QMap<QString, int> held; // the last value of each station's speed_setpoint
    for (int i = from; i < subscriber.count(); ++i) {
        const Message &message = subscriber.messages.at(i);
        const QJsonObject decoded = decoder.decode(message);
        SCOPED_TRACE(message.topic.toStdString() + " " + compact(decoded));
        ASSERT_EQ(seqOf(decoded), seq < 0 ? 0 : (seq + 1) % 256);
        seq = seqOf(decoded);
        if (!message.topic.contains(QStringLiteral("/DDATA/")))
            continue;
        const QJsonArray metrics = decoded.value(QStringLiteral("metrics")).toArray();
        ASSERT_EQ(metrics.size(), 1);
        const QJsonObject only = metrics.at(0).toObject();
        const int station = message.topic.section(QLatin1Char('/'), -1).toInt();
        EXPECT_EQ(only.value(QStringLiteral("alias")).toInt(), station * 65536 + 12);
        EXPECT_FALSE(only.contains(QStringLiteral("name")));
        EXPECT_NE(only.value(QStringLiteral("value")).toInt(), held.value(message.topic, -1234));
        held.insert(message.topic, only.value(QStringLiteral("value")).toInt());
    }
    stopNode();
}

// A station that goes silent dies; once it answers again and its values were read,
// it is born again, under the name --sparkplug-device gives it.
TEST_F(Sparkplug, ASilentStationDiesAndIsBornAgain)
{
    startNode(QStringLiteral("--sparkplug-state %1 --station 1 --station 2 --sparkplug-device "
                             "2=axis-2 --poll speed_setpoint@100 --timeout 100 --retries 0")
                  .arg(stateFile));
    payload(deviceTopic("DBIRTH", "axis-2"));
    const int silent = subscriber.count();
    ASSERT_TRUE(sim.removeStation(2));
    const QJsonObject death = payload(deviceTopic("DDEATH", "axis-2"), silent);
    EXPECT_GT(seqOf(death), 0);
    EXPECT_TRUE(death.value(QStringLiteral("metrics")).toArray().isEmpty());
    const int back = subscriber.count();
    sim.setStation(2, LustBusSim::ParameterTable::defaultTable());
    const QJsonObject birth = payload(deviceTopic("DBIRTH", "axis-2"), back, 9000);
    EXPECT_EQ(seqOf(birth), (seqOf(death) + 1) % 256);
    EXPECT_EQ(metric(birth, QStringLiteral("speed_setpoint")).value("value").toInt(), -1234);
    EXPECT_EQ(indexOf(deviceTopic("DDEATH", "1"), silent), -1);
    stopNode();
}

// The node's own metrics: the link's counters as NDATA every stats interval while they
// change, and "Bus/State" at once when the link is lost, with a DDEATH for every
// station, which is born again once the bus is back and its values were read.
TEST_F(Sparkplug, ALostBusIsTheNodesStateAndEveryStationsDeath)
{
    startNode(QStringLiteral("--sparkplug-state %1 --poll speed_setpoint@100 --stats-interval 1 "
                             "--timeout 200 --retries 0 --reconnect-interval 100")
                  .arg(stateFile));
    const int bdSeq = bdSeqOf(payload(nodeTopic("NBIRTH")));
    payload(deviceTopic("DBIRTH", "1"));
    // Data names a node metric by its alias only: Bus/State 64 * 65536 + 1, Bus/Requests + 2.
    const auto byAlias = [](const QJsonObject &data, int alias) {
        for (const QJsonValue &value : data.value(QStringLiteral("metrics")).toArray()) {
            if (value.toObject().value(QStringLiteral("alias")).toInt() == alias)
                return value.toObject().value(QStringLiteral("value"));
        }
        return QJsonValue(QJsonValue::Undefined);
    };
    const QJsonObject counters = payload(nodeTopic("NDATA"), 0, 3000);
    EXPECT_GT(byAlias(counters, 64 * 65536 + 2).toDouble(), 0.0) << compact(counters);

    const quint16 port = sim.port();
    const int lost = subscriber.count();
    sim.stop();
    const QJsonObject death = payload(deviceTopic("DDEATH", "1"), lost);
    bool stateSent = false;
    for (int i = lost; i < subscriber.count(); ++i) {
        const Message &message = subscriber.messages.at(i);
        if (message.topic != nodeTopic("NDATA"))
            continue;
        stateSent = stateSent
                    || byAlias(decoder.decode(message), 64 * 65536 + 1) == QJsonValue("bus lost");
    }
    EXPECT_TRUE(stateSent);
    const int back = subscriber.count();
    ASSERT_TRUE(sim.start(LustBusSim::Simulator::Tcp, port)) << sim.errorString().toStdString();
    const QJsonObject birth = payload(deviceTopic("DBIRTH", "1"), back);
    EXPECT_GT(seqOf(birth), seqOf(death));
    EXPECT_EQ(indexOf(nodeTopic("NBIRTH"), back), -1);
    stopNode();
    EXPECT_EQ(bdSeqOf(payload(nodeTopic("NDEATH"), back)), bdSeq);
}

// A rebirth asked for by NCMD: NBIRTH with seq 0 and the same bdSeq, then every DBIRTH.
// A retained NCMD, one that does not decode or asks for nothing is logged and ignored.
TEST_F(Sparkplug, ARebirthRequestBringsEveryBirthAgain)
{
    startNode(QStringLiteral("--sparkplug-state %1 --station 1 --station 2 --poll drive_name@300")
                  .arg(stateFile));
    const int bdSeq = bdSeqOf(payload(nodeTopic("NBIRTH")));
    payload(deviceTopic("DBIRTH", "2"));
    const QByteArray rebirth = decoder.encode(
        R"({"metrics": [{"name": "Node Control/Rebirth", "type": "Boolean", "value": true}]})");
    const struct { QByteArray payload; bool retained; const char *logged; } ignored[] = {
        {rebirth, true, "NCMD retained; ignored"},
        {QByteArray("\xff\xff", 2), false, "NCMD does not decode; ignored"},
        {decoder.encode(R"({"metrics": [{"name": "Node Control/Rebirth", "type": "Boolean", "value": false}]})"),
         false, "NCMD metric 'Node Control/Rebirth' (alias 0) is not a rebirth request; ignored"},
    };
    for (const auto &c : ignored) {
        SCOPED_TRACE(c.logged);
        const int from = subscriber.count();
        publish(nodeTopic("NCMD"), c.payload, c.retained);
        EXPECT_TRUE(waitForLog(QLatin1String(c.logged))) << m_err.toStdString();
        EXPECT_EQ(indexOf(nodeTopic("NBIRTH"), from), -1);
    }
    const int from = subscriber.count();
    publish(nodeTopic("NCMD"), rebirth);
    const QJsonObject birth = payload(nodeTopic("NBIRTH"), from);
    EXPECT_EQ(seqOf(birth), 0);
    EXPECT_EQ(bdSeqOf(birth), bdSeq);
    for (const char *device : {"1", "2"}) {
        const QJsonObject deviceBirth = payload(deviceTopic("DBIRTH", device), from);
        EXPECT_EQ(metric(deviceBirth, QStringLiteral("drive_name")).value("value").toString(),
                  QStringLiteral("LUST CDE SIM")) << device;
    }
    EXPECT_EQ(seqOf(payload(deviceTopic("DBIRTH", "2"), from)), 2);
    stopNode();
}

// A DCMD's metric is a write with the checks of a set message: carried out and its
// value in DDATA, or refused and logged with nothing written, as lustbus read shows.
TEST_F(Sparkplug, ACommandWritesThroughTheBridgesChecks)
{
    const QString command = deviceTopic("DCMD", "1");
    startNode(QStringLiteral("--sparkplug-state %1 --poll speed_setpoint,current_limit,"
                             "firmware_version@100")
                  .arg(stateFile));
    payload(deviceTopic("DBIRTH", "1"));
    publish(command, decoder.encode(R"({"metrics": [{"name": "speed_setpoint", "type": "Int16", "value": 11}]})"));
    EXPECT_TRUE(waitForLog(QStringLiteral("writes are off"))) << m_err.toStdString();
    EXPECT_EQ(readValue("speed_setpoint").toInt(), -1234);
    stopNode();

    startNode(QStringLiteral("--sparkplug-state %1 --poll speed_setpoint,current_limit,"
                             "firmware_version@100 --allow-writes")
                  .arg(stateFile));
    payload(deviceTopic("DBIRTH", "1"));
    const struct { const char *payload; bool retained; const char *name, *held, *logged; } cases[] = {
        {R"({"metrics": [{"name": "speed_setpoint", "type": "Int16", "value": 500}]})", false,
         "speed_setpoint", "500", nullptr},
        {R"({"metrics": [{"alias": 65548, "type": "Int16", "value": -700}]})", false,
         "speed_setpoint", "-700", nullptr},
        {R"({"metrics": [{"name": "current_limit", "type": "Float", "value": 2.5}]})", false,
         "current_limit", "2.5", nullptr},
        {R"({"metrics": [{"name": "speed_setpoint", "type": "Int16", "value": 5000}]})", false,
         "speed_setpoint", "-700", "5000 lies outside its range -3000 to 3000"},
        {R"({"metrics": [{"name": "speed_setpoint", "type": "Float", "value": 1.5}]})", false,
         "speed_setpoint", "-700", "a Float value for speed_setpoint, whose datatype is Int16; nothing written"},
        {R"({"metrics": [{"name": "firmware_version", "type": "UInt32", "value": 1}]})", false,
         "firmware_version", "66051", "firmware_version is read-only"},
        {R"({"metrics": [{"name": "no_such", "type": "Int16", "value": 1}]})", false,
         "speed_setpoint", "-700", "no metric 'no_such'; nothing written"},
        {R"({"metrics": [{"name": "speed_setpoint", "type": "Int16", "value": 9}]})", true,
         "speed_setpoint", "-700", "a retained set message is not carried out"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        const int from = subscriber.count();
        publish(command, decoder.encode(c.payload), c.retained);
        if (c.logged) {
            EXPECT_TRUE(waitForLog(QLatin1String(c.logged))) << m_err.toStdString();
        } else {
            const QJsonObject data = payload(deviceTopic("DDATA", "1"), from);
            EXPECT_EQ(valueText(data.value("metrics").toArray().at(0).toObject().value("value")),
                      valueText(json(QStringLiteral("{\"v\": %1}").arg(QLatin1String(c.held))).value("v")))
                << compact(data);
        }
        EXPECT_EQ(valueText(readValue(c.name)),
                  valueText(json(QStringLiteral("{\"v\": %1}").arg(QLatin1String(c.held))).value("v")));
    }
    const QString err = stopNode();
    EXPECT_TRUE(err.contains(QStringLiteral("3 writes, 3 refused"))) << err.toStdString();
}

// With a primary host, births wait for its STATE to say online, and come again when it
// is back after being offline; a STATE that is not one is logged and ignored.
TEST_F(Sparkplug, BirthsWaitForThePrimaryHost)
{
    const QString state = QStringLiteral("spBv1.0/STATE/scada");
    startNode(QStringLiteral("--sparkplug-state %1 --primary-host scada --poll drive_name@200")
                  .arg(stateFile),
              false);
    // Retained, as a host publishes it: there whenever the node subscribes.
    publish(state, "online", true);
    EXPECT_TRUE(waitForLog(QStringLiteral("STATE of scada is not {\"online\": true|false, ...}: "
                                          "'online'; ignored")))
        << m_err.toStdString();
    waitFor([] { return false; }, 500);
    EXPECT_EQ(indexOf(nodeTopic("NBIRTH")), -1);

    int bdSeq = -1;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            publish(state, QStringLiteral(R"({"online": false, "timestamp": %1})").arg(now + 1).toUtf8(), true);
            ASSERT_TRUE(waitForLog(QStringLiteral("primary host scada is offline")));
        }
        const int from = subscriber.count();
        publish(state, QStringLiteral(R"({"online": true, "timestamp": %1})").arg(now + 2 * round).toUtf8(),
                true);
        const QJsonObject birth = payload(nodeTopic("NBIRTH"), from);
        EXPECT_EQ(seqOf(birth), 0);
        EXPECT_TRUE(bdSeq < 0 || bdSeqOf(birth) == bdSeq);
        bdSeq = bdSeqOf(birth);
        EXPECT_EQ(seqOf(payload(deviceTopic("DBIRTH", "1"), from)), 1);
    }
    stopNode();
}

// A broker that restarts makes a new session: its will and NBIRTH carry the next bdSeq.
TEST_F(Sparkplug, ANewSessionAfterABrokerRestartTakesTheNextBdSeq)
{
    startNode(QStringLiteral("--sparkplug-state %1 --poll speed_setpoint@200").arg(stateFile));
    const int bdSeq = bdSeqOf(payload(nodeTopic("NBIRTH")));
    broker.stop();
    ASSERT_TRUE(broker.start());
    // There before the bridge's first retry, a second after the loss.
    Subscriber late;
    ASSERT_TRUE(late.start(broker.port, {}, QStringLiteral("spBv1.0/#")));
    ASSERT_TRUE(late.waitForMessage(nodeTopic("NBIRTH"), 0, 10000));
    const auto decoded = [&](const char *type) {
        return decoder.decode({nodeTopic(type), late.last(nodeTopic(type))});
    };
    EXPECT_EQ(bdSeqOf(decoded("NBIRTH")), (bdSeq + 1) % 256);
    stopNode(SIGKILL);
    ASSERT_TRUE(late.waitForMessage(nodeTopic("NDEATH")));
    EXPECT_EQ(bdSeqOf(decoded("NDEATH")), (bdSeq + 1) % 256);
}

// Options that do not make a node are usage errors; a state file that cannot be read
// or written stops the bridge before it connects.
TEST_F(Sparkplug, BadOptionsAndStateFilesAreRefused)
{
    QFile bad(dir.filePath(QStringLiteral("bad.bdseq")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("x17\n");
    bad.close();
#define ON_SIM "bridge --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE " --broker 127.0.0.1 "
    const Expected runs[] = {
        {ON_SIM "--sparkplug plant", 2, "", "bad --sparkplug 'plant': expected GROUP/EDGE_NODE"},
        {ON_SIM "--sparkplug a/b/c", 2, "", "bad --sparkplug 'a/b/c': expected GROUP/EDGE_NODE"},
        {ON_SIM "--sparkplug pl+nt/x", 2, "", "bad --sparkplug 'pl+nt/x': an id without '+', '#' or '/'"},
        {ON_SIM "--sparkplug plant/", 2, "", "bad --sparkplug 'plant/': an empty id"},
        {ON_SIM "--sparkplug-device 1=x", 2, "", "--sparkplug-device needs --sparkplug"},
        {ON_SIM "--primary-host h", 2, "", "--primary-host needs --sparkplug"},
        {ON_SIM "--sparkplug a/b --sparkplug-device x", 2, "",
         "bad --sparkplug-device 'x': expected STATION=NAME with a station of 0 to 63"},
        {ON_SIM "--sparkplug a/b --sparkplug-device 1=a#", 2, "",
         "bad --sparkplug-device '1=a#': an id without '+', '#' or '/'"},
        {ON_SIM "--sparkplug a/b --sparkplug-device 5=x", 2, "",
         "bad --sparkplug-device: station 5 is not polled (--station)"},
        {ON_SIM "--sparkplug a/b --station 1 --station 2 --sparkplug-device 1=2", 2, "",
         "bad --sparkplug-device: two stations are device '2'"},
        {ON_SIM "--sparkplug a/b --primary-host h/1", 2, "",
         "bad --primary-host 'h/1': an id without '+', '#' or '/'"},
        {ON_SIM "--sparkplug a/b --sparkplug-state EP/bad.bdseq", 3, "",
         "the Sparkplug state file 'EP/bad.bdseq' holds 'x17', not a bdSeq of 0 to 255; remove it "
         "to start at 0"},
        {ON_SIM "--sparkplug a/b --sparkplug-state EP", 3, "",
         "cannot read the Sparkplug state file 'EP'"},
        {ON_SIM "--sparkplug a/b --sparkplug-state EP/bad.bdseq/x", 3, "",
         "cannot write the Sparkplug state file 'EP/bad.bdseq/x': cannot make its directory EP/bad.bdseq"},
    };
#undef ON_SIM
    expectRuns(runs, {}, {}, dir.path());
}

} // namespace
