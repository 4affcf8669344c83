// The driver plugin, loaded by QPluginLoader, reading and writing the simulator's
// servo through the real serial link on a pseudo-terminal and the TCP link.
#include "driverinterface.h"
#include "hostaddress.h"
#include "pluginfile.h"
#include "seriallink.h"
#include "simulator.h"
#include "tcplink.h"
#include "tracinglink.h"

#include <QtCore/QPluginLoader>

#include <gtest/gtest.h>

#include <cstring>
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

std::string hex(const QByteArray &b)
{
    return b.toHex(' ').toStdString();
}

class SimulatorDriver : public ::testing::TestWithParam<Simulator::Transport>
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
        sim.setStation(1, table);
        ASSERT_TRUE(sim.start(GetParam())) << sim.errorString().toStdString();
        const ProtocolSettings protocol(150, 3, 1, 0);
        if (GetParam() == Simulator::Pty)
            // 8N1: some kernels' pseudo-terminals refuse 7 data bits and parity.
            link.reset(new SerialLink(sim.slaveName(), QStringLiteral("RS485,57600,NONE,8,1"),
                                      protocol));
        else
            link.reset(new TcpLink(QStringLiteral("127.0.0.1"), sim.port(), protocol));
        ASSERT_TRUE(link->open()) << link->errorString().toStdString();
        traced.reset(new TracingLink(*link));
    }

    void setFaults(const char *text)
    {
        LustBusSim::FaultPlan plan;
        QString error;
        ASSERT_TRUE(LustBusSim::FaultPlan::parse(QString::fromLatin1(text), &plan, &error));
        sim.setFaultPlan(plan);
    }

    qint64 raw(quint16 number, int index = 0)
    {
        LustBusSim::Parameter p;
        EXPECT_TRUE(sim.parameter(1, number, &p));
        return p.raw(index);
    }

    DriverInterface *driver = nullptr;
    Simulator sim;
    std::unique_ptr<StreamLink> link;
    std::unique_ptr<TracingLink> traced;
};

