// Eight drivers from the plugin's CreateDriver, each on a thread of its own with its own
// serial link on a pseudo-terminal to its own simulated servo, all running at once.
// Every servo holds other values and answers as another station, so that a value, a
// station or an error that leaked from one driver object to another would show.
// scripts/test.sh thread runs this suite under ThreadSanitizer.
#include "driverinterface.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "servoaccess.h"
#include "simulator.h"

#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

using LustBusSim::Parameter;
using LustBusSim::Simulator;

namespace {

constexpr int linkCount = 8;
constexpr int requestsEach = 300;
constexpr int failingLink = 3; //!< asks every other time for a parameter its servo lacks

// Lets every thread start its requests at the same moment.
class StartLine
{
public:
    explicit StartLine(int threads) : m_waiting(threads) {}
    // False when the others have not all arrived within the limit.
    bool arriveAndWait(std::chrono::seconds limit = std::chrono::seconds(120))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (--m_waiting == 0) {
            m_go.notify_all();
            return true;
        }
        return m_go.wait_for(lock, limit, [this] { return m_waiting == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_go;
    int m_waiting;
};

struct LinkRun
{
    int station = 0;
    std::unique_ptr<DriverInterface> driver;
    std::unique_ptr<Simulator> sim;
    LustBusSim::ParameterTable table;
    std::vector<std::string> failures; //!< written only by the link's own thread
    int good = 0;
    int refused = 0;

    void fail(const std::string &text)
    {
        if (failures.size() < 10)
            failures.push_back(text);
    }
};

void runLink(LinkRun &run, StartLine &start, int index)
{
    // The link is made on the thread that uses it, as a host's link thread would.
    SerialLink link(run.sim->slaveName(), QStringLiteral("RS485,57600,NONE,8,1"),
                    ProtocolSettings(500, 3, run.station, 0));
    const bool opened = link.open();
    start.arriveAndWait();
    if (!opened) {
        run.fail("link does not open: " + link.errorString().toStdString());
        return;
    }
    std::mt19937 random{quint32(1000 + index)};
    DriverInterface &driver = *run.driver;
    for (int n = 0; n < requestsEach; ++n) {
        if (index == failingLink && n % 2 == 1) {
            DataAddress missing;
            missing.kind = 2;
            missing.count = 1;
            missing.text = QStringLiteral("INT16:999");
            if (!driver.read(link, missing).isEmpty() || !driver.hasError()
                || driver.errorText() != QStringLiteral("read INT16:999> invalid param no."))
                run.fail("the missing parameter gave \"" + driver.errorText().toStdString()
                         + "\"");
            ++run.refused;
            continue;
        }
        const ServoAccess::Access a = ServoAccess::randomAccess(random, run.table);
        Parameter before, after;
        run.sim->parameter(run.station, a.parameter, &before);
        if (a.write) {
            const int ok = driver.write(link, a.address, a.data);
            run.sim->parameter(run.station, a.parameter, &after);
            if (ok == 0 || !(after == ServoAccess::expectedAfterWrite(a, before)))
                run.fail(a.describe() + ": servo holds " + ServoAccess::hex(after.data)
                         + ", error \"" + driver.errorText().toStdString() + "\"");
        } else {
            const QByteArray got = driver.read(link, a.address);
            const QByteArray expected = ServoAccess::expectedRead(a, before);
            if (got != expected)
                run.fail(a.describe() + ": got " + ServoAccess::hex(got) + ", expected "
                         + ServoAccess::hex(expected) + ", error \""
                         + driver.errorText().toStdString() + "\"");
        }
        if (driver.hasError())
            run.fail(a.describe() + ": error flag set: " + driver.errorText().toStdString());
        // The refusals of the failing link leave a text there; the others never fail.
        if (index != failingLink && !driver.errorText().isEmpty())
            run.fail(a.describe() + ": error text \"" + driver.errorText().toStdString()
                     + "\"");
        ++run.good;
    }
}

TEST(ParallelLinks, EightDriversAtOnceKeepTheirOwnValuesStationsAndErrors)
{
    std::vector<LinkRun> runs(linkCount);
    for (int i = 0; i < linkCount; ++i) {
        LinkRun &run = runs[size_t(i)];
        run.station = 1 + 7 * i; // 1, 8, 15 ... 50
        run.driver = PluginFile::createDriver();
        ASSERT_NE(run.driver, nullptr);
        std::mt19937 random{quint32(i + 1)};
        run.table = ServoAccess::randomTable(random);
        run.sim.reset(new Simulator);
        run.sim->setStation(run.station, run.table);
        ASSERT_TRUE(run.sim->start(Simulator::Pty)) << run.sim->errorString().toStdString();
    }
    // Each servo holds values of its own (a simple INT32 of 32 random bits).
    for (int i = 1; i < linkCount; ++i)
        EXPECT_FALSE(*runs[0].table.find(14) == *runs[size_t(i)].table.find(14));

    // QThreads: QSerialPort's notifiers work only on threads that Qt started.
    // The finish line is where the main thread takes over the results: QThread::wait
    // synchronises inside Qt, where ThreadSanitizer cannot see it.
    StartLine start(linkCount);
    StartLine finish(linkCount + 1);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < linkCount; ++i) {
        LinkRun *run = &runs[size_t(i)];
        threads.emplace_back(QThread::create([run, &start, &finish, i] {
            runLink(*run, start, i);
            finish.arriveAndWait();
        }));
        threads.back()->start();
    }
    ASSERT_TRUE(finish.arriveAndWait());
    for (const auto &t : threads)
        ASSERT_TRUE(t->wait(120000));

    for (int i = 0; i < linkCount; ++i) {
        const LinkRun &run = runs[size_t(i)];
        SCOPED_TRACE("link " + std::to_string(i) + ", station " + std::to_string(run.station));
        for (const std::string &failure : run.failures)
            ADD_FAILURE() << failure;
        EXPECT_EQ(run.good, i == failingLink ? requestsEach / 2 : requestsEach);
        EXPECT_EQ(run.refused, i == failingLink ? requestsEach / 2 : 0);
        // Only this servo's station was asked, and only as often as this link asked.
        const LustBusSim::SimulatorCounters counters = run.sim->counters();
        EXPECT_EQ(counters.foreign, 0u);
        EXPECT_EQ(counters.naks, i == failingLink ? 4u * (requestsEach / 2) : 0u);
    }
}

} // namespace
