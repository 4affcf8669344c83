// (9) a plant on one broker: four bridges, each on its own simulated bus at 57600 baud
// with eight servos, poll ten parameters per servo without a pause against one
// mosquitto on loopback, while the servos' values keep changing so that every read is
// a new value to publish. A subscriber in this process takes every value.
//
// Figures: values delivered to the subscriber per second against what the four lines
// can carry (baud / 10 bits per character / the bytes of one exchange, counted on the
// links), and the latency from the end of a bus read to the value's arrival at the
// subscriber, p50 and p99, on the one monotonic clock.
//
// (14) the same with a Sparkplug B edge node beside each bridge: DDATA messages and
// their values delivered per second, and the bytes on the broker (topic and payload)
// per value, Sparkplug against the JSON topics of the same run.
//
// (11) a watch through the gateway beside a bridge that polls a station that is
// switched off: the share of the watch's samples due (one per interval) that it took
// and got a value for.
#include "bridge.h"
#include "benchaddress.h"
#include "countinglink.h"
#include "driverlustbusservoccde.h"
#include "gatewayonpty.h"
#include "linkbusaccess.h"
#include "linkclock.h"
#include "mqttclient.h"
#include "seriallink.h"
#include "simulator.h"
#include "sparkplugnode.h"
#include "tcplink.h"

#include <QtCore/QEventLoop>
#include <QtCore/QHash>
#include <QtCore/QMutex>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr int Buses = 4;
constexpr int Stations = 8;
constexpr int Baud = 57600;
constexpr int BitsPerCharacter = 10;
const char *const Names[] = {"current_trim",   "brake_delay",     "speed_setpoint",
                             "control_word",   "position_target", "encoder_offset",
                             "current_limit",  "ramp_time",       "torque_offset",
                             "firmware_version"};

qint64 nowUs()
{
    return LinkClock::steady().nowUs();
}

QString topicOf(int bus, int station, const QString &name)
{
    return QStringLiteral("bench/bus%1/%2/%3").arg(bus).arg(station).arg(name);
}

// When each value topic's last bus read ended, for the subscriber's latency.
class ReadLog
{
public:
    void ended(const QString &topic)
    {
        const qint64 at = nowUs();
        QMutexLocker locker(&m_lock);
        m_endedUs.insert(topic, at);
    }
    bool endedAt(const QString &topic, qint64 *us)
    {
        QMutexLocker locker(&m_lock);
        const auto it = m_endedUs.constFind(topic);
        if (it == m_endedUs.cend())
            return false;
        *us = it.value();
        return true;
    }

private:
    QMutex m_lock;
    QHash<QString, qint64> m_endedUs;
};

// The bridge's bus access, noting when every successful read ended and counting the
// reads and their bytes on the line while measuring is set.
class TimedBusAccess : public BusAccess
{
public:
    TimedBusAccess(BusAccess &inner, const CountingLink &line, int bus, ReadLog &log,
                   const std::atomic<bool> &measuring, std::atomic<long long> &reads,
                   std::atomic<long long> &bytes)
        : m_inner(inner), m_line(line), m_bus(bus), m_log(log), m_measuring(measuring),
          m_reads(reads), m_bytes(bytes)
    {
    }
    Result read(int station, const LustBus::CatalogueEntry &entry, QJsonValue *value,
                bool once) override
    {
        const long long bytesBefore = m_line.bytes();
        const Result result = m_inner.read(station, entry, value, once);
        if (result.outcome != Done) {
            ++failures;
            return result;
        }
        m_log.ended(topicOf(m_bus, station, entry.name));
        if (m_measuring) {
            ++m_reads;
            m_bytes += m_line.bytes() - bytesBefore;
        }
        return result;
    }
    Result write(int station, const LustBus::CatalogueEntry &entry, const QJsonValue &value,
                 QJsonValue *sent) override
    {
        return m_inner.write(station, entry, value, sent);
    }
    int reopens() const override { return m_inner.reopens(); }
    void holdWritesTo(int reopens) override { m_inner.holdWritesTo(reopens); }
    std::atomic<long long> failures{0};

private:
    BusAccess &m_inner;
    const CountingLink &m_line;
    int m_bus;
    ReadLog &m_log;
    const std::atomic<bool> &m_measuring;
    std::atomic<long long> &m_reads;
    std::atomic<long long> &m_bytes;
};

