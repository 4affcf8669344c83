// Station 1 of a simulated servo on a pseudo-terminal or a loopback TCP port, and a real
// link to it: the fixture of the suites that talk to the simulator through the links.
#ifndef SIMULATORFIXTURE_H
#define SIMULATORFIXTURE_H

#include "seriallink.h"
#include "simulator.h"
#include "tcplink.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

// Some kernels' pseudo-terminals refuse 7 data bits and parity (EINVAL); 8N1 they all take.
inline const QString PtyLine = QStringLiteral("RS485,57600,NONE,8,1");

inline std::string hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toStdString();
}

class SimulatorFixture : public ::testing::TestWithParam<LustBusSim::Simulator::Transport>
{
public:
    static std::string transportName(
        const ::testing::TestParamInfo<LustBusSim::Simulator::Transport> &info)
    {
        return info.param == LustBusSim::Simulator::Pty ? "Pty" : "Tcp";
    }

protected:
    // Serves table as station 1 and opens link with protocol; call it under
    // ASSERT_NO_FATAL_FAILURE.
    void start(const LustBusSim::ParameterTable &table, const ProtocolSettings &protocol)
    {
        sim.setStation(1, table);
        ASSERT_TRUE(sim.start(GetParam())) << sim.errorString().toStdString();
        if (GetParam() == LustBusSim::Simulator::Pty) {
            ASSERT_TRUE(QFile::link(sim.slaveName(), devicePath));
        }
        link = openLink(protocol);
        ASSERT_TRUE(link->isOpen());
    }

    std::unique_ptr<StreamLink> openLink(const ProtocolSettings &protocol)
    {
        std::unique_ptr<StreamLink> l;
        if (GetParam() == LustBusSim::Simulator::Pty)
            l.reset(new SerialLink(devicePath, PtyLine, protocol));
        else
            l.reset(new TcpLink(QStringLiteral("127.0.0.1"), sim.port(), protocol));
        EXPECT_TRUE(l->open()) << l->errorString().toStdString();
        return l;
    }

    void setFaults(const char *text)
    {
        LustBusSim::FaultPlan plan;
        QString error;
        ASSERT_TRUE(LustBusSim::FaultPlan::parse(QString::fromLatin1(text), &plan, &error));
        sim.setFaultPlan(plan);
    }

    LustBusSim::Simulator sim;
    QTemporaryDir dir;
    // The pty under a name that stays while the device behind it changes, as udev's
    // /dev/serial/by-id names do.
    const QString devicePath = dir.filePath(QStringLiteral("servo"));
    std::unique_ptr<StreamLink> link;
};

#endif // SIMULATORFIXTURE_H
