// lustbus watch ADDRESS...: polls parameters round after round; a live table on a
// terminal, CSV or JSON lines otherwise.
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "nameaddress.h"
#include "options.h"
#include "programhelp.h"
#include "valueform.h"
#include "watchlog.h"
#include "watchtable.h"

#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonDocument>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr int DefaultIntervalMs = 1000;
constexpr qint64 MaxIntervalMs = 86400000; // a day
constexpr double MaxDurationSeconds = 31.0 * 86400.0;

const char Description[] =
    "Reads every ADDRESS in turn, round after round, one round every --interval\n"
    "milliseconds (counted from the start of a round; a round that takes longer is\n"
    "followed at once by the next). Each address takes the same kind and count\n"
    "defaults and prints the same value forms as read; --kind and --count apply to\n"
    "every address, and ADDRESS@N gives one address its own count N\n"
    "(INT16:101:0@3 USIGN16:13.4@8).\n"
    "\n"
    "On a terminal (standard output a tty) a table is redrawn in place: address, the\n"
    "last good value, its age, the failed samples and the last error text. Otherwise,\n"
    "or with --csv, every sample is one CSV line under a header\n"
    "\"time,address,value,error\", or with --json one JSON object per line; each line is\n"
    "flushed, so that '| tee FILE' logs live. time is UTC, ISO 8601 with milliseconds.\n"
    "\n"
    "The watch runs until --samples rounds are done, --duration has passed, or\n"
    "SIGINT (Ctrl-C) or SIGTERM, which end it cleanly after the request on the wire\n"
    "(at most --timeout times --retries + 1), with its last lines and statistics; a\n"
    "second one ends it at once, also while a request waits on a silent line, with\n"
    "status 130 (SIGINT) or 143 (SIGTERM).\n"
    "\n"
    "With a catalogue that identifies the drive (see restore --help), a round starts by\n"
    "reading the drive's identity until it could be read, and again once the link was\n"
    "reopened: while it cannot be read, the samples are not taken (\"not read: ...\"),\n"
    "and when another drive answers the watch ends with 1. A station that left two\n"
    "requests in a row without a response gets no more requests in that round.";

const char Notes[] =
    "CSV: fields with a comma, a double quote, a line break or blanks at either\n"
    "end are quoted and their quotes doubled, so a list \"1, 2, 3\" stays one field.\n"
    "A failed sample has an empty value and the driver's error text. JSON lines:\n"
    "time, address, kind, count, hex and value as read --json, or error; with\n"
    "--stats a last line {\"stats\": {...}}. Without --json the statistics go to\n"
    "stderr at the end, after the table or the last CSV line.\n"
    "\n"
    "On the table a failed sample keeps the last good value on show, its age\n"
    "growing; values longer than 40 characters are cut there (CSV and JSON keep\n"
    "them whole), and lines are cut to the terminal's width.\n"
    "\n"
    "watch exits with 0 when it ends by itself, with 1 when samples were taken and\n"
    "not one of them succeeded, and with 130 (SIGINT) or 143 (SIGTERM) when a\n"
    "signal ended it, cleanly or at once.\n"
    "\n";

const char Examples[] =
    "\n"
    "Examples: the link from LUSTBUS_PORT or LUSTBUS_TCP, or add --sim\n"
    "  lustbus watch INT16:12 FIXPT16:17                # a live table, every second\n"
    "  lustbus watch INT16:12 --interval 0 --samples 100 > speed.csv\n"
    "  lustbus watch INT16:101:0 --count 3 --duration 60 | tee log.csv\n"
    "  lustbus watch INT32:14 USIGN16:13.4@8 --json --stats \\\n"
    "      --tcp 127.0.0.1:5020 --interval 250\n";

