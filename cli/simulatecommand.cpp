// lustbus simulate: the simulated servos on a pseudo-terminal or a loopback TCP port,
// until SIGINT or SIGTERM.
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "exitstatus.h"
#include "linkoptions.h"
#include "options.h"
#include "serialsettings.h"
#include "simulator.h"

#include <csignal>
#include <pthread.h>

namespace {

const char Description[] =
    "Runs simulated LustBus servos and prints where they listen on the first line of\n"
    "standard output: \"listening on pty DEVICE\" or \"listening on tcp HOST:PORT\".\n"
    "Every station answers from its own copy of the parameter table; writes change\n"
    "it. Runs until SIGINT (Ctrl-C) or SIGTERM and then prints its counters on stderr.";

const char Notes[] =
    "Default parameter table (number, type, value):\n"
    "  10 INT8 -100      11 USIGN8 200        12 INT16 -1234     13 USIGN16 0xABCD\n"
    "  14 INT32 -123456  15 USIGN32 0xDEADBEEF 16 FLOAT32 1.5    17 FIXPT16 1.25\n"
    "  18 INT32Q16 -2.5  19 STRING \"LUST CDE SIM\"   20 USIGN32 0x00010203 (read-only)\n"
    "  21 STRING \"CDE\" (read-only)   100-106 arrays of each type   1000 INT16 4660\n"
    "  1100 USIGN8 array of 300\n"
    "--catalogue FILE (or $LUSTBUS_CATALOGUE) replaces it with a drive's parameter\n"
    "catalogue: its parameters with their start values (\"value\"), and NAK for a\n"
    "write to a parameter of access \"ro\" (see docs/catalogue.md). --params FILE\n"
    "takes the same format without names:\n"
    "  {\"parameters\": [{\"number\": 12, \"type\": \"INT16\", \"value\": -1234},\n"
    "                  {\"number\": 101, \"type\": \"INT16\", \"value\": [1, -2, 3]}]}\n"
    "\n"
    "Faults (--fault): comma-separated KIND:AMOUNT[@MS] and seed:N; AMOUNT a count\n"
    "(the next N requests) or a probability with a point (0.25); kinds noreply,\n"
    "truncate, corrupt, wrongstation, nak, split, delay, garbage.\n"
    "\n"
    "Examples:\n"
    "  lustbus simulate                                # a pty, station 1\n"
    "  lustbus simulate --tcp 5020 --station 1 --station 2\n"
    "  lustbus simulate --catalogue catalogues/sample.json\n"
    "  lustbus simulate --line-rate --fault noreply:0.1,corrupt:2,seed:7\n"
    "  lustbus simulate --echo --corrupt-echo 2          # an echoing RS485 adapter\n";

class SimulateCommand : public Command
{
public:
    SimulateCommand()
        : Command({"simulate", "runs simulated servos until interrupted", Description, Notes, {}})
    {
    }

    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

private:
    // --pty or --tcp, and where; false with the usage error.
    bool readTransport(const QCommandLineParser &parser, QString *error);
    // The stations and their parameter table: --params, --catalogue or the default.
    bool readTable(const QCommandLineParser &parser, QString *error);
    // --fault, --echo and --corrupt-echo, --line-rate and --settings.
    bool readLine(const QCommandLineParser &parser, QString *error);
    // Where the simulator listens and what it simulates, on stdout.
    QString startText(const LustBusSim::Simulator &simulator) const;

