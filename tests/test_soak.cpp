// The fault soak: the plugin, loaded by QPluginLoader, sends thousands of random reads
// and writes of every data type over a serial link on a pseudo-terminal to the
// simulator, which damages about one reply in ten with every kind of fault. Every
// request must either give the value the servo's table holds or report one of the
// driver's error texts: a wrong value accepted is a failure.
//
//   LUSTBUS_SOAK_REQUESTS=200000 build/qt5/tests/test_soak   # the long run by hand
//   LUSTBUS_SOAK_SEED=7 ...                                  # other draws
#include "driverinterface.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "tracinglink.h"
#include "servoaccess.h"
#include "simulator.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QMap>
#include <QtCore/QPluginLoader>

#include <gtest/gtest.h>

#include <cstdio>

using LustBusSim::FaultKind;
using LustBusSim::Parameter;
using LustBusSim::Simulator;

namespace {

// Every text an exchange with a servo can fail with.
const QStringList exchangeTexts = {
    QStringLiteral("no response"), QStringLiteral("invalid response from servo"),
    QStringLiteral("invalid station id from servo"), QStringLiteral("invalid param no."),
    QStringLiteral("checksum error"), QStringLiteral("unknown format from servo")};

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qgetenv(name).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

// About 10% of the exchanges get a fault, of every kind. The three that cost the driver
// a whole time-out (nothing, half a reply, a late one) come less often, so that the run
// stays short. The delay holds a reply well past the time-out; split gaps stay short.
constexpr char faultText[] =
    "noreply:0.007,truncate:0.007,corrupt:0.018,wrongstation:0.018,nak:0.018,"
    "split:0.018@1,delay:0.007@300,garbage:0.018";
constexpr int timeoutMs = 60;

TEST(Soak, EveryRequestGivesTheRightValueOrAnErrorText)
{
    const int requests = environmentNumber("LUSTBUS_SOAK_REQUESTS", 10000);
    const int seed = environmentNumber("LUSTBUS_SOAK_SEED", 20261206);

    QPluginLoader loader(PluginFile::path());
    auto *driver = qobject_cast<DriverInterface *>(loader.instance());
    ASSERT_NE(driver, nullptr) << loader.errorString().toStdString();

    std::mt19937 random{quint32(seed)};
    const LustBusSim::ParameterTable table = ServoAccess::randomTable(random);
    Simulator sim;
    sim.setStation(1, table);
    LustBusSim::FaultPlan plan;
    QString error;
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(QString::fromLatin1(faultText), &plan, &error))
        << error.toStdString();
    plan.seed = quint32(seed);
    sim.setFaultPlan(plan);
    ASSERT_TRUE(sim.start(Simulator::Pty)) << sim.errorString().toStdString();
    // 8N1: Linux pseudo-terminals refuse 7 data bits and parity.
    SerialLink serial(sim.slaveName(), QStringLiteral("RS485,57600,NONE,8,1"),
                      ProtocolSettings(timeoutMs, 3, 1, 0));
    ASSERT_TRUE(serial.open()) << serial.errorString().toStdString();
    // The exchanges of the current request, shown when a check of it fails.
    QStringList exchange;
    TracingLink link(serial, [&exchange](const QString &line) { exchange << line; });

