// Turns link options into an open link: a serial port, a TCP serial server or, with
// --sim, the built-in simulated servo (station as --station says, the default parameter
// table or the one set) on a pseudo-terminal, reached through the serial link like a real port. --trace wraps the link in a TracingLink, --stats that in a DiagnosticLink.
#ifndef LUSTBUS_LINKFACTORY_H
#define LUSTBUS_LINKFACTORY_H

#include "linkoptions.h"

#include <QtCore/QString>

#include <functional>
#include <memory>

class DiagnosticLink;
class LinkDevice;
class LinkDiagnostics;
class StreamLink;
class TracingLink;

namespace LustBusSim {
class ParameterTable;
class Simulator;
}

class LinkFactory
{
public:
    LinkFactory();
    ~LinkFactory();

    // What --sim serves instead of the default table; before open().
    void setSimulatorTable(const LustBusSim::ParameterTable &table);
    // Where the trace lines go, with --trace or without; before open().
    void setTraceSink(std::function<void(const QString &)> sink) { m_traceSink = std::move(sink); }
    // False with error naming the link and the cause.
    bool open(const LinkOptions &options, QString *error);

    LinkDevice &link(); //!< valid after a successful open()
    StreamLink *streamLink() const { return m_link.get(); }
    // With --stats: the statistics and the wrapper that collects them; null otherwise.
    LinkDiagnostics *diagnostics() const { return m_diagnostics.get(); }
    DiagnosticLink *diagnosticLink() const { return m_diagnosticLink.get(); }
    LustBusSim::Simulator *simulator() const { return m_simulator.get(); }
    // "serial /dev/ttyUSB0 (RS485,57600,EVEN,7,1)", "tcp 10.0.0.5:4001", ...
    QString description() const { return m_description; }

private:
    std::unique_ptr<LustBusSim::ParameterTable> m_simulatorTable;
    std::unique_ptr<LustBusSim::Simulator> m_simulator;
    std::unique_ptr<StreamLink> m_link;
    std::unique_ptr<TracingLink> m_tracing;
    std::unique_ptr<LinkDiagnostics> m_diagnostics;
    std::unique_ptr<DiagnosticLink> m_diagnosticLink;
    QString m_description;
    std::function<void(const QString &)> m_traceSink;
};

#endif // LUSTBUS_LINKFACTORY_H
