// A bus of simulated servos, served in-process on a pseudo-terminal or on a loopback
// TCP port, on a thread of its own.
//
//   LustBusSim::Simulator sim;
//   sim.setStation(1, LustBusSim::ParameterTable::defaultTable());
//   sim.setLineRate(57600, 10);                  // optional: pace as 57600 baud 7E1
//   sim.setFaultPlan(plan);                      // optional, see faultplan.h
//   if (!sim.start(LustBusSim::Simulator::Pty))  // or start(Tcp, 0): any free port
//       qFatal("%s", qPrintable(sim.errorString()));
//   SerialLink link(sim.slaveName(), "RS485,57600,EVEN,7,1", protocol);  // or TcpLink
//   ...
//   sim.stop();                                  // also done by the destructor
//
// Every request frame is heard by all stations; only a station set here answers the
// frames carrying its character, the others stay silent. Tables, fault plan and
// counters may be read and changed from any thread while the simulator runs.
//
// Line rate: with a baud rate above 0, a reply starts no earlier than the request's
// own wire time after its first byte arrived, and every reply byte leaves at its own
// deadline (start + n character times), so the pace is that of the line without
// error summing up over a long reply.
//
// TCP: one or more clients at a time on 127.0.0.1; each gets the answers to its own
// requests. Pty: the simulator holds the slave open itself, so a client may open and
// close it as often as it likes. Bytes that nobody reads are dropped once the kernel's
// buffer is full, as on a real line.
#ifndef LUSTBUSSIM_SIMULATOR_H
#define LUSTBUSSIM_SIMULATOR_H

#include "faultplan.h"
#include "parametertable.h"

#include <QtCore/QMap>
#include <QtCore/QString>

#include <array>
#include <memory>

namespace LustBusSim {

struct SimulatorCounters
{
    quint64 requests = 0;    //!< complete request frames, for any station
    quint64 foreign = 0;     //!< of those, frames for stations not simulated here
    quint64 answered = 0;    //!< replies put on the line (damaged ones included)
    quint64 naks = 0;        //!< of those, NAKs the servo gave by itself (no fault)
    // Bytes heard that formed no request (stray, broken off, overlong; the lone EOT
    // closing an exchange aside), and requests whose fields or checksum were wrong:
    // what interleaved telegrams of two masters would leave.
    quint64 malformed = 0;
    quint64 corruptedEchoes = 0; //!< telegrams whose local echo came back changed
    std::array<quint64, FaultKindCount> faults{}; //!< faults injected, by FaultKind

    quint64 faultCount(FaultKind kind) const { return faults[size_t(kind)]; }
};

class Simulator
{
public:
    enum Transport { Pty, Tcp };

    Simulator();
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Station ids 0 to 63.
    void setStation(int station, const ParameterTable &table);
    bool removeStation(int station);
    QList<int> stations() const;
    ParameterTable table(int station) const; //!< a copy; empty for an unknown station
    bool parameter(int station, quint16 number, Parameter *parameter) const;
    bool setParameter(int station, const Parameter &parameter); //!< false: no such station

    // Takes effect from the next request; counts of count rules start afresh.
    void setFaultPlan(const FaultPlan &plan);
    FaultPlan faultPlan() const;

    // baud 0: no pacing. bitsPerCharacter: 10 for 7E1 or 8N1, 11 for 8E1.
    void setLineRate(int baud, int bitsPerCharacter = 10);
    int baudRate() const;
    int bitsPerCharacter() const;

    // An echoing 2-wire RS485 adapter on the host's side: every byte a client sends
    // comes back to it at once, before any reply. With corruptedEchoes N, the echoes of
    // the next N telegrams (each begins with EOT, the lone EOT after a reply included)
    // come back with that EOT turned into 'D'; -1: every telegram's. The servo itself
    // hears the request unchanged.
    void setLocalEcho(bool on);
    bool localEcho() const;
    void setCorruptedEchoes(int count);

    SimulatorCounters counters() const;
    void resetCounters();

    // Pty: opens a pseudo-terminal in raw mode, slaveName() is its device. Tcp: listens
    // on 127.0.0.1 at tcpPort (0: a free one), port() tells which. false with
    // errorString() when that fails or the simulator already runs.
    bool start(Transport transport = Pty, quint16 tcpPort = 0);
    void stop();
    bool isRunning() const;

    QString slaveName() const;
    quint16 port() const;
    QString errorString() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_SIMULATOR_H