class WatchCommand : public LinkCommand
{
public:
    WatchCommand()
        : LinkCommand({"watch", "polls parameters: a live table, or CSV or JSON lines for logs",
                       Description,
                       Notes + ProgramHelp::addressNotes() + '\n' + ProgramHelp::linkNotes()
                           + Examples,
                       {{"ADDRESS",
                         "One or more addresses as read takes them (TYPE:PARAM, "
                         "TYPE:PARAM:INDEX, TYPE:PARAM.BIT, TYPE:PARAM:INDEX.BIT, or names with "
                         "a catalogue), each optionally with @N, its own count.",
                         true}}})
    {
    }

    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // The first signal ends the watch after the request on the wire, the second at once.
    int signalsToEnd() const override { return 2; }

private:
    // --interval, --samples, --duration and the output form; false after a usage error.
    bool readSettings(const QCommandLineParser &parser, int *status);
    // Every ADDRESS, each with its own count after '@'; false after a usage error.
    bool readAddresses(const QCommandLineParser &parser, int *status);
    // Round after round until the end, then the end's report.
    int watch();
    // One round's samples; a status when the watch must end at once.
    std::optional<int> sampleRound(bool *stopped);
    // The sample of address i on the table, as a JSON line or as a CSV line.
    void show(int i, bool failed, const QByteArray &host, const QString &errorText);
    // Until the next round starts; on the table the ages keep counting meanwhile.
    std::optional<int> waitForRound(qint64 roundStart, bool *stopped);
    int finish();
    QString statusLine() const;
    void drawTable();
    // At the start of a round: silent stations get their chances again, and the drive
    // is identified (where the catalogue can) until it is, and again after the link was
    // reopened. False when another drive answers now (m_ended says so).
    bool startRound();
    // One sample: false with the error text. None is taken while the drive is not
    // identified; one read over a link reopened since is not shown when another drive
    // answers (m_ended).
    bool sample(const RequestAddress &address, QByteArray *host, QString *errorText);
    // After the second signal: the cursor shown again, nothing more written.
    int endAtOnce();

    qint64 m_intervalMs = DefaultIntervalMs;
    qint64 m_samples = 0;     //!< 0: no end by count
    qint64 m_durationMs = -1; //!< -1: no end by time
    bool m_hex = false;
    bool m_json = false;
    bool m_csv = false;
    QList<RequestAddress> m_addresses;
    std::unique_ptr<WatchTable> m_table; //!< on a terminal, without --csv and --json
    QElapsedTimer m_clock;
    qint64 m_round = 0;
    quint64 m_taken = 0;
    quint64 m_good = 0;
    std::unique_ptr<IdentityCheck> m_identity; //!< with a catalogue that can identify
    QString m_unidentified; //!< why this round's samples are not taken
    QString m_ended;        //!< why the watch ends before its time
};

QList<QCommandLineOption> WatchCommand::options() const
{
    return QList<QCommandLineOption>{
               Options::value("interval",
                              QStringLiteral("Time from the start of one round to the next; 0 "
                                             "polls as fast as the link answers. Default: %1.")
                                  .arg(DefaultIntervalMs),
                              "MS"),
               Options::value("samples",
                              "Ends after N rounds (N samples of every address). Default: until "
                              "interrupted.",
                              "N"),
               Options::value("duration",
                              "Ends when this many seconds (decimals allowed) have passed; no "
                              "round starts after that.",
                              "SECONDS"),
               Options::Kind.with("Address kind for every address, as read takes it. Default: "
                                  "from each address."),
               Options::Count.with("Elements (bits for bit addresses) for every address. "
                                   "Default: 1, STRING 800."),
               Options::Hex.with("Shows the host bytes as hex instead of the value."),
               Options::flag("csv", "CSV lines also on a terminal, instead of the table."),
               Options::Json.with("One JSON object per sample instead of CSV or the table."),
               Options::rawAddress(),
               CatalogueOption::option(),
           }
           + LinkOptions::options();
}

bool WatchCommand::readSettings(const QCommandLineParser &parser, int *status)
{
    QString error;
    if (!wholeNumberOption(parser, "interval", 0, MaxIntervalMs, &m_intervalMs, &error)
        || !wholeNumberOption(parser, "samples", 1, std::numeric_limits<qint32>::max(),
                              &m_samples, &error)) {
        *status = usageError(error);
        return false;
    }
    if (parser.isSet(QStringLiteral("duration"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("duration")).trimmed().toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > MaxDurationSeconds) {
            *status = usageError(QStringLiteral("bad --duration '%1': expected seconds above 0, "
                                                "at most %2")
                                     .arg(parser.value(QStringLiteral("duration")))
                                     .arg(MaxDurationSeconds, 0, 'f', 0));
            return false;
        }
        m_durationMs = qint64(seconds * 1000.0 + 0.5);
    }
    m_hex = Options::Hex.isSet(parser);
    m_json = Options::Json.isSet(parser);
    m_csv = parser.isSet(QStringLiteral("csv"));
    if (m_json && m_csv) {
        *status = usageError(QStringLiteral("--csv and --json name two output forms; give one"));
        return false;
    }
    return true;
}

