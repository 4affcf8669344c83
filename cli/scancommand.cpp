#include "scancommand.h"

#include "console.h"
#include "exitstatus.h"
#include "progressbar.h"
#include "streamlink.h"

QString ScanCommand::summary() const
{
    return QStringLiteral("finds the stations that answer on a bus");
}

QString ScanCommand::description() const
{
    return QStringLiteral(
        "Reads parameter --param (as USIGN32) from every station id from --from to --to\n"
        "and lists the stations that answer. A station that refuses the parameter (\"invalid\n"
        "param no.\") or sends a broken reply is there all the same and is listed with the\n"
        "driver's text; only \"no response\" means no station. On a terminal a progress\n"
        "bar runs on stderr. The scan waits --timeout 100 ms per station and does not\n"
        "repeat (--retries 0) unless told otherwise.");
}

QString ScanCommand::epilogue() const
{
    return linkNotes()
           + QStringLiteral("scan exits with 1 when no station answered.\n"
                            "\n"
                            "Examples:\n"
                            "  lustbus scan --port /dev/ttyUSB0\n"
                            "  lustbus scan --tcp 192.0.2.10:4001 --from 1 --to 8 --timeout 300\n");
}

QList<QCommandLineOption> ScanCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("from"), QStringLiteral("First station id (default 0)."),
                           QStringLiteral("A")),
        QCommandLineOption(QStringLiteral("to"), QStringLiteral("Last station id (default 63)."),
                           QStringLiteral("B")),
        QCommandLineOption(QStringLiteral("param"),
                           QStringLiteral("Parameter read from each station (default 1)."),
                           QStringLiteral("N")),
    };
    return list + LinkOptions::options();
}

namespace {

bool number(const QCommandLineParser &parser, const char *name, int fallback, int max, int *value,
            QString *error)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option)) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    *value = parser.value(option).trimmed().toInt(&ok, 10);
    if (!ok || *value < 0 || *value > max) {
        *error = QStringLiteral("bad --%1 '%2': expected 0 to %3")
                     .arg(option, parser.value(option))
                     .arg(max);
        return false;
    }
    return true;
}

} // namespace

int ScanCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status))
        return status;
    int from = 0;
    int to = 0;
    int parameter = 0;
    QString error;
    if (!number(parser, "from", 0, 63, &from, &error) || !number(parser, "to", 63, 63, &to, &error)
        || !number(parser, "param", 1, 65535, &parameter, &error))
        return usageError(error);
    if (from > to)
        return usageError(QStringLiteral("--from %1 lies above --to %2").arg(from).arg(to));
    if (!m_options.retriesGiven) {
        m_options.protocol.retry = 0;
        m_options.retriesGiven = true;
    }
    if (!m_options.timeoutGiven) {
        m_options.protocol.timeout = 100;
        m_options.timeoutGiven = true;
    }
    if (!openLink(&status))
        return status;

    DataAddress address;
    address.kind = 3;
    address.count = 1;
    address.text = QStringLiteral("USIGN32:%1").arg(parameter);
    ProgressBar progress(to - from + 1, Console::errIsTerminal());
    QList<int> found;
    for (int station = from; station <= to; ++station) {
        progress.show(station - from, QStringLiteral("station %1").arg(station));
        ProtocolSettings protocol = m_options.protocol;
        protocol.stationid = station;
        m_factory.streamLink()->setProtocolSettings(protocol);
        driver().read(link(), address);
        if (endedBySignal()) {
            progress.clear();
            return signalExit();
        }
        finishRequest();
        const QString text = driver().hasError() ? driver().errorText() : QString();
        if (text.endsWith(QLatin1String("> no response")))
            continue;
        found.append(station);
        progress.clear();
        Console::out() << "station " << station << ": answers"
                       << (text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text)) << '\n'
                       << Qt::flush;
        if (Console::writeError() != 0)
            return writeFailure();
    }
    progress.clear();
    Console::err() << "lustbus scan: " << found.size() << (found.size() == 1 ? " station" : " stations")
                   << " answered of " << (to - from + 1) << " tried (" << m_factory.description()
                   << ")" << Qt::endl;
    printStatistics();
    return found.isEmpty() ? ExitDriverError : ExitSuccess;
}
