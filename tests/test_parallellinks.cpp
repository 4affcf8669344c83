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

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using LustBusSim::Simulator;

namespace {

constexpr int linkCount = 8;
constexpr int requestsEach = 300;
constexpr int failingLink = 3; //!< asks every other time for a parameter its servo lacks

struct LinkRun
{
    int station = 0;
    std::unique_ptr<DriverInterface> driver;
    Simulator sim;
    LustBusSim::ParameterTable table;
    std::vector<std::string> failures; //!< written only by the link's own thread
    int good = 0;
    int refused = 0;
};

void runLink(LinkRun &run, std::atomic<int> &ready, int index)
{
    // The link is made on the thread that uses it, as a host's link thread would.
    SerialLink link(run.sim.slaveName(), QStringLiteral("RS485,57600,NONE,8,1"),
                    ProtocolSettings(500, 3, run.station, 0));
    const bool opened = link.open();
    ++ready; // then all start their requests at the same moment
    while (ready < linkCount)
        std::this_thread::yield();
    if (!opened) {
        run.failures.push_back("link does not open: " + link.errorString().toStdString());
        return;
    }
    std::mt19937 random{quint32(1000 + index)};
    DriverInterface &driver = *run.driver;
    DataAddress missing;
    missing.kind = 2;
    missing.count = 1;
    missing.text = QStringLiteral("INT16:999");
    for (int n = 0; n < requestsEach; ++n) {
        const auto fail = [&](const std::string &what) {
            if (run.failures.size() < 10)
                run.failures.push_back(what + ", error \"" + driver.errorText().toStdString() + "\"");
        };
        if (index == failingLink && n % 2 == 1) {
            if (!driver.read(link, missing).isEmpty() || !driver.hasError()
                || driver.errorText() != QStringLiteral("read INT16:999> invalid param no."))
                fail("the missing parameter");
            ++run.refused;
            continue;
        }
        const ServoAccess::Access a = ServoAccess::randomAccess(random, run.table);
        const std::string failure = ServoAccess::run(driver, link, run.sim, run.station, a);
        if (!failure.empty())
            fail(failure);
        // The refusals of the failing link leave a text there; the others never fail.
        if (driver.hasError() || (index != failingLink && !driver.errorText().isEmpty()))
            fail(a.describe() + ": error state");
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
        run.sim.setStation(run.station, run.table);
        ASSERT_TRUE(run.sim.start(Simulator::Pty)) << run.sim.errorString().toStdString();
        // Each servo holds values of its own (a simple INT32 of 32 random bits).
        EXPECT_FALSE(i > 0 && *runs[0].table.find(14) == *run.table.find(14));
    }

    // QThreads: QSerialPort's notifiers work only on threads that Qt started. The main
    // thread takes over the results through done: QThread::wait synchronises inside Qt,
    // where ThreadSanitizer cannot see it.
    std::atomic<int> ready{0}, done{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < linkCount; ++i) {
        threads.emplace_back(QThread::create([&runs, &ready, &done, i] {
            runLink(runs[size_t(i)], ready, i);
            ++done;
        }));
        threads.back()->start();
    }
    for (const auto &t : threads)
        ASSERT_TRUE(t->wait(120000));
    ASSERT_EQ(done, linkCount);

    for (int i = 0; i < linkCount; ++i) {
        const LinkRun &run = runs[size_t(i)];
        SCOPED_TRACE("link " + std::to_string(i) + ", station " + std::to_string(run.station));
        for (const std::string &failure : run.failures)
            ADD_FAILURE() << failure;
        EXPECT_EQ(run.good, i == failingLink ? requestsEach / 2 : requestsEach);
        EXPECT_EQ(run.refused, i == failingLink ? requestsEach / 2 : 0);
        // Only this servo's station was asked, and only as often as this link asked.
        const LustBusSim::SimulatorCounters counters = run.sim.counters();
        EXPECT_EQ(counters.foreign, 0u);
        EXPECT_EQ(counters.naks, i == failingLink ? 4u * (requestsEach / 2) : 0u);
    }
}

} // namespace