bool WatchCommand::readAddresses(const QCommandLineParser &parser, int *status)
{
    for (const QString &argument : parser.positionalArguments()) {
        // ADDRESS@N: this address's own count, so that arrays and bit runs of
        // different lengths can be watched together.
        QString text = argument;
        QString countText = Options::Count.value(parser);
        const int at = int(argument.lastIndexOf(QLatin1Char('@')));
        if (at >= 0) {
            text = argument.left(at);
            countText = argument.mid(at + 1);
            if (countText.isEmpty()) {
                *status = usageError(
                    QStringLiteral("'%1': expected a count after '@'").arg(argument));
                return false;
            }
        }
        RequestAddress address;
        NameAddress named;
        QString error;
        if (!NameAddress::resolve(text, catalogue(), Options::Kind.value(parser), countText,
                                  Options::textCheck(parser), &address, &named, &error)
            || !ValueForm::isReadable(address, m_hex, &error)) {
            *status = usageError(at >= 0 ? QStringLiteral("'%1': %2").arg(argument, error)
                                         : error);
            return false;
        }
        m_addresses.append(address);
    }
    return true;
}

int WatchCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status)
        || !readCatalogueFor(parser, parser.positionalArguments(), &status)
        || !readSettings(parser, &status) || !readAddresses(parser, &status))
        return status;
    const bool table = !m_json && !m_csv && Console::outIsAnsiTerminal();
    if (!openLink(&status))
        return status;
    if (catalogue() && !DriveIdentity::entries(m_catalogue).isEmpty())
        m_identity = identityCheck();
    if (table) {
        QStringList labels;
        for (const RequestAddress &address : qAsConst(m_addresses))
            labels.append(address.label());
        m_table = std::make_unique<WatchTable>(labels);
        m_stop->setLastWords(WatchTable::finishText());
    }
    return watch();
}

QString WatchCommand::statusLine() const
{
    return QStringLiteral("lustbus watch: %1, every %2 ms, round %3%4; Ctrl-C ends")
        .arg(m_factory.description())
        .arg(m_intervalMs)
        .arg(m_round)
        .arg(m_samples > 0 ? QStringLiteral(" of %1").arg(m_samples) : QString());
}

void WatchCommand::drawTable()
{
    m_table->draw(Console::out(), statusLine(), m_clock.elapsed(), Console::outColumns());
}

int WatchCommand::watch()
{
    m_clock.start();
    if (m_table)
        drawTable();
    else if (!m_json)
        Console::out() << WatchLog::csvHeader() << '\n' << Qt::flush;
    bool stopped = false;
    while (!stopped && (m_samples == 0 || m_round < m_samples)
           && (m_durationMs < 0 || m_clock.elapsed() < m_durationMs)) {
        const qint64 roundStart = m_clock.elapsed();
        ++m_round;
        stopped = !startRound();
        if (const std::optional<int> status = sampleRound(&stopped))
            return *status;
        if (stopped || !m_ended.isEmpty() || (m_samples > 0 && m_round >= m_samples))
            break;
        if (const std::optional<int> status = waitForRound(roundStart, &stopped))
            return *status;
    }
    return finish();
}

std::optional<int> WatchCommand::sampleRound(bool *stopped)
{
    for (int i = 0; i < m_addresses.size() && !*stopped; ++i) {
        QByteArray host;
        QString errorText;
        const bool failed = !sample(m_addresses[i], &host, &errorText);
        if (m_stop->endNow())
            return endAtOnce();
        if (!m_ended.isEmpty())
            break;
        ++m_taken;
        if (!failed)
            ++m_good;
        show(i, failed, host, errorText);
        if (Console::writeError() != 0)
            return writeFailure();
        *stopped = m_stop->stopRequested();
    }
    return std::nullopt;
}