TEST_P(SimulatorDriver, ReadsEveryDataType)
{
    const struct
    {
        const char *text;
        qint32 kind;
        quint64 count;
        QByteArray expected;
    } cases[] = {
        {"INT8:10", 1, 1, bytes({0x9C})},
        {"USIGN8:11", 1, 1, bytes({0xC8})},
        {"INT16:12", 2, 1, bytes({0x2E, 0xFB})},
        {"USIGN16:13", 2, 1, bytes({0xCD, 0xAB})},
        {"INT32:14", 3, 1, bytes({0xC0, 0x1D, 0xFE, 0xFF})},
        {"USIGN32:15", 3, 1, bytes({0xEF, 0xBE, 0xAD, 0xDE})},
        {"FLOAT32:16", 3, 1, bytes({0x00, 0x00, 0xC0, 0x3F})},
        {"FIXPT16:17", 3, 1, bytes({125, 0, 0, 0})},             // raw 25 = 1.25
        // -2.5 goes out as FFFD8000; the simple read parses it as a signed number, which
        // stops at 2147483647 (0x7FFFFFFF): 3276800 hundredths. The array path does not.
        {"INT32Q16:18", 3, 1, bytes({0x00, 0x00, 0x32, 0x00})},
        {"INT16:1000", 2, 1, bytes({0x34, 0x12})},
        {"STRING:19:0", 1, 12, QByteArray("LUST CDE SIM")},
        {"USIGN8:100:2", 1, 3, bytes({2, 3, 4})},
        {"INT16:101:1", 2, 3, bytes({0xFF, 0xFF, 0x02, 0x00, 0xFD, 0xFF})},
        {"INT32:102:1", 3, 2, bytes({0xA0, 0x86, 0x01, 0x00, 0x40, 0x0D, 0x03, 0x00})},
        {"FIXPT16:103:0", 3, 1, bytes({100, 0, 0, 0, 200, 0, 0, 0})},
        {"INT32Q16:104:1", 3, 1, bytes({100, 0, 0, 0})},
        {"INT32Q16:107:0", 3, 1, bytes({0x07, 0xFF, 0xFF, 0xFF})}, // -250 + 0.5 truncated
        {"FLOAT32:105:0", 3, 1, bytes({0, 0, 0, 0x3F})},
        {"USIGN16:106:3", 2, 1, bytes({0x44, 0x44})},
        {"USIGN8:1100:100", 1, 150, [] {
             QByteArray b;
             for (int i = 100; i < 250; ++i)
                 b += char(i % 256);
             return b;
         }()},
        {"USIGN16:13.4", 0, 8, bytes({0xBC})},
        {"INT16:101:1.0", 0, 17, bytes({0xFF, 0xFF, 0x00})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const QByteArray got = driver->read(*traced, address(c.text, c.kind, c.count));
        EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
        EXPECT_EQ(hex(got), hex(c.expected));
    }
}

TEST_P(SimulatorDriver, WritesEveryDataType)
{
    float f = 2.25f;
    QByteArray floatBytes(4, '\0');
    std::memcpy(floatBytes.data(), &f, 4);
    quint32 floatBits;
    std::memcpy(&floatBits, &f, 4);
    const struct
    {
        const char *text;
        qint32 kind;
        QByteArray data;
        quint16 parameter;
        int index;
        qint64 raw;
    } cases[] = {
        {"INT8:10", 1, bytes({0xFE}), 10, 0, -2},
        {"USIGN8:11", 1, bytes({0x07}), 11, 0, 7},
        {"INT16:12", 2, bytes({0x34, 0x12}), 12, 0, 0x1234},
        {"USIGN16:13", 2, bytes({0xFF, 0xFF}), 13, 0, 0xFFFF},
        {"INT32:14", 3, bytes({0xFF, 0xFF, 0xFF, 0x7F}), 14, 0, 0x7FFFFFFF},
        {"USIGN32:15", 3, bytes({1, 2, 3, 4}), 15, 0, 0x04030201},
        {"FLOAT32:16", 3, floatBytes, 16, 0, floatBits},
        {"FIXPT16:17", 3, bytes({100, 0, 0, 0}), 17, 0, 20},
        {"INT32Q16:18", 3, bytes({100, 0, 0, 0}), 18, 0, 65536},
        {"INT16:101:2", 2, bytes({0x01, 0x00, 0x00, 0x80}), 101, 3, -32768},
        {"USIGN8:100:15", 1, bytes({0xAA}), 100, 15, 0xAA},
        {"INT32Q16:104:3", 3, bytes({0x9C, 0xFF, 0xFF, 0xFF}), 104, 3, -65535},
        {"FIXPT16:103:1", 3, bytes({0x2C, 0x01, 0, 0}), 103, 1, 60},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const int ok = driver->write(*traced, address(c.text, c.kind, 1), c.data);
        EXPECT_NE(ok, 0);
        EXPECT_FALSE(driver->hasError()) << driver->errorText().toStdString();
        EXPECT_EQ(raw(c.parameter, c.index), c.raw);
    }
    ASSERT_NE(driver->write(*traced, address("STRING:19:0", 1, 5), "HELLO"), 0);
    LustBusSim::Parameter text;
    ASSERT_TRUE(sim.parameter(1, 19, &text));
    EXPECT_EQ(text.data, QByteArray("HELLO"));
}

TEST_P(SimulatorDriver, BitWritesChangeOnlyTheirBits)
{
    sim.setParameter(1, LustBusSim::Parameter::simple(11, LustBusSim::DataType::USign8, 0));
    ASSERT_NE(driver->write(*traced, address("USIGN8:11.3", 0, 1), bytes({1})), 0);
    EXPECT_EQ(raw(11), 8);
    ASSERT_NE(driver->write(*traced, address("USIGN16:13.8", 0, 4), bytes({0x00})), 0);
    EXPECT_EQ(raw(13), 0xA0CD);
    ASSERT_NE(driver->write(*traced, address("INT16:101:1.15", 0, 1), bytes({0})), 0);
    EXPECT_EQ(raw(101, 1), 0x7FFF);
    EXPECT_EQ(raw(101, 2), 2);
}

TEST_P(SimulatorDriver, ServoRefusalsReadAsInvalidParamNo)
{
    EXPECT_TRUE(driver->read(*traced, address("INT16:999", 2, 1)).isEmpty());
    EXPECT_TRUE(driver->hasError());
    EXPECT_EQ(driver->errorText().toStdString(), "read INT16:999> invalid param no.");
    EXPECT_EQ(driver->write(*traced, address("USIGN32:20", 3, 1), bytes({0, 0, 0, 0})), 0);
    EXPECT_EQ(driver->errorText().toStdString(), "write USIGN32:20> invalid param no.");
    EXPECT_EQ(driver->write(*traced, address("USIGN16:106:0", 2, 1), bytes({0, 0})), 0);
    EXPECT_EQ(driver->errorText().toStdString(), "write USIGN16:106:0> invalid param no.");
    EXPECT_EQ(raw(20), 0x00010203);
    // Four attempts each (retry 3); the servo itself said NAK every time.
    EXPECT_EQ(sim.counters().naks, 12u);
}

TEST_P(SimulatorDriver, RetriesRecoverFromEachFault)
{
    const struct
    {
        const char *plan;
        FaultKind kind;
        const char *firstFailure; //!< null: the driver copes without a retry
    } cases[] = {
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
}

TEST_P(SimulatorDriver, RetriesRecoverAWrite)
{
    setFaults("nak:2");
    EXPECT_NE(driver->write(*traced, address("INT16:12", 2, 1), bytes({5, 0})), 0);
    EXPECT_FALSE(driver->hasError());
    EXPECT_EQ(raw(12), 5);
}

TEST_P(SimulatorDriver, ExhaustedRetriesAreMarked)
{
    setFaults("noreply:4");
    EXPECT_TRUE(driver->read(*traced, address("INT16:12", 2, 1)).isEmpty());
    EXPECT_EQ(driver->errorText().toStdString(), "read INT16:12> no response");
    EXPECT_EQ(sim.counters().faultCount(FaultKind::NoReply), 4u);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorDriver,
                         ::testing::Values(Simulator::Pty, Simulator::Tcp),
                         [](const ::testing::TestParamInfo<Simulator::Transport> &info) {
                             return info.param == Simulator::Pty ? "Pty" : "Tcp";
                         });

} // namespace