    bool m_tcp = false;
    quint16 m_port = 0;
    QList<int> m_stations;
    LustBusSim::ParameterTable m_table;
    QString m_tableName;
    LustBusSim::FaultPlan m_plan;
    bool m_echo = false;
    int m_corruptedEchoes = 0;
    bool m_lineRate = false;
    SerialSettings m_line;
};

QList<QCommandLineOption> SimulateCommand::options() const
{
    return {
        Options::flag("pty", "Serves on a new pseudo-terminal (the default)."),
        Options::value("tcp", "Serves on TCP at 127.0.0.1 (the only host); port 0 takes a free "
                              "one.",
                       "[HOST:]PORT"),
        Options::Station.with("A station id to simulate, 0 to 63; repeat for more. Default: 1.",
                              "S"),
        Options::value("params", "JSON parameter table for every station (see below).", "FILE"),
        CatalogueOption::option(),
        Options::flag("line-rate", "Paces replies like a real line at the baud rate and "
                                   "character size of --settings."),
        Options::value("settings", "Serial line for --line-rate. Default: "
                                   "\"RS485,57600,EVEN,7,1\".",
                       "TEXT"),
        Options::value("fault", "Faults to inject, e.g. noreply:0.1,nak:3 (see below).",
                       "FAULTS"),
        Options::flag("echo", "Acts as a 2-wire RS485 adapter that hears itself: every byte "
                              "sent comes straight back (for lustbus --echo)."),
        Options::value("corrupt-echo", "With --echo: the echoes of the next N telegrams, or of "
                                       "all, come back with their EOT changed to 'D'.",
                       "N|all"),
    };
}

bool SimulateCommand::readTransport(const QCommandLineParser &parser, QString *error)
{
    m_tcp = parser.isSet(QStringLiteral("tcp"));
    if (m_tcp && parser.isSet(QStringLiteral("pty"))) {
        *error = QStringLiteral("--pty and --tcp name two transports; give one");
        return false;
    }
    if (!m_tcp)
        return true;
    const QString endpoint = parser.value(QStringLiteral("tcp"));
    QString host;
    if (!LinkOptions::parseEndpoint(endpoint, true, &host, &m_port, error, true)) {
        error->prepend(QStringLiteral("--tcp: "));
        return false;
    }
    if (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost")) {
        *error = QStringLiteral("--tcp %1: the simulator listens on 127.0.0.1 only").arg(endpoint);
        return false;
    }
    return true;
}

bool SimulateCommand::readTable(const QCommandLineParser &parser, QString *error)
{
    if (!stationIds(parser, &m_stations, error))
        return false;
    if (m_stations.isEmpty())
        m_stations.append(1);
    m_table = LustBusSim::ParameterTable::defaultTable();
    if (parser.isSet(QStringLiteral("params"))) {
        if (Options::Catalogue.isSet(parser)) {
            *error = QStringLiteral("--params and --catalogue each give the parameter table; "
                                    "give one");
            return false;
        }
        if (!LustBusSim::ParameterTable::load(parser.value(QStringLiteral("params")), &m_table,
                                              error)) {
            error->prepend(QStringLiteral("--params: "));
            return false;
        }
        return true;
    }
    LustBus::Catalogue catalogue;
    bool loaded = false;
    if (!CatalogueOption::load(parser, QProcessEnvironment::systemEnvironment(), &catalogue,
                               &loaded, error))
        return false;
    if (loaded) {
        m_table = LustBusSim::ParameterTable::fromCatalogue(catalogue);
        m_tableName = QStringLiteral(" of catalogue %1").arg(catalogue.fileName());
    }
    return true;
}

bool SimulateCommand::readLine(const QCommandLineParser &parser, QString *error)
{
    const QString fault = parser.value(QStringLiteral("fault"));
    if (parser.isSet(QStringLiteral("fault"))
        && !LustBusSim::FaultPlan::parse(fault, &m_plan, error)) {
        *error = QStringLiteral("bad --fault '%1': %2").arg(fault, *error);
        return false;
    }
    m_echo = parser.isSet(QStringLiteral("echo"));
    if (parser.isSet(QStringLiteral("corrupt-echo"))) {
        const QString text = parser.value(QStringLiteral("corrupt-echo")).trimmed();
        const bool all = text == QLatin1String("all");
        bool ok = all;
        m_corruptedEchoes = all ? -1 : text.toInt(&ok, 10);
        if (!ok || (!all && m_corruptedEchoes < 0)) {
            *error = QStringLiteral("bad --corrupt-echo '%1': expected a count of telegrams or "
                                    "all")
                         .arg(text);
            return false;
        }
        if (!m_echo) {
            *error = QStringLiteral("--corrupt-echo needs --echo");
            return false;
        }
    }
    m_lineRate = parser.isSet(QStringLiteral("line-rate"));
    const QString settings = parser.value(QStringLiteral("settings"));
    if (parser.isSet(QStringLiteral("settings"))
        && !SerialSettings::parse(settings, &m_line, error)) {
        *error = QStringLiteral("bad --settings '%1': %2").arg(settings, *error);
        return false;
    }
    return true;
}

QString SimulateCommand::startText(const LustBusSim::Simulator &simulator) const
{
    QStringList names;
    for (int station : m_stations)
        names.append(QString::number(station));
    return (m_tcp ? QStringLiteral("listening on tcp 127.0.0.1:%1").arg(simulator.port())
                  : QStringLiteral("listening on pty %1").arg(simulator.slaveName()))
           + QStringLiteral("\nstations %1, %2 parameters each")
                 .arg(names.join(QLatin1String(", ")))
                 .arg(m_table.size())
           + m_tableName
           + (m_plan.rules.isEmpty() ? QString() : QStringLiteral(", faults ") + m_plan.toText())
           + (m_lineRate ? QStringLiteral(", paced at %1 baud").arg(m_line.baudRate) : QString())
           + (m_echo ? QStringLiteral(", local echo") : QString())
           + QStringLiteral("; stop with Ctrl-C");
}

int SimulateCommand::run(const QCommandLineParser &parser)
{
    QString error;
    if (!readTransport(parser, &error) || !readTable(parser, &error) || !readLine(parser, &error))
        return usageError(error);

    // The simulator serves on a thread of its own, which inherits this mask: the
    // signals then reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    LustBusSim::Simulator simulator;
    for (int station : qAsConst(m_stations))
        simulator.setStation(station, m_table);
    simulator.setFaultPlan(m_plan);
    simulator.setLocalEcho(m_echo);
    simulator.setCorruptedEchoes(m_corruptedEchoes);
    if (m_lineRate)
        simulator.setLineRate(m_line.baudRate, m_line.bitsPerCharacter());
    if (!simulator.start(m_tcp ? LustBusSim::Simulator::Tcp : LustBusSim::Simulator::Pty,
                           m_port))
        return failure(ExitEnvironment, QStringLiteral("cannot start the simulator: %1")
                                            .arg(simulator.errorString()));
    Console::out() << startText(simulator) << Qt::endl;
    // Whoever started it learns where it listens from these lines: a simulator nobody
    // can find serves nothing.
    if (Console::writeError() != 0) {
        simulator.stop();
        return writeFailure();
    }

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    simulator.stop();
    const LustBusSim::SimulatorCounters counters = simulator.counters();
    quint64 faults = 0;
    for (quint64 n : counters.faults)
        faults += n;
    Console::err() << "lustbus simulate: stopped; " << counters.requests << " requests, "
                   << counters.answered << " answered, " << counters.naks << " NAKs, " << faults
                   << " faults injected" << Qt::endl;
    return ExitSuccess;
}



} // namespace

std::unique_ptr<Command> Commands::simulate()
{
    return std::make_unique<SimulateCommand>();
}
