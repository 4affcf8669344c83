// The driver end to end: a serial link on a pseudo-terminal to the simulated servo,
// unthrottled and with the simulator pacing both directions at the line rate, one
// link and eight in parallel; through the gateway, TCP links of one or eight drivers
// sharing one pseudo-terminal; lustbus's backup of a whole catalogue at line rate; and
// the lustbus program's backup and restore against a station that is switched off.
//
// Figures: req/s, the bytes of one exchange on the wire (request, reply and the
// closing EOT), the wire's limit (baud / 10 bits per character / bytes) and the
// measured rate as a percentage of it.
#include "benchaddress.h"
#include "catalogueaccess.h"
#include "countinglink.h"
#include "driverlustbusservoccde.h"
#include "gateway.h"
#include "gatewayonpty.h"
#include "seriallink.h"
#include "simulator.h"
#include "tcplink.h"

#include <QtCore/QEventLoop>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BitsPerCharacter = 10; // 7E1 and 8N1 alike: start, 7 + parity or 8, stop
constexpr quint16 ArrayParameter = 200;

const DataAddress simpleRead = makeAddress(2, 1, "INT16:12");
const DataAddress arrayRead = makeAddress(2, 32, "USIGN16:200:0"); // 32 elements

// One simulated servo on its own pseudo-terminal, a serial link to it and a driver.
// Everything but the simulator's own thread lives on the thread that made it.
class ServoOnPty
{
public:
    bool start(int baud, QString *error)
    {
        LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
        QVector<qint64> elements;
        for (int i = 0; i < 32; ++i)
            elements.append(0x1000 + i);
        table.insert(LustBusSim::Parameter::array(ArrayParameter, LustBusSim::DataType::USign16,
                                                  elements));
        return start(baud, table, error);
    }

    bool start(int baud, const LustBusSim::ParameterTable &table, QString *error)
    {
        m_sim.setStation(1, table);
        m_sim.setLineRate(baud, BitsPerCharacter);
        if (!m_sim.start(LustBusSim::Simulator::Pty)) {
            *error = m_sim.errorString();
            return false;
        }
        // Time-out 500 ms, no retries, station 1, no delay. 8N1: the pseudo-terminal
        // does not pace, and some kernels refuse 7 data bits with parity on one.
        m_link.reset(new SerialLink(m_sim.slaveName(), QStringLiteral("RS485,115200,NONE,8,1"),
                                    ProtocolSettings(500, 0, 1, 0)));
        if (!m_link->open()) {
            *error = m_link->errorString();
            return false;
        }
        m_counted.reset(new CountingLink(*m_link));
        return true;
    }

    // One read through DriverInterface; false with error when it failed.
    bool read(const DataAddress &address, QString *error)
    {
        DriverInterface &host = m_driver;
        const QByteArray value = host.read(*m_counted, address);
        if (host.hasError() || value.isEmpty()) {
            *error = host.errorText();
            return false;
        }
        return true;
    }

    CountingLink &link() { return *m_counted; }
    DriverInterface &driver() { return m_driver; }

private:
    LustBusSim::Simulator m_sim;
    std::unique_ptr<SerialLink> m_link;
    std::unique_ptr<CountingLink> m_counted;
    DriverLustBusServoCCDE m_driver;
};

// links lines of baud each, side by side.
void reportAgainstWire(benchmark::State &state, double requestsPerSecond, double bytesPerRequest,
                       int baud, int links = 1)
{
    state.counters["req/s"] = requestsPerSecond;
    state.counters["bytes/req"] = bytesPerRequest;
    if (baud > 0) {
        const double limit = links * (baud / double(BitsPerCharacter) / bytesPerRequest);
        state.counters["limit req/s"] = limit;
        state.counters["% of limit"] = 100.0 * requestsPerSecond / limit;
    }
}

