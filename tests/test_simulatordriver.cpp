// The driver plugin, loaded by QPluginLoader, reading and writing the simulator's
// servo through the real serial link on a pseudo-terminal and the TCP link.
#include "driverinterface.h"
#include "hostaddress.h"
#include "pluginfile.h"
#include "simulatorfixture.h"
#include "tracinglink.h"

#include <QtCore/QPluginLoader>

#include <gtest/gtest.h>

#include <memory>

using LustBusSim::FaultKind;
using LustBusSim::Simulator;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b += char(v);
    return b;
}

class SimulatorDriver : public SimulatorFixture
{
protected:
    void SetUp() override
    {
        QPluginLoader loader(PluginFile::path());
        driver = qobject_cast<DriverInterface *>(loader.instance());
        ASSERT_NE(driver, nullptr) << loader.errorString().toStdString();
        LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
        table.insert(LustBusSim::Parameter::array(107, LustBusSim::DataType::Int32Q16,
                                                  {-163840}));
        ASSERT_NO_FATAL_FAILURE(start(table, ProtocolSettings(150, 3, 1, 0)));
        traced.reset(new TracingLink(*link));
    }

    qint64 raw(quint16 number, int index = 0)
    {
        LustBusSim::Parameter p;
        EXPECT_TRUE(sim.parameter(1, number, &p));
        return p.raw(index);
    }

    DriverInterface *driver = nullptr;
    std::unique_ptr<TracingLink> traced;
};

// The plain reads of each type are the command-line tests' on the same simulator; here
// the edges: the clamp of a simple INT32Q16, a four-digit number, a long array, bits
// across two elements, negative fixed points.
TEST_P(SimulatorDriver, ReadsTheEdgesOfTheDataTypes)
{
    QByteArray elements100to249;
    for (int i = 100; i < 250; ++i)
        elements100to249 += char(i);
    const struct { const char *text; qint32 kind; quint64 count; QByteArray expected; } cases[] = {
        // -2.5 goes out as FFFD8000; the simple read parses it as a signed number, which
        // stops at 2147483647 (0x7FFFFFFF): 3276800 hundredths. The array path does not.
        {"INT32Q16:18", 3, 1, bytes({0x00, 0x00, 0x32, 0x00})},
        {"INT32Q16:107:0", 3, 1, bytes({0x07, 0xFF, 0xFF, 0xFF})}, // -250 + 0.5 truncated
        {"INT16:1000", 2, 1, bytes({0x34, 0x12})},
        {"INT32:102:1", 3, 2, bytes({0xA0, 0x86, 0x01, 0x00, 0x40, 0x0D, 0x03, 0x00})},
        {"USIGN8:1100:100", 1, 150, elements100to249},
        {"INT16:101:1.0", 0, 17, bytes({0xFF, 0xFF, 0x00})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const QByteArray got = driver->read(*traced, address(c.text, c.kind, c.count));
        EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
        EXPECT_EQ(hex(got), hex(c.expected));
    }
}

// Sign and range edges, the last element of an array, and bit writes that keep the
// other bits of their value.
TEST_P(SimulatorDriver, WriteEdgesAndBitWritesThatChangeOnlyTheirBits)
{
    const struct {
        const char *text;
        qint32 kind;
        quint64 count;
        QByteArray data;
        quint16 parameter;
        int index;
        qint64 raw;
    } cases[] = {
        {"INT8:10", 1, 1, bytes({0xFE}), 10, 0, -2},
        {"USIGN16:13", 2, 1, bytes({0xFF, 0xFF}), 13, 0, 0xFFFF},
        {"INT32:14", 3, 1, bytes({0xFF, 0xFF, 0xFF, 0x7F}), 14, 0, 0x7FFFFFFF},
        {"INT32Q16:18", 3, 1, bytes({100, 0, 0, 0}), 18, 0, 65536},
        {"INT16:101:2", 2, 1, bytes({0x01, 0x00, 0x00, 0x80}), 101, 3, -32768},
        {"USIGN8:100:15", 1, 1, bytes({0xAA}), 100, 15, 0xAA},
        {"USIGN16:13.8", 0, 4, bytes({0x00}), 13, 0, 0xF0FF},
        {"INT16:101:1.15", 0, 1, bytes({0}), 101, 1, 0x7FFF}, // was -1
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_NE(driver->write(*traced, address(c.text, c.kind, c.count), c.data), 0);
        EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
        EXPECT_EQ(raw(c.parameter, c.index), c.raw);
    }
}

TEST_P(SimulatorDriver, RetriesRecoverFromEachFault)
{
    // firstFailure null: the driver copes without a retry.
    const struct { const char *plan; FaultKind kind; const char *firstFailure; } cases[] = {
        {"noreply:1", FaultKind::NoReply, "no response"},
        {"truncate:1", FaultKind::Truncate, "invalid response from servo"},
        {"corrupt:1", FaultKind::Corrupt, "checksum error"},
        {"wrongstation:1", FaultKind::WrongStation, "invalid station id from servo"},
        {"nak:1", FaultKind::Nak, "invalid param no."},
        {"split:1@2", FaultKind::Split, nullptr},
        {"garbage:1", FaultKind::Garbage, "invalid station id from servo"},
        // Last, as its late replies and requests may still be under way when the case
        // ends; the late reply may arrive alone or run into the next attempt's reply:
        // only the recovery is certain.
        {"delay:1@200", FaultKind::Delay, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plan);
        setFaults(c.plan);
        sim.resetCounters();
        // An earlier case's late replies must not matter: control 12 drops them.
        const QByteArray got = driver->read(*traced, address("INT16:12", 2, 1));
        EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
        EXPECT_EQ(hex(got), hex(bytes({0x2E, 0xFB})));
        if (c.firstFailure) {
            EXPECT_EQ(driver->errorText().toStdString(), c.firstFailure);
        }
        EXPECT_EQ(sim.counters().faultCount(c.kind), 1u);
        if (c.kind != FaultKind::Delay) {
            EXPECT_EQ(sim.counters().requests, c.firstFailure ? 2u : 1u);
        }
    }
    // A write too.
    setFaults("nak:2");
    EXPECT_NE(driver->write(*traced, address("INT16:12", 2, 1), bytes({5, 0})), 0);
    EXPECT_FALSE(driver->hasError());
    EXPECT_EQ(raw(12), 5);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorDriver,
                         ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         SimulatorDriver::transportName);

} // namespace