    QMap<QString, int> failed, recovered;
    int reads = 0, writes = 0, wrong = 0;
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < requests; ++n) {
        const ServoAccess::Access a = ServoAccess::randomAccess(random, table);
        const auto fail = [&](const std::string &what) {
            ADD_FAILURE() << a.describe() << ": " << what << "\n"
                          << exchange.join(QLatin1Char('\n')).toStdString();
        };
        Parameter before, after;
        ASSERT_TRUE(sim.parameter(1, a.parameter, &before));
        exchange.clear();
        const quint64 exchangesBefore = sim.counters().requests;
        const QByteArray got = a.write ? QByteArray() : driver->read(link, a.address);
        const bool ok = a.write ? driver->write(link, a.address, a.data) != 0 : !got.isEmpty();
        ++(a.write ? writes : reads);
        const QString text = driver->errorText();
        if (ok == driver->hasError())
            fail(std::string(ok ? "good result but error flag set" : "empty result but error flag clear")
                 + " (" + text.toStdString() + ")");
        if (!a.write && ok && got != ServoAccess::expectedRead(a, before)) {
            ++wrong;
            fail("wrong value accepted\n  expected " + ServoAccess::hex(ServoAccess::expectedRead(a, before))
                 + "\n  got      " + ServoAccess::hex(got));
        }
        if (a.write) {
            ASSERT_TRUE(sim.parameter(1, a.parameter, &after));
            const Parameter expected = ServoAccess::expectedAfterWrite(a, before);
            // A failed write may still have been carried out: only its reply was lost.
            if (!(after == expected || (!ok && after == before))) {
                ++wrong;
                fail(std::string("servo holds a value not written (reported ") + (ok ? "done)" : "failed)")
                     + "\n  expected " + ServoAccess::hex(expected.data)
                     + "\n  holds    " + ServoAccess::hex(after.data));
            }
        }
        // A bit write reads the value, then writes it back; everything else is one exchange.
        const bool bitWrite = a.write
            && (a.form == ServoAccess::Form::Bit || a.form == ServoAccess::Form::ElementBit);
        if (!ok) {
            // Marked once, the message itself unchanged.
            const QString mark = QStringLiteral("%1 %2> ").arg(a.write ? "write" : "read", a.address.text);
            const QString message = text.startsWith(mark) ? text.mid(mark.size()) : text;
            ++failed[message];
            if (!text.startsWith(mark) || !exchangeTexts.contains(message))
                fail("error text \"" + text.toStdString() + "\"");
        } else if (sim.counters().requests - exchangesBefore > (bitWrite ? 2u : 1u)) {
            // Retried: the error text holds the message of the last failed attempt.
            ++recovered[text];
            if (!exchangeTexts.contains(text))
                fail("recovered from \"" + text.toStdString() + "\"");
        }
    }
    const LustBusSim::SimulatorCounters counters = sim.counters();

    std::printf("\nsoak: %d requests (%d reads, %d writes), %llu exchanges, seed %d, "
                "time-out %d ms, %.1f s\n| fault | injected |\n|---|---:|\n",
                requests, reads, writes, static_cast<unsigned long long>(counters.requests),
                seed, timeoutMs, clock.elapsed() / 1000.0);
    quint64 faults = 0;
    for (int k = 0; k < LustBusSim::FaultKindCount; ++k) {
        const QString name = LustBusSim::faultKindName(FaultKind(k));
        const quint64 count = counters.faultCount(FaultKind(k));
        faults += count;
        std::printf("| %s | %llu |\n", qPrintable(name), static_cast<unsigned long long>(count));
        EXPECT_GT(count, 0u) << "no " << name.toStdString() << " fault was injected";
    }
    std::printf("| all | %llu (%.1f%% of exchanges) |\n\n| error text | requests failed "
                "| requests retried to success (last failed attempt) |\n|---|---:|---:|\n",
                static_cast<unsigned long long>(faults),
                100.0 * double(faults) / double(qMax<quint64>(counters.requests, 1)));
    QStringList texts = failed.keys() + recovered.keys();
    texts.removeDuplicates();
    texts.sort();
    for (const QString &t : texts)
        std::printf("| %s | %d | %d |\n", qPrintable(t), failed.value(t), recovered.value(t));
    std::printf("\nwrong values accepted: %d\n", wrong);
    std::fflush(stdout);

    EXPECT_EQ(wrong, 0);
    // The generator asks only for what the servo has: it never refuses by itself.
    EXPECT_EQ(counters.naks, 0u);
}

} // namespace
