#include "linkfactory.h"

#include "console.h"
#include "linkdiagnostics.h"
#include "parametertable.h"
#include "seriallink.h"
#include "serialsettings.h"
#include "simulator.h"
#include "tcplink.h"
#include "tracinglink.h"

#include <QtCore/QFileInfo>

namespace {

// A pseudo-terminal has no line: Linux refuses parity and 7 data bits on one. The
// driver's default line then goes without parity at 8 data bits, at the same baud rate.
QString ptyLine(const QString &text)
{
    SerialSettings line;
    QString error;
    if (!SerialSettings::parse(text, &line, &error))
        return text;
    line.parity = QSerialPort::NoParity;
    line.dataBits = QSerialPort::Data8;
    return line.toText();
}

// Also through a symbolic link: the link counts as the device it points to.
bool isPseudoTerminal(const QString &device)
{
    return QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
}

// After a serial device refused to open with line: the same line without parity at 8
// data bits when the device opens with that (a pseudo-terminal, a UART that cannot do
// 7 data bits); empty when that is no different or fails too.
QString lineThatOpens(const QString &device, const QString &line, const LinkOptions &options)
{
    const QString plain = ptyLine(line);
    if (plain == line)
        return QString();
    SerialLink probe(device, plain, options.protocol);
    probe.setKernelRs485Mode(options.rs485, options.rtsDelayBeforeMs, options.rtsDelayAfterMs);
    return probe.open() ? plain : QString();
}

} // namespace

LinkFactory::LinkFactory() = default;

LinkFactory::~LinkFactory()
{
    // The link closes before the simulator whose pty it holds goes away.
    m_diagnosticLink.reset();
    m_tracing.reset();
    m_link.reset();
    m_simulator.reset();
}

void LinkFactory::setSimulatorTable(const LustBusSim::ParameterTable &table)
{
    m_simulatorTable = std::make_unique<LustBusSim::ParameterTable>(table);
}

bool LinkFactory::open(const LinkOptions &options, QString *error)
{
    QString device = options.device;
    if (options.target == LinkOptions::Simulator) {
        m_simulator = std::make_unique<LustBusSim::Simulator>();
        m_simulator->setStation(options.protocol.stationid,
                                m_simulatorTable ? *m_simulatorTable
                                                 : LustBusSim::ParameterTable::defaultTable());
        // Its line then behaves as the echoing adapter that --echo is for.
        m_simulator->setLocalEcho(options.localEcho);
        if (!m_simulator->start(LustBusSim::Simulator::Pty)) {
            *error = QStringLiteral("cannot start the built-in simulator: %1")
                         .arg(m_simulator->errorString());
            return false;
        }
        device = m_simulator->slaveName();
    }
    if (options.target == LinkOptions::Tcp) {
        m_link = std::make_unique<TcpLink>(options.host, options.port, options.protocol);
        m_description = QStringLiteral("tcp %1:%2").arg(options.host).arg(options.port);
    }
    QString line = options.settingsText;
    if (options.target != LinkOptions::Tcp) {
        if (isPseudoTerminal(device) && !options.settingsGiven) {
            line = ptyLine(line);
            if (!m_simulator && line != options.settingsText)
                Console::err() << "lustbus: " << device << " is a pseudo-terminal: line "
                               << line << " instead of " << options.settingsText << Qt::endl;
        }
        auto serial = std::make_unique<SerialLink>(device, line, options.protocol);
        serial->setKernelRs485Mode(options.rs485, options.rtsDelayBeforeMs,
                                   options.rtsDelayAfterMs);
        m_link = std::move(serial);
        m_description = QStringLiteral("serial %1 (%2)").arg(device, line);
    }
    if (options.interByteTimeoutMs >= 0)
        m_link->setInterByteTimeoutMs(options.interByteTimeoutMs);
    m_link->setLocalEcho(options.localEcho);
    m_link->setReconnectIntervalMs(options.reconnectIntervalMs);
    m_link->setNotice([](const QString &line) { Console::err() << "lustbus: " << line << Qt::endl; });
    if (!m_link->open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_description, m_link->errorString());
        const QString plain = options.target == LinkOptions::Tcp
                                  ? QString()
                                  : lineThatOpens(device, line, options);
        if (!plain.isEmpty())
            *error += (isPseudoTerminal(device)
                           ? QStringLiteral("; %1 is a pseudo-terminal, which has no line and "
                                            "takes neither parity nor 7 data bits")
                                 .arg(device)
                           : QStringLiteral("; %1 opens without parity at 8 data bits")
                                 .arg(device))
                      + QStringLiteral(": --settings %1 works there").arg(plain);
        return false;
    }
    if (options.trace || m_traceSink) {
        m_tracing = std::make_unique<TracingLink>(*m_link, m_traceSink);
        m_tracing->setFailureText([link = m_link.get()] { return link->errorString(); });
    }
    if (options.stats) {
        m_diagnostics = std::make_unique<LinkDiagnostics>();
        m_diagnosticLink = std::make_unique<DiagnosticLink>(
            m_tracing ? static_cast<LinkDevice &>(*m_tracing) : *m_link, *m_diagnostics);
    }
    return true;
}

LinkDevice &LinkFactory::link()
{
    if (m_diagnosticLink)
        return *m_diagnosticLink;
    if (m_tracing)
        return *m_tracing;
    return *m_link;
}