// (3) and (4): arg 0 the line rate (0: unthrottled), arg 1 the address (0 simple, 1 array).
void BM_PtyRead(benchmark::State &state)
{
    const int baud = int(state.range(0));
    const DataAddress &address = state.range(1) == 0 ? simpleRead : arrayRead;
    ServoOnPty servo;
    QString error;
    if (!servo.start(baud, &error) || !servo.read(address, &error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    servo.link().reset();
    const Clock::time_point begin = Clock::now();
    for (auto _ : state) {
        if (!servo.read(address, &error)) {
            state.SkipWithError(error.toLocal8Bit().constData());
            return;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const double requests = double(state.iterations());
    reportAgainstWire(state, requests / seconds, double(servo.link().bytes()) / requests, baud);
    state.SetLabel(state.range(1) == 0 ? "INT16 simple read" : "USIGN16 x 32 array read");
}
BENCHMARK(BM_PtyRead)
    ->ArgNames({"baud", "array"})
    ->Args({0, 0})->Args({0, 1})
    ->Args({57600, 0})->Args({57600, 1})
    ->Args({115200, 0})->Args({115200, 1})
    ->UseRealTime()
    ->MinTime(2.0);

// Simple reads for a fixed time on each of links threads, every one with its own
// servo, pseudo-terminal, link and driver made on its thread. The total rate sums the
// rates of the threads.
struct ParallelRun
{
    double requestsPerSecond = 0;
    double bytesPerRequest = 0;
    double seconds = 0;
    QString error;
};

// What one thread of a parallel run did.
struct Worker
{
    long long requests = 0;
    long long bytes = 0;
    double seconds = 0;
    QString error;
};

// The threads' rates summed; the first error instead, when one failed.
ParallelRun summed(const std::vector<Worker> &workers, ParallelRun run = ParallelRun())
{
    long long requests = 0, bytes = 0;
    for (const Worker &w : workers) {
        if (!w.error.isEmpty()) {
            run.error = w.error;
            return run;
        }
        run.requestsPerSecond += double(w.requests) / w.seconds;
        run.seconds = qMax(run.seconds, w.seconds);
        requests += w.requests;
        bytes += w.bytes;
    }
    run.bytesPerRequest = double(bytes) / double(requests);
    return run;
}

ParallelRun runParallel(int links, int baud, double seconds)
{
    std::vector<Worker> workers(static_cast<size_t>(links));
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(300);
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
    for (Worker &w : workers) {
        threads.emplace_back([&w, baud, start, end] {
            ServoOnPty servo;
            if (!servo.start(baud, &w.error) || !servo.read(simpleRead, &w.error))
                return;
            std::this_thread::sleep_until(start);
            servo.link().reset();
            const Clock::time_point begin = Clock::now();
            while (Clock::now() < end) {
                if (!servo.read(simpleRead, &w.error))
                    return;
                ++w.requests;
            }
            w.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            w.bytes = servo.link().bytes();
        });
    }
    for (std::thread &t : threads)
        t.join();
    return summed(workers);
}

// (5): eight links at 57600 baud against eight times one link, measured right before.
void BM_ParallelLinks(benchmark::State &state)
{
    const int links = int(state.range(0));
    const int baud = 57600;
    const double seconds = 3.0;
    for (auto _ : state) {
        const ParallelRun one = runParallel(1, baud, seconds);
        const ParallelRun all = one.error.isEmpty() ? runParallel(links, baud, seconds) : one;
        if (!all.error.isEmpty()) {
            state.SkipWithError(all.error.toLocal8Bit().constData());
            return;
        }
        state.SetIterationTime(all.seconds);
        reportAgainstWire(state, all.requestsPerSecond, all.bytesPerRequest, baud, links);
        state.counters["1 link req/s"] = one.requestsPerSecond;
        state.counters["% of links x 1"] =
            100.0 * all.requestsPerSecond / (links * one.requestsPerSecond);
    }
    state.SetLabel("INT16 simple reads, 57600 baud, a servo per link");
}
BENCHMARK(BM_ParallelLinks)->ArgName("links")->Arg(8)->Iterations(1)->UseManualTime();

// Simple reads for seconds on each of clients threads, every one a driver on its own TCP
// link to the gateway. The total rate sums the rates of the threads.
ParallelRun runThroughGateway(int clients, int baud, double seconds)
{
    ParallelRun run;
    GatewayOnPty gateway;
    if (!gateway.start(baud, LustBusSim::ParameterTable::defaultTable(), Gateway::Settings(),
                       &run.error))
        return run;
    std::vector<Worker> workers(static_cast<size_t>(clients));
    std::vector<std::unique_ptr<QThread>> threads;
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(300);
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
    const quint16 port = gateway.port();
    for (Worker &w : workers) {
        // QThreads: the sockets' notifiers work only on threads that Qt started.
        threads.emplace_back(QThread::create([&w, port, start, end] {
            TcpLink tcp(QStringLiteral("127.0.0.1"), port, ProtocolSettings(2000, 0, 1, 0));
            CountingLink link(tcp);
            DriverLustBusServoCCDE driver;
            DriverInterface &host = driver;
            if (!tcp.open()) {
                w.error = tcp.errorString();
                return;
            }
            std::this_thread::sleep_until(start);
            const Clock::time_point begin = Clock::now();
            while (Clock::now() < end) {
                if (host.read(link, simpleRead).isEmpty() || host.hasError()) {
                    w.error = host.errorText();
                    return;
                }
                ++w.requests;
            }
            w.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            w.bytes = link.bytes();
        }));
        threads.back()->start();
    }
    for (const auto &t : threads)
        t->wait();
    return summed(workers, run);
}

// (6): one driver, unthrottled, through the gateway against directly on the pseudo-
// terminal right before: what the gateway adds to an exchange.
void BM_GatewayRead(benchmark::State &state)
{
    const double seconds = 3.0;
    for (auto _ : state) {
        const ParallelRun direct = runParallel(1, 0, seconds);
        const ParallelRun through = direct.error.isEmpty() ? runThroughGateway(1, 0, seconds)
                                                           : direct;
        if (!through.error.isEmpty()) {
            state.SkipWithError(through.error.toLocal8Bit().constData());
            return;
        }
        state.SetIterationTime(through.seconds);
        reportAgainstWire(state, through.requestsPerSecond, through.bytesPerRequest, 0);
        state.counters["direct req/s"] = direct.requestsPerSecond;
        state.counters["gateway us/exchange"] =
            1e6 / through.requestsPerSecond - 1e6 / direct.requestsPerSecond;
    }
    state.SetLabel("INT16 simple reads, unthrottled, through the gateway");
}
BENCHMARK(BM_GatewayRead)->Iterations(1)->UseManualTime();

// (7): clients drivers through one gateway to one servo at 57600 baud: how much of the
// wire's limit the shared bus reaches.
void BM_GatewayClients(benchmark::State &state)
{
    const int clients = int(state.range(0));
    const int baud = 57600;
    for (auto _ : state) {
        const ParallelRun run = runThroughGateway(clients, baud, 3.0);
        if (!run.error.isEmpty()) {
            state.SkipWithError(run.error.toLocal8Bit().constData());
            return;
        }
        state.SetIterationTime(run.seconds);
        reportAgainstWire(state, run.requestsPerSecond, run.bytesPerRequest, baud);
    }
    state.SetLabel("INT16 simple reads, 57600 baud, one bus");
}
BENCHMARK(BM_GatewayClients)->ArgName("clients")->Arg(1)->Arg(8)->Iterations(1)->UseManualTime();

// (8): the reads of a backup of the sample catalogue at 57600 baud, every parameter
// once and arrays in as few requests as a telegram carries, against the wire time of
// the bytes its exchanges put on the line (request, reply and the closing EOT).
void BM_Backup(benchmark::State &state)
{
    const int baud = 57600;
    LustBus::Catalogue catalogue;
    QString error;
    ServoOnPty servo;
    if (!LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &catalogue, &error)
        || !servo.start(baud, LustBusSim::ParameterTable::fromCatalogue(catalogue), &error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    CatalogueAccess access(servo.driver(), servo.link());
    int requests = 0;
    for (const LustBus::CatalogueEntry &entry : catalogue.entries)
        requests += int(CatalogueAccess::readRuns(entry).size());
    double seconds = 0;
    double wireSeconds = 0;
    for (auto _ : state) {
        servo.link().reset();
        const Clock::time_point begin = Clock::now();
        for (const LustBus::CatalogueEntry &entry : catalogue.entries) {
            QByteArray host;
            if (access.read(entry, &host, &error) != CatalogueAccess::Done) {
                state.SkipWithError(error.toLocal8Bit().constData());
                return;
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        wireSeconds += double(servo.link().bytes()) * BitsPerCharacter / baud;
    }
    state.counters["parameters"] = double(catalogue.entries.size());
    state.counters["requests"] = requests;
    state.counters["bytes"] = double(servo.link().bytes());
    state.counters["wire ms"] = 1000.0 * wireSeconds / double(state.iterations());
    state.counters["x wire"] = seconds / wireSeconds;
    state.SetLabel("backup of catalogues/sample.json, 57600 baud");
}
BENCHMARK(BM_Backup)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// (10): the lustbus program's backup (arg 0: 0) and restore (1) of the sample catalogue
// against a station that is switched off: the simulator on a pseudo-terminal serves
// station 2 only, lustbus asks station 1 with the driver's time-out and retries (500 ms,
// 3), so that one request waits 2 s before it gives up. Arg 1: 1 adds --keep-trying,
// which asks for every parameter all the same.
void BM_SilentStation(benchmark::State &state)
{
    const bool restore = state.range(0) == 1;
    LustBus::Catalogue catalogue;
    QString error;
    if (!LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &catalogue, &error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    LustBusSim::Simulator sim;
    sim.setStation(1, LustBusSim::ParameterTable::fromCatalogue(catalogue));
    QTemporaryDir dir;
    const QString set = dir.filePath(QStringLiteral("set.json"));
    const QStringList link{QStringLiteral("--port"), QString(), QStringLiteral("--settings"),
                           QStringLiteral("RS485,57600,NONE,8,1"), QStringLiteral("--catalogue"),
                           QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE)};
    auto run = [&link, &sim](const QStringList &command) {
        QStringList arguments = command + link;
        arguments[command.size() + 1] = sim.slaveName();
        QProcess process;
        process.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
        process.waitForFinished(300000);
        return process.exitCode();
    };
    // The set to restore, from the station while it was on.
    if (!sim.start(LustBusSim::Simulator::Pty)
        || run({QStringLiteral("backup"), QStringLiteral("-o"), set}) != 0) {
        state.SkipWithError("the simulator or the backup of the set failed");
        return;
    }
    sim.removeStation(1);
    sim.setStation(2, LustBusSim::ParameterTable::fromCatalogue(catalogue));
    QStringList command = restore ? QStringList{QStringLiteral("restore"), set}
                                  : QStringList{QStringLiteral("backup"), QStringLiteral("-o"),
                                                dir.filePath(QStringLiteral("off.json"))};
    if (state.range(1) == 1)
        command.append(QStringLiteral("--keep-trying"));
    double seconds = 0;
    for (auto _ : state) {
        sim.resetCounters();
        const Clock::time_point begin = Clock::now();
        if (run(command) != 1) {
            state.SkipWithError("lustbus did not end with exit status 1");
            return;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    const double perRun = seconds / double(state.iterations());
    state.counters["requests"] = double(sim.counters().requests) / 4; // attempts per request
    state.counters["x request time-out"] = perRun / 2.0;
    state.SetLabel(QStringLiteral("%1 of catalogues/sample.json, station off%2")
                       .arg(restore ? QStringLiteral("restore") : QStringLiteral("backup"),
                            state.range(1) ? QStringLiteral(", --keep-trying") : QString())
                       .toStdString());
}
BENCHMARK(BM_SilentStation)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Iterations(1)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