// mosquitto on a free loopback port, for as long as the object lives.
class Mosquitto
{
public:
    bool start(QString *error)
    {
        const QString program = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        QTcpServer probe;
        if (program.isEmpty() || !probe.listen(QHostAddress::LocalHost, 0)) {
            *error = QStringLiteral("no mosquitto (Debian package mosquitto) or no free port");
            return false;
        }
        port = probe.serverPort();
        probe.close();
        QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly)
            || config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n")
                                .arg(port).toUtf8()) < 0) {
            *error = config.errorString();
            return false;
        }
        config.close();
        m_process.start(program, {QStringLiteral("-c"), config.fileName()});
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(100))
                return true;
            QThread::msleep(20);
        }
        *error = QStringLiteral("mosquitto did not start: %1")
                     .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
        return false;
    }
    ~Mosquitto()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Every value topic's arrivals and their latencies, from the client's network thread.
struct Arrivals
{
    QMutex lock;
    std::vector<qint64> latenciesUs;
    long long values = 0;
    long long bytes = 0; //!< of the values' messages: topic and payload
    long long sparkplugMessages = 0; //!< DDATA
    long long sparkplugValues = 0;   //!< their metrics
    long long sparkplugBytes = 0;
    bool counting = false;
};

// What the main thread sets: a bridge thread reads its bus bare until bareOver, then
// through a bridge until stop; reads count while measuring.
struct Phases
{
    std::atomic<bool> measuring{false};
    std::atomic<bool> bareOver{false};
    std::atomic<bool> stop{false};
};

// One bus: the simulated servos, and on a thread of its own the driver, the link,
// the bridge and its MQTT client.
struct Bus
{
    LustBusSim::Simulator sim;
    QString error;
    std::atomic<long long> reads{0}; //!< while measuring
    std::atomic<long long> bytes{0}; //!< of those reads, on the line
};

