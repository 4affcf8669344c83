#include "simulatecommand.h"

#include "catalogueoption.h"
#include "console.h"
#include "exitstatus.h"
#include "linkoptions.h"
#include "serialsettings.h"
#include "simulator.h"

#include <csignal>

#include <pthread.h>

QString SimulateCommand::summary() const
{
    return QStringLiteral("runs simulated servos until interrupted");
}

QString SimulateCommand::description() const
{
    return QStringLiteral(
        "Runs simulated LustBus servos and prints where they listen on the first line of\n"
        "standard output: \"listening on pty DEVICE\" or \"listening on tcp HOST:PORT\".\n"
        "Every station answers from its own copy of the parameter table; writes change\n"
        "it. Runs until SIGINT (Ctrl-C) or SIGTERM and then prints its counters on stderr.");
}

QString SimulateCommand::epilogue() const
{
    return QStringLiteral(
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
        "  lustbus simulate --echo --corrupt-echo 2          # an echoing RS485 adapter\n");
}

QList<QCommandLineOption> SimulateCommand::options() const
{
    return {
        QCommandLineOption(QStringLiteral("pty"),
                           QStringLiteral("Serves on a new pseudo-terminal (the default).")),
        QCommandLineOption(QStringLiteral("tcp"),
                           QStringLiteral("Serves on TCP at 127.0.0.1 (the only host); port 0 "
                                          "takes a free one."),
                           QStringLiteral("[HOST:]PORT")),
        QCommandLineOption(QStringLiteral("station"),
                           QStringLiteral("A station id to simulate, 0 to 63; repeat for more. "
                                          "Default: 1."),
                           QStringLiteral("S")),
        QCommandLineOption(QStringLiteral("params"),
                           QStringLiteral("JSON parameter table for every station (see below)."),
                           QStringLiteral("FILE")),
        CatalogueOption::option(),
        QCommandLineOption(QStringLiteral("line-rate"),
                           QStringLiteral("Paces replies like a real line at the baud rate and "
                                          "character size of --settings.")),
        QCommandLineOption(QStringLiteral("settings"),
                           QStringLiteral("Serial line for --line-rate. Default: "
                                          "\"RS485,57600,EVEN,7,1\"."),
                           QStringLiteral("TEXT")),
        QCommandLineOption(QStringLiteral("fault"),
                           QStringLiteral("Faults to inject, e.g. noreply:0.1,nak:3 (see below)."),
                           QStringLiteral("FAULTS")),
        QCommandLineOption(QStringLiteral("echo"),
                           QStringLiteral("Acts as a 2-wire RS485 adapter that hears itself: "
                                          "every byte sent comes straight back (for "
                                          "lustbus --echo).")),
        QCommandLineOption(QStringLiteral("corrupt-echo"),
                           QStringLiteral("With --echo: the echoes of the next N telegrams, or "
                                          "of all, come back with their EOT changed to 'D'."),
                           QStringLiteral("N|all")),
    };
}

