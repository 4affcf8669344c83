// The gateway on a thread of its own with its event loop, its serial link on the
// pseudo-terminal of a simulated servo (station 1) paced at a line rate (0: unpaced),
// for the benchmarks of clients that share one bus.
#ifndef GATEWAYONPTY_H
#define GATEWAYONPTY_H

#include "gateway.h"
#include "seriallink.h"
#include "simulator.h"

#include <QtCore/QEventLoop>
#include <QtCore/QThread>

#include <atomic>
#include <memory>

class GatewayOnPty
{
public:
    ~GatewayOnPty()
    {
        if (m_thread) {
            m_thread->quit();
            m_thread->wait();
        }
    }

    bool start(int baud, const LustBusSim::ParameterTable &table,
               const Gateway::Settings &settings, QString *error)
    {
        m_settings = settings;
        m_sim.setStation(1, table);
        m_sim.setLineRate(baud, 10);
        if (!m_sim.start(LustBusSim::Simulator::Pty)) {
            *error = m_sim.errorString();
            return false;
        }
        m_thread.reset(QThread::create([this] { serve(); }));
        m_thread->start();
        while (m_port.load() == 0 && !m_thread->isFinished())
            QThread::msleep(1);
        if (m_port.load() == 0)
            *error = m_error;
        return m_port.load() != 0;
    }

    quint16 port() const { return m_port.load(); }
    LustBusSim::Simulator &simulator() { return m_sim; }

private:
    void serve()
    {
        // Time-out 500 ms, the driver's; the gateway leaves retries to its clients.
        SerialLink link(m_sim.slaveName(), QStringLiteral("RS485,115200,NONE,8,1"),
                        ProtocolSettings(500, 0, 1, 0));
        Gateway gateway(link, m_settings);
        if (!link.open() || !gateway.listen(QHostAddress::LocalHost, 0)) {
            m_error = link.isOpen() ? gateway.errorString() : link.errorString();
            return;
        }
        QEventLoop loop;
        m_port.store(gateway.serverPort());
        loop.exec();
    }

    LustBusSim::Simulator m_sim;
    Gateway::Settings m_settings;
    std::unique_ptr<QThread> m_thread;
    std::atomic<quint16> m_port{0};
    QString m_error;
};

#endif // GATEWAYONPTY_H