void WatchCommand::show(int i, bool failed, const QByteArray &host, const QString &errorText)
{
    const RequestAddress &address = m_addresses[i];
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool asHex = false;
    const QString value = failed ? QString() : ValueForm::shownText(address, host, m_hex, &asHex);
    QTextStream &out = Console::out();
    if (m_table) {
        if (failed)
            m_table->setError(i, errorText);
        else
            m_table->setValue(i, value + (asHex || address.bitForm ? QString()
                                                                   : address.unitSuffix()),
                              m_clock.elapsed());
        drawTable();
    } else if (m_json) {
        printJson(WatchLog::jsonSample(now, address, host, failed, errorText));
    } else {
        out << WatchLog::csvSample(now, address.label(), value, errorText) << '\n' << Qt::flush;
    }
}

std::optional<int> WatchCommand::waitForRound(qint64 roundStart, bool *stopped)
{
    qint64 until = roundStart + m_intervalMs;
    if (m_durationMs >= 0)
        until = std::min(until, m_durationMs);
    for (qint64 left = until - m_clock.elapsed(); left > 0 && !*stopped;
         left = until - m_clock.elapsed()) {
        *stopped = m_stop->wait(int(m_table ? std::min<qint64>(left, 250) : left));
        if (m_table && !*stopped) {
            drawTable();
            if (Console::writeError() != 0)
                return writeFailure();
        }
    }
    return std::nullopt;
}

int WatchCommand::finish()
{
    StopSignals &stop = *m_stop;
    if (stop.endNow())
        return endAtOnce();
    if (m_table) {
        drawTable();
        m_table->finish(Console::out());
    }
    // With --json the last line is one object: the statistics, in a failure's object
    // when the watch ends with one.
    const bool allFailed = m_taken > 0 && m_good == 0;
    const bool failed = stop.stopRequested() || allFailed || !m_ended.isEmpty();
    if (m_json && m_options.stats) {
        if (failed) {
            addJsonFields({{QStringLiteral("stats"), statisticsJson()}});
        } else {
            const QJsonObject last{{QStringLiteral("stats"), statisticsJson()}};
            printJson(last);
        }
    } else {
        Console::out().flush();
        printStatistics();
    }
    m_table.reset(); // finished: an end at once from here on writes nothing more
    if (stop.endNow())
        return endAtOnce();
    if (stop.stopRequested())
        return signalExit(stop.stopStatus());
    if (!m_ended.isEmpty())
        return failure(ExitDriverError, m_ended + QStringLiteral("; the watch ends"));
    if (allFailed)
        return failure(ExitDriverError,
                       QStringLiteral("not one of %1 samples succeeded").arg(m_taken));
    return ExitSuccess;
}

bool WatchCommand::startRound()
{
    requestGuard().forgetSilentStations();
    m_unidentified.clear();
    if (!m_identity)
        return true;
    QString message;
    const IdentityCheck::Outcome outcome =
        m_identity->identified() ? m_identity->confirm(&message) : m_identity->start(&message);
    if (outcome == IdentityCheck::Changed)
        m_ended = message;
    else if (outcome == IdentityCheck::Unreadable)
        m_unidentified = message;
    return outcome != IdentityCheck::Stopped && outcome != IdentityCheck::Changed;
}

bool WatchCommand::sample(const RequestAddress &address, QByteArray *host, QString *errorText)
{
    if (!m_unidentified.isEmpty()) {
        *errorText = QStringLiteral("not read: ") + m_unidentified;
        return false;
    }
    *host = driver().read(link(), address.dataAddress());
    if (m_stop->endNow())
        return false;
    bool failed = driver().hasError();
    *errorText = failed ? driver().errorText() : QString();
    finishRequest();
    // The driver's clamp is no value of the servo's: a failed sample, never a trend point.
    if (!failed && !(*errorText = address.int32Q16ClampError(*host)).isEmpty()) {
        host->clear();
        failed = true;
    }
    QString message;
    const IdentityCheck::Outcome outcome =
        m_identity ? m_identity->confirm(&message) : IdentityCheck::Same;
    if (outcome == IdentityCheck::Changed)
        m_ended = message;
    if (outcome == IdentityCheck::Same)
        return !failed;
    // Not the drive watched so far, or one that cannot be told apart: not its value.
    host->clear();
    m_unidentified = message;
    *errorText = QStringLiteral("not read: ") + message;
    return false;
}

int WatchCommand::endAtOnce()
{
    if (m_table)
        m_table->finish(Console::out());
    return signalExit();
}



} // namespace

std::unique_ptr<Command> Commands::watch()
{
    return std::make_unique<WatchCommand>();
}