void runBus(Bus &bus, int index, const LustBus::Catalogue &catalogue, quint16 brokerPort,
            ReadLog &log, const Phases &phases, const QString &sparkplugState)
{
    DriverLustBusServoCCDE driver;
    // The pseudo-terminal does not pace; the simulator does, at its line rate.
    SerialLink serial(bus.sim.slaveName(), QStringLiteral("RS485,115200,NONE,8,1"),
                      ProtocolSettings(500, 0, 1, 0));
    if (!serial.open()) {
        bus.error = serial.errorString();
        return;
    }
    CountingLink counted(serial);
    LinkBusAccess access(driver, counted, &serial, ProtocolSettings(500, 0, 1, 0),
                         catalogue.fileName());
    TimedBusAccess timed(access, counted, index, log, phases.measuring, bus.reads, bus.bytes);
    // The bare bus first: the bridge's reads in a loop, without the bridge or a broker.
    while (!phases.bareOver) {
        for (int station = 1; station <= Stations && !phases.bareOver; ++station) {
            for (const char *name : Names) {
                QJsonValue value;
                timed.read(station, *catalogue.find(QLatin1String(name)), &value, false);
            }
        }
    }
    MqttClient client;
    Bridge::Settings settings;
    settings.prefix = QStringLiteral("bench");
    settings.bus = QStringLiteral("bus%1").arg(index);
    for (int station = 1; station <= Stations; ++station)
        settings.stations.append(station);
    Bridge::PollGroup group;
    for (const char *name : Names)
        group.names.append(QLatin1String(name));
    group.intervalMs = 10; // shorter than a round: the bus never rests
    settings.groups.append(group);
    Bridge bridge(catalogue, timed, client, settings);
    MqttClient::Settings mqtt;
    mqtt.port = brokerPort;
    // (14): an edge node beside the bridge, on its own connection.
    MqttClient nodeClient;
    SparkplugNode node(bridge, nodeClient,
                       {QStringLiteral("bench"), settings.bus, {}, sparkplugState, QString()});
    if (!sparkplugState.isEmpty()) {
        bridge.addConvention(&node);
        if (!node.start(mqtt, &bus.error))
            return;
    }
    bridge.start();
    if (!client.start(mqtt)) {
        bus.error = client.errorString();
        return;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (phases.stop)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    bridge.stop();
    if (timed.failures > 0)
        bus.error = QStringLiteral("%1 reads failed on bus %2").arg(timed.failures).arg(index);
}

// A value's message as it arrives: a JSON value topic, or a Sparkplug DDATA.
void arrived(Arrivals &arrivals, ReadLog &log, const QString &topic, const QByteArray &payload)
{
    const qint64 at = nowUs();
    const long long bytes = topic.toUtf8().size() + payload.size();
    if (topic.startsWith(QLatin1String("spBv1.0/"))) {
        SparkplugMetrics::Payload decoded;
        const bool parsed = decoded.ParseFromArray(payload.constData(), int(payload.size()));
        QMutexLocker locker(&arrivals.lock);
        if (arrivals.counting && parsed) {
            ++arrivals.sparkplugMessages;
            arrivals.sparkplugValues += decoded.metrics_size();
            arrivals.sparkplugBytes += bytes;
        }
        return;
    }
    qint64 ended = 0;
    if (!log.endedAt(topic, &ended))
        return;
    QMutexLocker locker(&arrivals.lock);
    if (!arrivals.counting)
        return;
    ++arrivals.values;
    arrivals.bytes += bytes;
    arrivals.latenciesUs.push_back(at - ended);
}

// (9), and (14) with a Sparkplug node beside each bridge.
void runBridgesOnOneBroker(benchmark::State &state, bool sparkplug)
{
    QString error;
    QTemporaryDir stateDir;
    LustBus::Catalogue catalogue;
    Mosquitto broker;
    if (!LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &catalogue, &error)
        || !broker.start(&error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    const LustBusSim::ParameterTable table = LustBusSim::ParameterTable::fromCatalogue(catalogue);
    std::vector<std::unique_ptr<Bus>> buses;
    for (int i = 0; i < Buses; ++i) {
        buses.push_back(std::make_unique<Bus>());
        for (int station = 1; station <= Stations; ++station)
            buses.back()->sim.setStation(station, table);
        buses.back()->sim.setLineRate(Baud, BitsPerCharacter);
        if (!buses.back()->sim.start(LustBusSim::Simulator::Pty)) {
            state.SkipWithError(buses.back()->sim.errorString().toLocal8Bit().constData());
            return;
        }
    }

    ReadLog log;
    Arrivals arrivals;
    MqttClient subscriber;
    std::atomic<bool> subscribed{false};
    QObject::connect(&subscriber, &MqttClient::connected, &subscriber, [&] {
        subscriber.subscribe(QStringLiteral("bench/+/+/+"), 0);
        subscriber.subscribe(QStringLiteral("spBv1.0/bench/DDATA/+/+"), 0);
        subscribed = true;
    }, Qt::DirectConnection);
    // This thread runs no event loop: the values are taken on the network thread, as
    // they arrive.
    QObject::connect(&subscriber, &MqttClient::messagesWaiting, &subscriber,
                     [&] { subscriber.deliverWaiting(); }, Qt::DirectConnection);
    QObject::connect(
        &subscriber, &MqttClient::messageReceived, &subscriber,
        [&](const QString &topic, const QByteArray &payload) {
            arrived(arrivals, log, topic, payload);
        },
        Qt::DirectConnection);
    MqttClient::Settings mqtt;
    mqtt.port = broker.port;
    if (!subscriber.start(mqtt)) {
        state.SkipWithError(subscriber.errorString().toLocal8Bit().constData());
        return;
    }
    while (!subscribed)
        QThread::msleep(5);

    // The servos' values move on every 20 ms: each is read about every 0.35 s, so every
    // read finds a new one.
    Phases phases;
    std::atomic<bool> stopMoving{false};
    std::unique_ptr<QThread> mover(QThread::create([&] {
        for (qint64 tick = 1; !stopMoving; ++tick) {
            for (const auto &bus : buses) {
                for (int station = 1; station <= Stations; ++station) {
                    for (const char *name : Names) {
                        const LustBus::CatalogueEntry *entry = catalogue.find(QLatin1String(name));
                        const double value = double((tick + station) % 100);
                        bus->sim.setParameter(
                            station, LustBusSim::Parameter::simple(
                                         entry->number, entry->type,
                                         LustBusSim::Parameter::rawFromReal(entry->type, value),
                                         entry->readOnly));
                    }
                }
            }
            QThread::msleep(20);
        }
    }));
    mover->start();
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < Buses; ++i) {
        const QString stateFile =
            sparkplug ? stateDir.filePath(QStringLiteral("bus%1.bdseq").arg(i)) : QString();
        threads.emplace_back(QThread::create(runBus, std::ref(*buses[size_t(i)]), i,
                                             std::cref(catalogue), broker.port, std::ref(log),
                                             std::cref(phases), stateFile));
        threads.back()->start();
    }
    // Measures for ms: the reads and their bytes on all buses, and the seconds.
    const auto measure = [&](int ms, long long *reads, long long *bytes) {
        for (const auto &bus : buses)
            bus->reads = bus->bytes = 0;
        const qint64 begin = nowUs();
        phases.measuring = true;
        QThread::msleep(ulong(ms));
        phases.measuring = false;
        *reads = *bytes = 0;
        for (const auto &bus : buses) {
            *reads += bus->reads;
            *bytes += bus->bytes;
        }
        return double(nowUs() - begin) / 1e6;
    };

    // What the buses deliver bare, then through the bridges and the broker.
    long long bareReads = 0, reads = 0, bytes = 0;
    QThread::msleep(500);
    const double bareSeconds = measure(5000, &bareReads, &bytes);
    phases.bareOver = true;
    QThread::msleep(1500); // every bridge connected and polling
    double seconds = 0;
    for (auto _ : state) {
        {
            QMutexLocker locker(&arrivals.lock);
            arrivals.counting = true;
        }
        seconds = measure(10000, &reads, &bytes);
        QMutexLocker locker(&arrivals.lock);
        arrivals.counting = false;
        state.SetIterationTime(seconds);
    }
    // The values keep moving until every bridge has finished its round.
    phases.stop = true;
    for (auto &thread : threads)
        thread->wait();
    stopMoving = true;
    mover->wait();
    subscriber.stop(QString(), QByteArray(), 0);

    for (const auto &bus : buses) {
        if (!bus->error.isEmpty()) {
            state.SkipWithError(bus->error.toLocal8Bit().constData());
            return;
        }
    }
    std::vector<qint64> &latencies = arrivals.latenciesUs;
    if (latencies.empty() || reads == 0 || bareReads == 0) {
        state.SkipWithError("no value arrived");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return double(latencies[size_t(p * double(latencies.size() - 1))]) / 1000.0;
    };
    const double bytesPerRead = double(bytes) / double(reads);
    const double limit = Buses * (Baud / double(BitsPerCharacter) / bytesPerRead);
    const double bare = double(bareReads) / bareSeconds;
    const double delivered = double(arrivals.values) / seconds;
    state.counters["bare reads/s"] = bare;
    state.counters["reads/s"] = double(reads) / seconds;
    state.counters["values/s"] = delivered;
    state.counters["% of bare"] = 100.0 * delivered / bare;
    state.counters["bytes/read"] = bytesPerRead;
    state.counters["limit/s"] = limit;
    state.counters["% of limit"] = 100.0 * delivered / limit;
    state.counters["p50 ms"] = percentile(0.50);
    state.counters["p99 ms"] = percentile(0.99);
    state.counters["max ms"] = double(latencies.back()) / 1000.0;
    if (sparkplug) {
        state.counters["DDATA/s"] = double(arrivals.sparkplugMessages) / seconds;
        state.counters["Sparkplug values/s"] = double(arrivals.sparkplugValues) / seconds;
        state.counters["JSON B/value"] = double(arrivals.bytes) / double(arrivals.values);
        state.counters["Sparkplug B/value"] =
            arrivals.sparkplugValues ? double(arrivals.sparkplugBytes) / double(arrivals.sparkplugValues) : 0.0;
    }
    state.SetLabel(sparkplug ? "the same with a Sparkplug node beside each bridge"
                             : "4 bridges x 8 stations x 10 parameters, 57600 baud, one mosquitto");
}

void BM_BridgesOnOneBroker(benchmark::State &state)
{
    runBridgesOnOneBroker(state, false);
}
BENCHMARK(BM_BridgesOnOneBroker)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_SparkplugBesideTheBridges(benchmark::State &state)
{
    runBridgesOnOneBroker(state, true);
}
BENCHMARK(BM_SparkplugBesideTheBridges)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// A bridge on its own thread, a client of the gateway at port, polling the whole
// catalogue (the default: every 1000 ms) on station with the driver's time-out and
// retries, publishing to the broker until stop.
void runBridgeThroughGateway(quint16 port, int station, const LustBus::Catalogue &catalogue,
                             quint16 brokerPort, const std::atomic<bool> &stop, QString *error)
{
    DriverLustBusServoCCDE driver;
    const ProtocolSettings protocol(500, 3, station, 0);
    TcpLink link(QStringLiteral("127.0.0.1"), port, protocol);
    if (!link.open()) {
        *error = link.errorString();
        return;
    }
    LinkBusAccess access(driver, link, &link, protocol, catalogue.fileName());
    MqttClient client;
    Bridge::Settings settings;
    settings.prefix = QStringLiteral("bench");
    settings.bus = QStringLiteral("gateway");
    settings.stations = {station};
    Bridge bridge(catalogue, access, client, settings);
    bridge.start();
    MqttClient::Settings mqtt;
    mqtt.port = brokerPort;
    if (!client.start(mqtt)) {
        *error = client.errorString();
        return;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    bridge.stop();
}

// (11): arg 0 the gateway's back-off for silent stations (1: on, as by default; 0:
// --keep-trying). A watch of station 1 takes a sample every 100 ms (or as soon as a
// slower one ends) for 20 s with the driver's time-out and retries (500 ms, 3) through
// the gateway, while a bridge polls station 2, which is switched off, through the same
// gateway.
void BM_WatchBesideAbsentStation(benchmark::State &state)
{
    const bool backOff = state.range(0) != 0;
    constexpr int IntervalMs = 100;
    constexpr qint64 RunUs = 20 * 1000000;
    QString error;
    LustBus::Catalogue catalogue;
    Mosquitto broker;
    GatewayOnPty gateway;
    Gateway::Settings settings;
    settings.silentProbeIntervalMs = backOff ? Gateway::silentProbeIntervalMs(500) : 0;
    if (!LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &catalogue, &error)
        || !broker.start(&error)
        || !gateway.start(Baud, LustBusSim::ParameterTable::fromCatalogue(catalogue), settings,
                          &error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    std::atomic<bool> stop{false};
    QString bridgeError;
    std::unique_ptr<QThread> bridge(QThread::create(runBridgeThroughGateway, gateway.port(), 2,
                                                    std::cref(catalogue), broker.port,
                                                    std::cref(stop), &bridgeError));
    bridge->start();
    QThread::msleep(3000); // the bridge polls, and its station has fallen silent

    DriverLustBusServoCCDE driver;
    DriverInterface &host = driver;
    TcpLink link(QStringLiteral("127.0.0.1"), gateway.port(), ProtocolSettings(500, 3, 1, 0));
    if (!link.open()) {
        state.SkipWithError(link.errorString().toLocal8Bit().constData());
        return;
    }
    const DataAddress speed = makeAddress(2, 1, "INT16:12");
    int due = 0, samples = 0, kept = 0;
    qint64 slowestUs = 0;
    gateway.simulator().resetCounters();
    for (auto _ : state) {
        const qint64 begin = nowUs();
        due = int(RunUs / (IntervalMs * 1000));
        for (qint64 next = begin; next < begin + RunUs; next += IntervalMs * 1000) {
            QThread::usleep(ulong(qMax<qint64>(next - nowUs(), 0)));
            const qint64 at = nowUs();
            ++samples;
            if (!host.read(link, speed).isEmpty() && !host.hasError())
                ++kept;
            slowestUs = qMax(slowestUs, nowUs() - at);
            next = qMax(next, nowUs() - IntervalMs * 1000);
        }
        state.SetIterationTime(double(nowUs() - begin) / 1e6);
    }
    const LustBusSim::SimulatorCounters counters = gateway.simulator().counters();
    stop = true;
    bridge->wait();
    if (!bridgeError.isEmpty()) {
        state.SkipWithError(bridgeError.toLocal8Bit().constData());
        return;
    }
    state.counters["due"] = due;
    state.counters["taken"] = samples;
    state.counters["kept"] = kept;
    state.counters["% kept"] = 100.0 * kept / due;
    state.counters["slowest ms"] = double(slowestUs) / 1000.0;
    state.counters["station 2 requests"] = double(counters.foreign);
    state.SetLabel(backOff ? "watch of station 1 beside a bridge on absent station 2"
                           : "the same, gateway --keep-trying");
}
BENCHMARK(BM_WatchBesideAbsentStation)
    ->ArgName("backoff")->Arg(1)->Arg(0)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
