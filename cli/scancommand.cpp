// lustbus scan: which stations answer on a bus.
#include "addresskind.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "programhelp.h"
#include "progressbar.h"
#include "streamlink.h"
#include "wirecodec.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QtEndian>

namespace {

const char Description[] =
    "Reads parameter --param (as USIGN32) from every station id from --from to --to\n"
    "and lists the stations that answer. A station that refuses the parameter (\"invalid\n"
    "param no.\") or sends a broken reply is there all the same and is listed with the\n"
    "driver's text; only \"no response\" means no station. The scan waits --timeout\n"
    "100 ms per station and does not repeat (--retries 0) unless told otherwise; it\n"
    "sets the station itself, so --station is not taken. On a terminal a progress bar\n"
    "runs on stderr, wiped before every result line.";

const char Notes[] =
    "scan exits with 1 when no station answered. With --json the one object\n"
    "has from, to, param and stations: one entry per station tried, with\n"
    "station, answers (true or false) and the value read or the driver's\n"
    "error text.\n"
    "\n"
    "Examples:\n"
    "  lustbus scan --port /dev/ttyUSB0\n"
    "  lustbus scan --tcp 192.0.2.10:4001 --from 1 --to 8 --timeout 300\n"
    "  lustbus scan --sim --to 3 --json\n";

class ScanCommand : public LinkCommand
{
public:
    ScanCommand()
        : LinkCommand({"scan", "finds the stations that answer on a bus", Description,
                       ProgramHelp::linkNotes() + Notes, {}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        // The scan's own defaults for the reply wait and the repeats; it picks the
        // stations itself, so --station is known only to be refused with a reason.
        return QList<QCommandLineOption>{
                   Options::value("from", "First station id. Default: 0.", "A"),
                   Options::value("to", "Last station id. Default: 63.", "B"),
                   Options::value("param", "Parameter read from each station. Default: 1.", "N"),
                   Options::Json.with("Prints one JSON object: the stations tried and each "
                                      "outcome."),
               }
               + LinkOptions::options(
                   LinkOptions::AllUses,
                   {{"timeout", "How long to wait for each station's reply. Default: 100."},
                    {"retries", "How often a request that got no reply is repeated. Default: 0."},
                    {"station", nullptr}});
    }

    int run(const QCommandLineParser &parser) override;

protected:
    // Every station is tried: --station and LUSTBUS_STATION are not read.
    int linkUses() const override { return LinkOptions::AllUses & ~LinkOptions::Station; }

private:
    // --from, --to and --param; false after a usage error (status set).
    bool readRange(const QCommandLineParser &parser, int *status);
    // Reads --param from each station in turn; the answering ones on stdout (not with
    // --json). The status to return early with, or ExitSuccess to report.
    int scanStations(bool json);
    int report(bool json);

    int m_from = LustBus::MinStationId;
    int m_to = LustBus::MaxStationId;
    int m_parameter = 1;
    int m_answered = 0;
    QJsonArray m_stations;
};

bool ScanCommand::readRange(const QCommandLineParser &parser, int *status)
{
    QString error;
    for (const auto &[name, value] : {std::pair{"from", &m_from}, std::pair{"to", &m_to}}) {
        const QString source = QStringLiteral("--") + QLatin1String(name);
        if (parser.isSet(QLatin1String(name))
            && !stationId(source, parser.value(QLatin1String(name)), value, &error)) {
            *status = usageError(error);
            return false;
        }
    }
    qint64 parameter = m_parameter;
    if (!wholeNumberOption(parser, "param", 0, 65535, &parameter, &error)) {
        *status = usageError(error);
        return false;
    }
    m_parameter = int(parameter);
    if (m_from > m_to) {
        *status = usageError(QStringLiteral("--from %1 lies above --to %2").arg(m_from).arg(m_to));
        return false;
    }
    return true;
}

int ScanCommand::run(const QCommandLineParser &parser)
{
    if (Options::Station.isSet(parser))
        return usageError(QStringLiteral("--station is not taken: scan tries every station "
                                         "from --from to --to"));
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readRange(parser, &status))
        return status;
    const bool json = Options::Json.isSet(parser);
    addJsonFields({{QStringLiteral("from"), m_from},
                   {QStringLiteral("to"), m_to},
                   {QStringLiteral("param"), m_parameter}});
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
    status = scanStations(json);
    return status != ExitSuccess ? status : report(json);
}

int ScanCommand::scanStations(bool json)
{
    DataAddress address;
    address.kind = qint32(LustBus::AddressKind::DWords);
    address.count = 1;
    address.text = QStringLiteral("USIGN32:%1").arg(m_parameter);
    ProgressBar progress(m_to - m_from + 1, Console::errIsAnsiTerminal());
    for (int station = m_from; station <= m_to; ++station) {
        progress.show(station - m_from, QStringLiteral("station %1").arg(station));
        ProtocolSettings protocol = m_options.protocol;
        protocol.stationid = station;
        m_factory.streamLink()->setProtocolSettings(protocol);
        const QByteArray value = driver().read(link(), address);
        if (endedBySignal()) {
            progress.clear();
            return signalExit();
        }
        finishRequest();
        const QString text = driver().hasError() ? driver().errorText() : QString();
        const bool answers = !text.endsWith(QLatin1String("> no response"));
        QJsonObject outcome{{QStringLiteral("station"), station},
                            {QStringLiteral("answers"), answers}};
        if (!text.isEmpty())
            outcome.insert(QStringLiteral("error"), text);
        else if (value.size() == 4)
            outcome.insert(QStringLiteral("value"), double(qFromLittleEndian<quint32>(value.constData())));
        m_stations.append(outcome);
        if (!answers)
            continue;
        ++m_answered;
        if (json)
            continue;
        // The bar shares the terminal with the results: its line goes first.
        progress.clear();
        Console::out() << "station " << station << ": answers"
                       << (text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text)) << '\n'
                       << Qt::flush;
        if (Console::writeError() != 0)
            return writeFailure();
    }
    progress.clear();
    return ExitSuccess;
}

int ScanCommand::report(bool json)
{
    const QString summary = QStringLiteral("%1 %2 answered of %3 tried (%4)")
                                .arg(m_answered)
                                .arg(m_answered == 1 ? QStringLiteral("station")
                                                     : QStringLiteral("stations"))
                                .arg(m_to - m_from + 1)
                                .arg(m_factory.description());
    addJsonFields({{QStringLiteral("stations"), m_stations}});
    reportStatistics(json);
    if (m_answered == 0)
        return failure(ExitDriverError, QStringLiteral("no station answered: ") + summary);
    Console::err() << "lustbus scan: " << summary << Qt::endl;
    if (json) {
        QJsonObject object{{QStringLiteral("from"), m_from},
                           {QStringLiteral("to"), m_to},
                           {QStringLiteral("param"), m_parameter},
                           {QStringLiteral("stations"), m_stations}};
        insertStatistics(&object);
        printJson(object);
    }
    return ExitSuccess;
}



} // namespace

std::unique_ptr<Command> Commands::scan()
{
    return std::make_unique<ScanCommand>();
}