int SimulateCommand::run(const QCommandLineParser &parser)
{
    const bool tcp = parser.isSet(QStringLiteral("tcp"));
    if (tcp && parser.isSet(QStringLiteral("pty")))
        return usageError(QStringLiteral("--pty and --tcp name two transports; give one"));
    QString host;
    quint16 port = 0;
    QString error;
    if (tcp) {
        const QString endpoint = parser.value(QStringLiteral("tcp"));
        if (!LinkOptions::parseEndpoint(endpoint, true, &host, &port, &error, true))
            return usageError(QStringLiteral("--tcp: ") + error);
        if (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost"))
            return usageError(QStringLiteral("--tcp %1: the simulator listens on 127.0.0.1 only")
                                  .arg(endpoint));
    }
    QList<int> stations;
    for (const QString &text : parser.values(QStringLiteral("station"))) {
        bool ok = false;
        const int station = text.trimmed().toInt(&ok, 10);
        if (!ok || station < 0 || station > 63)
            return usageError(QStringLiteral("bad --station '%1': expected 0 to 63").arg(text));
        if (!stations.contains(station))
            stations.append(station);
    }
    if (stations.isEmpty())
        stations.append(1);
    LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    QString tableName;
    if (parser.isSet(QStringLiteral("params"))) {
        if (parser.isSet(QStringLiteral("catalogue")))
            return usageError(QStringLiteral("--params and --catalogue each give the parameter "
                                             "table; give one"));
        if (!LustBusSim::ParameterTable::load(parser.value(QStringLiteral("params")), &table,
                                              &error))
            return usageError(QStringLiteral("--params: ") + error);
    } else {
        LustBus::Catalogue catalogue;
        bool loaded = false;
        if (!CatalogueOption::load(parser, QProcessEnvironment::systemEnvironment(), &catalogue,
                                   &loaded, &error))
            return usageError(error);
        if (loaded) {
            table = LustBusSim::ParameterTable::fromCatalogue(catalogue);
            tableName = QStringLiteral(" of catalogue %1").arg(catalogue.fileName());
        }
    }
    LustBusSim::FaultPlan plan;
    if (parser.isSet(QStringLiteral("fault"))
        && !LustBusSim::FaultPlan::parse(parser.value(QStringLiteral("fault")), &plan, &error))
        return usageError(QStringLiteral("bad --fault '%1': %2")
                              .arg(parser.value(QStringLiteral("fault")), error));
    int corruptedEchoes = 0;
    if (parser.isSet(QStringLiteral("corrupt-echo"))) {
        const QString text = parser.value(QStringLiteral("corrupt-echo")).trimmed();
        const bool all = text == QLatin1String("all");
        bool ok = all;
        corruptedEchoes = all ? -1 : text.toInt(&ok, 10);
        if (!ok || (!all && corruptedEchoes < 0))
            return usageError(QStringLiteral("bad --corrupt-echo '%1': expected a count of "
                                             "telegrams or all")
                                  .arg(text));
        if (!parser.isSet(QStringLiteral("echo")))
            return usageError(QStringLiteral("--corrupt-echo needs --echo"));
    }
    SerialSettings line;
    if (parser.isSet(QStringLiteral("settings"))
        && !SerialSettings::parse(parser.value(QStringLiteral("settings")), &line, &error))
        return usageError(QStringLiteral("bad --settings '%1': %2")
                              .arg(parser.value(QStringLiteral("settings")), error));

    // The simulator serves on a thread of its own, which inherits this mask: the
    // signals then reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    LustBusSim::Simulator simulator;
    for (int station : stations)
        simulator.setStation(station, table);
    simulator.setFaultPlan(plan);
    simulator.setLocalEcho(parser.isSet(QStringLiteral("echo")));
    simulator.setCorruptedEchoes(corruptedEchoes);
    if (parser.isSet(QStringLiteral("line-rate")))
        simulator.setLineRate(line.baudRate, line.bitsPerCharacter());
    if (!simulator.start(tcp ? LustBusSim::Simulator::Tcp : LustBusSim::Simulator::Pty, port))
        return failure(ExitEnvironment,
                       QStringLiteral("cannot start the simulator: %1").arg(simulator.errorString()));

    QStringList names;
    for (int station : stations)
        names.append(QString::number(station));
    if (tcp)
        Console::out() << "listening on tcp 127.0.0.1:" << simulator.port() << '\n';
    else
        Console::out() << "listening on pty " << simulator.slaveName() << '\n';
    Console::out() << "stations " << names.join(QLatin1String(", ")) << ", " << table.size()
                   << " parameters each" << tableName
                   << (plan.rules.isEmpty() ? QString()
                                            : QStringLiteral(", faults ") + plan.toText())
                   << (parser.isSet(QStringLiteral("line-rate"))
                           ? QStringLiteral(", paced at %1 baud").arg(line.baudRate)
                           : QString())
                   << (parser.isSet(QStringLiteral("echo")) ? QStringLiteral(", local echo")
                                                            : QString())
                   << "; stop with Ctrl-C" << Qt::endl;
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
