#include "scancommand.h"

#include "addresskind.h"
#include "console.h"
#include "exitstatus.h"
#include "progressbar.h"
#include "streamlink.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QtEndian>

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
        "driver's text; only \"no response\" means no station. The scan waits --timeout\n"
        "100 ms per station and does not repeat (--retries 0) unless told otherwise; it\n"
        "sets the station itself, so --station is not taken. On a terminal a progress bar\n"
        "runs on stderr, wiped before every result line.");
}

QString ScanCommand::epilogue() const
{
    return linkNotes()
           + QStringLiteral("scan exits with 1 when no station answered. With --json the one object\n"
                            "has from, to, param and stations: one entry per station tried, with\n"
                            "station, answers (true or false) and the value read or the driver's\n"
                            "error text.\n"
                            "\n"
                            "Examples:\n"
                            "  lustbus scan --port /dev/ttyUSB0\n"
                            "  lustbus scan --tcp 192.0.2.10:4001 --from 1 --to 8 --timeout 300\n"
                            "  lustbus scan --sim --to 3 --json\n");
}

QList<QCommandLineOption> ScanCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("from"),
                           QStringLiteral("First station id. Default: 0."), QStringLiteral("A")),
        QCommandLineOption(QStringLiteral("to"), QStringLiteral("Last station id. Default: 63."),
                           QStringLiteral("B")),
        QCommandLineOption(QStringLiteral("param"),
                           QStringLiteral("Parameter read from each station. Default: 1."),
                           QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Prints one JSON object: the stations tried and each "
                                          "outcome.")),
    };
    // The scan's own defaults for the reply wait and the repeats; it picks the stations
    // itself, so --station is known only to be refused with a reason.
    for (QCommandLineOption option : LinkOptions::options()) {
        const QString name = option.names().constFirst();
        if (name == QLatin1String("timeout"))
            option.setDescription(QStringLiteral("How long to wait for each station's reply. "
                                                 "Default: 100."));
        else if (name == QLatin1String("retries"))
            option.setDescription(QStringLiteral("How often a request that got no reply is "
                                                 "repeated. Default: 0."));
        else if (name == QLatin1String("station"))
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        list.append(option);
    }
    return list;
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
    if (parser.isSet(QStringLiteral("station")))
        return usageError(QStringLiteral("--station is not taken: scan tries every station "
                                         "from --from to --to"));
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
    const bool json = parser.isSet(QStringLiteral("json"));
    addJsonFields({{QStringLiteral("from"), from},
                   {QStringLiteral("to"), to},
                   {QStringLiteral("param"), parameter}});
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
    address.kind = qint32(LustBus::AddressKind::DWords);
    address.count = 1;
    address.text = QStringLiteral("USIGN32:%1").arg(parameter);
    ProgressBar progress(to - from + 1, Console::errIsAnsiTerminal());
    int answered = 0;
    QJsonArray stations;
    for (int station = from; station <= to; ++station) {
        progress.show(station - from, QStringLiteral("station %1").arg(station));
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
        stations.append(outcome);
        if (!answers)
            continue;
        ++answered;
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
    const QString summary = QStringLiteral("%1 %2 answered of %3 tried (%4)")
                                .arg(answered)
                                .arg(answered == 1 ? QStringLiteral("station")
                                                   : QStringLiteral("stations"))
                                .arg(to - from + 1)
                                .arg(m_factory.description());
    addJsonFields({{QStringLiteral("stations"), stations}});
    if (m_options.stats)
        addJsonFields({{QStringLiteral("stats"), statisticsJson()}});
    if (!json)
        printStatistics();
    if (answered == 0)
        return failure(ExitDriverError, QStringLiteral("no station answered: ") + summary);
    Console::err() << "lustbus scan: " << summary << Qt::endl;
    if (json) {
        QJsonObject object{{QStringLiteral("from"), from},
                           {QStringLiteral("to"), to},
                           {QStringLiteral("param"), parameter},
                           {QStringLiteral("stations"), stations}};
        if (m_options.stats)
            object.insert(QStringLiteral("stats"), statisticsJson());
        Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n' << Qt::flush;
    }
    return ExitSuccess;
}
