#include "watchcommand.h"

#include "console.h"
#include "catalogueoption.h"
#include "exitstatus.h"
#include "nameaddress.h"
#include "readcommand.h"
#include "requestaddress.h"
#include "watchlog.h"
#include "watchtable.h"

#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonDocument>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 MaxIntervalMs = 86400000; // a day
constexpr double MaxDurationSeconds = 31.0 * 86400.0;

} // namespace

QString WatchCommand::summary() const
{
    return QStringLiteral("polls parameters: a live table, or CSV or JSON lines for logs");
}

QString WatchCommand::description() const
{
    return QStringLiteral(
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
        "requests in a row without a response gets no more requests in that round.");
}

QList<Command::Argument> WatchCommand::arguments() const
{
    return {{QStringLiteral("ADDRESS"),
             QStringLiteral("One or more addresses as read takes them (TYPE:PARAM, "
                            "TYPE:PARAM:INDEX, TYPE:PARAM.BIT, TYPE:PARAM:INDEX.BIT, or names "
                            "with a catalogue), each optionally with @N, its own count."),
             true}};
}

QString WatchCommand::epilogue() const
{
    return QStringLiteral(
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
               "\n")
           + ReadCommand::addressNotes() + QLatin1Char('\n') + linkNotes()
           + QStringLiteral(
               "\n"
               "Examples: the link from LUSTBUS_PORT or LUSTBUS_TCP, or add --sim\n"
               "  lustbus watch INT16:12 FIXPT16:17                # a live table, every second\n"
               "  lustbus watch INT16:12 --interval 0 --samples 100 > speed.csv\n"
               "  lustbus watch INT16:101:0 --count 3 --duration 60 | tee log.csv\n"
               "  lustbus watch INT32:14 USIGN16:13.4@8 --json --stats \\\n"
               "      --tcp 127.0.0.1:5020 --interval 250\n");
}

QList<QCommandLineOption> WatchCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("interval"),
                           QStringLiteral("Time from the start of one round to the next; 0 "
                                          "polls as fast as the link answers. Default: %1.")
                               .arg(DefaultIntervalMs),
                           QStringLiteral("MS")),
        QCommandLineOption(QStringLiteral("samples"),
                           QStringLiteral("Ends after N rounds (N samples of every address). "
                                          "Default: until interrupted."),
                           QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("duration"),
                           QStringLiteral("Ends when this many seconds (decimals allowed) "
                                          "have passed; no round starts after that."),
                           QStringLiteral("SECONDS")),
        QCommandLineOption(QStringLiteral("kind"),
                           QStringLiteral("Address kind for every address, as read takes it. "
                                          "Default: from each address."),
                           QStringLiteral("K")),
        QCommandLineOption(QStringLiteral("count"),
                           QStringLiteral("Elements (bits for bit addresses) for every "
                                          "address. Default: 1, STRING 800."),
                           QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("hex"),
                           QStringLiteral("Shows the host bytes as hex instead of the value.")),
        QCommandLineOption(QStringLiteral("csv"),
                           QStringLiteral("CSV lines also on a terminal, instead of the table.")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("One JSON object per sample instead of CSV or the "
                                          "table.")),
        ReadCommand::rawAddressOption(),
        CatalogueOption::option(),
    };
    return list + LinkOptions::options();
}

int WatchCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status)
        || !readCatalogueFor(parser, parser.positionalArguments(), &status))
        return status;
    QString error;
    qint64 intervalMs = DefaultIntervalMs;
    qint64 samples = 0; // 0: no end by count
    if (!wholeNumberOption(parser, "interval", 0, MaxIntervalMs, &intervalMs, &error)
        || !wholeNumberOption(parser, "samples", 1, std::numeric_limits<qint32>::max(),
                              &samples, &error))
        return usageError(error);
    qint64 durationMs = -1;
    if (parser.isSet(QStringLiteral("duration"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("duration")).trimmed().toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > MaxDurationSeconds)
            return usageError(QStringLiteral("bad --duration '%1': expected seconds above 0, "
                                             "at most %2")
                                  .arg(parser.value(QStringLiteral("duration")))
                                  .arg(MaxDurationSeconds, 0, 'f', 0));
        durationMs = qint64(seconds * 1000.0 + 0.5);
    }
    const bool hex = parser.isSet(QStringLiteral("hex"));
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool csv = parser.isSet(QStringLiteral("csv"));
    if (json && csv)
        return usageError(QStringLiteral("--csv and --json name two output forms; give one"));

    QList<RequestAddress> addresses;
    QStringList addressTexts;
    for (const QString &argument : parser.positionalArguments()) {
        // ADDRESS@N: this address's own count, so that arrays and bit runs of
        // different lengths can be watched together.
        QString text = argument;
        QString countText = parser.value(QStringLiteral("count"));
        const int at = int(argument.lastIndexOf(QLatin1Char('@')));
        if (at >= 0) {
            text = argument.left(at);
            countText = argument.mid(at + 1);
            if (countText.isEmpty())
                return usageError(QStringLiteral("'%1': expected a count after '@'").arg(argument));
        }
        RequestAddress address;
        NameAddress named;
        if (!NameAddress::resolve(text, catalogue(), parser.value(QStringLiteral("kind")),
                                  countText, ReadCommand::textCheck(parser), &address, &named,
                                  &error)
            || !ReadCommand::isReadable(address, hex, &error))
            return usageError(at >= 0 ? QStringLiteral("'%1': %2").arg(argument, error) : error);
        addresses.append(address);
        addressTexts.append(address.label());
    }
    const bool table = !json && !csv && Console::outIsAnsiTerminal();

    if (!openLink(&status))
        return status;
    if (catalogue() && !DriveIdentity::entries(m_catalogue).isEmpty())
        m_identity = identityCheck();
    StopSignals &stop = *m_stop;
    if (table)
        stop.setLastWords(WatchTable::finishText());

    QTextStream &out = Console::out();
    WatchTable watchTable(addressTexts);
    QElapsedTimer clock;
    clock.start();
    qint64 round = 0;
    quint64 taken = 0;
    quint64 good = 0;
    auto statusLine = [&]() {
        return QStringLiteral("lustbus watch: %1, every %2 ms, round %3%4; Ctrl-C ends")
            .arg(m_factory.description())
            .arg(intervalMs)
            .arg(round)
            .arg(samples > 0 ? QStringLiteral(" of %1").arg(samples) : QString());
    };
    if (table)
        watchTable.draw(out, statusLine(), clock.elapsed(), Console::outColumns());
    else if (!json)
        out << WatchLog::csvHeader() << '\n' << Qt::flush;

    bool stopped = false;
    while (!stopped && (samples == 0 || round < samples)
           && (durationMs < 0 || clock.elapsed() < durationMs)) {
        const qint64 roundStart = clock.elapsed();
        ++round;
        stopped = !startRound();
        for (int i = 0; i < addresses.size() && !stopped; ++i) {
            const RequestAddress &address = addresses[i];
            QByteArray host;
            QString errorText;
            const bool failed = !sample(address, &host, &errorText);
            if (stop.endNow())
                return endAtOnce(table ? &watchTable : nullptr);
            if (!m_ended.isEmpty())
                break;
            const QDateTime now = QDateTime::currentDateTimeUtc();
            ++taken;
            if (!failed)
                ++good;
            bool asHex = false;
            const QString value =
                failed ? QString() : ReadCommand::shownText(address, host, hex, &asHex);
            if (table) {
                if (failed)
                    watchTable.setError(i, errorText);
                else
                    watchTable.setValue(i, value + (asHex || address.bitForm
                                                        ? QString()
                                                        : address.unitSuffix()),
                                        clock.elapsed());
                watchTable.draw(out, statusLine(), clock.elapsed(), Console::outColumns());
            } else if (json) {
                out << QJsonDocument(WatchLog::jsonSample(now, address, host, failed, errorText))
                           .toJson(QJsonDocument::Compact)
                    << '\n'
                    << Qt::flush;
            } else {
                out << WatchLog::csvSample(now, address.label(), value, errorText) << '\n'
                    << Qt::flush;
            }
            if (Console::writeError() != 0)
                return writeFailure();
            stopped = stop.stopRequested();
        }
        if (stopped || !m_ended.isEmpty() || (samples > 0 && round >= samples))
            break;
        qint64 until = roundStart + intervalMs;
        if (durationMs >= 0)
            until = std::min(until, durationMs);
        // On the table the ages keep counting while the watch waits.
        for (qint64 left = until - clock.elapsed(); left > 0 && !stopped;
             left = until - clock.elapsed()) {
            stopped = stop.wait(int(table ? std::min<qint64>(left, 250) : left));
            if (table && !stopped) {
                watchTable.draw(out, statusLine(), clock.elapsed(), Console::outColumns());
                if (Console::writeError() != 0)
                    return writeFailure();
            }
        }
    }
    if (stop.endNow())
        return endAtOnce(table ? &watchTable : nullptr);
    if (table) {
        watchTable.draw(out, statusLine(), clock.elapsed(), Console::outColumns());
        watchTable.finish(out);
    }
    // With --json the last line is one object: the statistics, in a failure's object
    // when the watch ends with one.
    const bool allFailed = taken > 0 && good == 0;
    const bool failed = stop.stopRequested() || allFailed || !m_ended.isEmpty();
    if (json && m_options.stats) {
        if (failed) {
            addJsonFields({{QStringLiteral("stats"), statisticsJson()}});
        } else {
            QJsonObject last;
            last.insert(QStringLiteral("stats"), statisticsJson());
            out << QJsonDocument(last).toJson(QJsonDocument::Compact) << '\n' << Qt::flush;
        }
    } else {
        out.flush();
        printStatistics();
    }
    if (stop.endNow())
        return endAtOnce(nullptr);
    if (stop.stopRequested())
        return signalExit(stop.stopStatus());
    if (!m_ended.isEmpty())
        return failure(ExitDriverError, m_ended + QStringLiteral("; the watch ends"));
    if (allFailed)
        return failure(ExitDriverError,
                       QStringLiteral("not one of %1 samples succeeded").arg(taken));
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

int WatchCommand::endAtOnce(WatchTable *table)
{
    if (table)
        table->finish(Console::out());
    return signalExit();
}
