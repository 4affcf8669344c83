// lustbus restore FILE: writes a parameter set back to a drive, only what differs, each
// write read back and compared.
#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "parameterset.h"
#include "programhelp.h"
#include "valuetext.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QMap>

using LustBus::CatalogueEntry;

namespace {

// What became of one parameter; the names are the JSON "outcome" texts. Done, Refused
// and Unknown are a write's (WriteWatch).
enum Outcome { Unchanged, Done, Refused, Unknown, WouldWrite, ReadOnlyDifferent, Skipped, Failed,
               NotTried };
constexpr Outcome Outcomes[] = {Unchanged, Done,    Refused, Unknown, WouldWrite,
                                ReadOnlyDifferent, Skipped, Failed, NotTried};

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Unchanged: return "unchanged";
    case Done: return WriteWatch::name(WriteWatch::Done);
    case Refused: return WriteWatch::name(WriteWatch::Refused);
    case Unknown: return WriteWatch::name(WriteWatch::Unknown);
    case WouldWrite: return "would write";
    case ReadOnlyDifferent: return "read-only and different";
    case Skipped: return "skipped";
    case NotTried: return "not tried";
    case Failed: break;
    }
    return "failed";
}

Outcome outcomeOf(WriteWatch::Outcome written)
{
    return written == WriteWatch::Done ? Done : written == WriteWatch::Refused ? Refused : Unknown;
}

// Empty when every value of host lies within the entry's range.
QString outsideRange(const CatalogueEntry &entry, const ParameterSet::Value &value)
{
    const int i = entry.firstOutside(ValueText::numbers(entry.type, value.host));
    if (i < 0)
        return QString();
    return QStringLiteral("the set's value%1 lies outside the range %2; not written")
        .arg(entry.isArray() ? QStringLiteral(" at element %1").arg(i) : QString(),
             entry.rangeText());
}

// Why set is no set to restore without --partial: one that lacks values, or holds
// none; empty when it is whole.
QString lacksValues(const ParameterSet &set)
{
    if (set.values.isEmpty())
        return QStringLiteral("%1 holds no parameter to restore").arg(set.path);
    QStringList missing;
    for (const ParameterSet::Value &value : set.values) {
        if (!value.error.isEmpty())
            missing.append(value.name);
    }
    if (missing.size() == set.values.size())
        return QStringLiteral("%1 holds no value to restore (%2 parameters, none read)")
            .arg(set.path)
            .arg(set.values.size());
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("%1 is incomplete: %2 of %3 parameters have no value (%4); "
                          "--partial restores the others")
        .arg(set.path)
        .arg(missing.size())
        .arg(set.values.size())
        .arg(missing.join(QLatin1String(", ")));
}

// What became of one parameter, and why.
struct Step
{
    bool decided = false; //!< false: the run broke off before anything became of it
    Outcome outcome = Failed;
    QString why;          //!< the cause, or a note on a write that was done
    bool troubled = false; //!< why names a fault
    QByteArray live;

    void decide(Outcome what, const QString &text = QString())
    {
        decided = true;
        outcome = what;
        if (!text.isNull())
            why = text;
        troubled = what == Refused || what == Unknown || what == Failed || what == NotTried;
    }
};

const char Description[] =
    "Reads the drive's identity first (the catalogue's entries marked \"identity\",\n"
    "else its read-only simple parameters), then the drive's value of every parameter\n"
    "in the set FILE (made by backup), and writes the set's value where it differs and\n"
    "the catalogue (--catalogue FILE or $LUSTBUS_CATALOGUE) says \"rw\"; every write is\n"
    "read back. One line per parameter on stdout: unchanged; done (live -> set), the\n"
    "servo acknowledged it; refused, the servo said no or it was not sent (a value\n"
    "outside the catalogue's min and max is not); unknown, it went out and no valid\n"
    "reply came (the read back makes it done when it shows the new value, \"confirmed\n"
    "by read back\", refused when it shows the value before, \"not carried out\");\n"
    "read-only and different, reported and never written; failed, the drive's value\n"
    "could not be read; not tried, the station left two requests in a row without a\n"
    "response (--keep-trying asks all the same); or skipped, when the set holds no\n"
    "value of it or the catalogue does not describe it as the set does.\n"
    "\n"
    "Once the link was reopened, the identity is read again before the next write:\n"
    "when another drive answers, or it cannot be read, nothing more is written and\n"
    "restore ends, naming what it wrote before. A set from a drive of another identity\n"
    "(a replacement drive) is restored, and stderr says so. A catalogue that names\n"
    "nothing to identify a drive by is refused, except with --dry-run.\n"
    "\n"
    "A set made with another catalogue (by the catalogue's SHA-256) is refused unless\n"
    "--force, which restores it by name. An incomplete set (backup could not read it\n"
    "whole) or one without values is refused unless --partial.\n"
    "\n"
    "restore exits with 1 unless every parameter ended unchanged, done and read back as\n"
    "the set says, read-only or skipped, and also when nothing was restored: no\n"
    "parameter ended done or unchanged (all skipped, or read-only and different). A\n"
    "drive that holds the set already (all unchanged) is success: nothing needed\n"
    "writing.";

const char Notes[] =
    "--json prints one object: set, dryRun, identity (the drive's), setIdentity\n"
    "(the set's), parameters (name, outcome, the set's and the live value, error\n"
    "or note) and counts (of each outcome); on a failure or a signal also error and\n"
    "exit, with every parameter handled before.\n"
    "\n";

const char Examples[] =
    "\n"
    "Examples:\n"
    "  lustbus restore axis1.json --dry-run --port /dev/ttyUSB0 --station 1\n"
    "  lustbus restore axis1.json --port /dev/ttyUSB0 --station 1\n";

class RestoreCommand : public LinkCommand
{
public:
    RestoreCommand()
        : LinkCommand({"restore", "writes a parameter set back to a drive: only what differs",
                       Description, Notes + ProgramHelp::linkNotes() + Examples,
                       {{"FILE", "The parameter set to write back."}}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   Options::flag("dry-run", "Reads and compares, writes nothing: says what it "
                                            "would write."),
                   Options::Force.with("Restores a set made with another catalogue, by name."),
                   Options::flag("partial", "Restores an incomplete set: the parameters it "
                                            "holds values of."),
                   CatalogueOption::option(),
                   Options::Json.with("Prints one JSON object: every parameter's outcome; or "
                                      "error and exit."),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

private:
    // After each request: go on, or stop at once (a signal came, or the link was
    // reopened and the drive is not the one identified: no further writes).
    enum class Next { Go, Signal, IdentityLost };

    Next restoreOne(const ParameterSet::Value &saved, bool dryRun, Step *step);
    Next writeOne(const LustBus::CatalogueEntry &entry, const ParameterSet::Value &saved,
                  Step *step);
    Next afterRequest(CatalogueAccess::Outcome outcome);
    // The parameter's line (text) and its entry in parameters.
    void report(const ParameterSet::Value &saved, const Step &step, bool json);
    int finish(Next next, bool dryRun, bool json);

    std::unique_ptr<CatalogueAccess> m_access;
    std::unique_ptr<IdentityCheck> m_identity;
    QString m_file;
    DriveIdentity m_setIdentity;
    QString m_lost; //!< why no further writes go to the station
    QJsonArray m_parameters;
    QMap<int, int> m_counts; //!< by outcome
    QStringList m_done, m_unknown; //!< names, for the message when the run breaks off
    int m_troubled = 0; //!< parameters whose line names a fault
};

int RestoreCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readCatalogue(parser, true, &status))
        return status;
    const QString file = parser.positionalArguments().value(0);
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    const bool json = Options::Json.isSet(parser);
    addJsonFields({{QStringLiteral("set"), file}, {QStringLiteral("dryRun"), dryRun}});
    ParameterSet set;
    QString error;
    if (!ParameterSet::load(file, &set, &error))
        return usageError(error);
    const QString mismatch = set.catalogueMismatch(m_catalogue);
    if (!mismatch.isEmpty() && !Options::Force.isSet(parser))
        return usageError(mismatch + QStringLiteral("; --force restores it by name"));
    if (!parser.isSet(QStringLiteral("partial")) && !(error = lacksValues(set)).isEmpty())
        return usageError(error);
    if (!dryRun && DriveIdentity::entries(m_catalogue).isEmpty())
        return usageError(DriveIdentity::noEntriesText(m_catalogue)
                          + QStringLiteral(": restore writes only to a drive it identified"));
    if (!openLink(&status))
        return status;

    m_file = file;
    m_setIdentity = set.identity;
    m_access = std::make_unique<CatalogueAccess>(driver(), link(), requestHook());
    m_identity = identityCheck();
    const IdentityCheck::Outcome start = m_identity->start(&m_lost);
    if (start != IdentityCheck::Same)
        return finish(start == IdentityCheck::Stopped ? Next::Signal : Next::IdentityLost,
                      dryRun, json);
    // Restoring onto a replacement drive is what a set is for: another identity is
    // said, not refused.
    if (!set.identity.isEmpty() && m_identity->identified()
        && set.identity != m_identity->identity() && !json)
        Console::err() << "lustbus restore: the set comes from a drive with "
                       << set.identity.text() << "; station " << m_options.protocol.stationid
                       << " holds " << m_identity->identity().text() << " (restored all the same)"
                       << Qt::endl;
    for (const ParameterSet::Value &saved : set.values) {
        Step step;
        const Next next = restoreOne(saved, dryRun, &step);
        if (step.decided)
            report(saved, step, json);
        if (Console::writeError() != 0)
            return writeFailure();
        if (next != Next::Go)
            return finish(next, dryRun, json);
    }
    return finish(Next::Go, dryRun, json);
}

RestoreCommand::Next RestoreCommand::afterRequest(CatalogueAccess::Outcome outcome)
{
    if (outcome == CatalogueAccess::Stopped)
        return Next::Signal;
    const IdentityCheck::Outcome identity = m_identity->confirm(&m_lost);
    return identity == IdentityCheck::Same      ? Next::Go
           : identity == IdentityCheck::Stopped ? Next::Signal
                                                : Next::IdentityLost;
}

RestoreCommand::Next RestoreCommand::restoreOne(const ParameterSet::Value &saved, bool dryRun,
                                                Step *step)
{
    const CatalogueEntry *entry = m_catalogue.find(saved.name);
    if (!saved.error.isEmpty()) {
        step->decide(Skipped, QStringLiteral("the set holds no value (%1)").arg(saved.error));
        return Next::Go;
    }
    if (!entry || !saved.matches(*entry)) {
        step->decide(Skipped, QStringLiteral("not in catalogue %1 as in the set")
                                  .arg(m_catalogue.fileName()));
        return Next::Go;
    }
    QString error;
    const CatalogueAccess::Outcome read = m_access->read(*entry, &step->live, &error);
    // A value read over a link reopened since is not taken: it may be another drive's.
    if (const Next next = afterRequest(read); next != Next::Go)
        return next;
    if (read == CatalogueAccess::Failed)
        step->decide(error == RequestGuard::notTriedText(m_options.protocol.stationid) ? NotTried
                                                                                     : Failed,
                     error);
    else if (step->live == saved.host)
        step->decide(Unchanged);
    else if (entry->readOnly)
        step->decide(ReadOnlyDifferent);
    else if (const QString outside = outsideRange(*entry, saved); !outside.isEmpty())
        step->decide(Refused, outside);
    else if (dryRun)
        step->decide(WouldWrite);
    else
        return writeOne(*entry, saved, step);
    return Next::Go;
}

RestoreCommand::Next RestoreCommand::writeOne(const CatalogueEntry &entry,
                                              const ParameterSet::Value &saved, Step *step)
{
    WriteWatch::Outcome written = WriteWatch::Refused;
    QString error;
    const CatalogueAccess::Outcome sent = m_access->write(entry, saved.host, &error, &written);
    step->decide(outcomeOf(written), error);
    if (const Next next = afterRequest(sent); next != Next::Go || written == WriteWatch::Refused)
        return next;
    // Every write that may have gone out is read back: it confirms a done one and
    // settles an unknown one.
    QByteArray back;
    QString readError;
    const CatalogueAccess::Outcome read = m_access->read(entry, &back, &readError);
    if (const Next next = afterRequest(read); next != Next::Go)
        return next;
    const bool readOk = read == CatalogueAccess::Done;
    if (written == WriteWatch::Unknown) {
        QString note;
        const Outcome settled = outcomeOf(WriteWatch::settle(
            readOk, back == saved.host, back == step->live,
            readOk ? saved.text(back) : readError, &note));
        step->decide(settled, settled == Unknown ? error + QStringLiteral("; ") + note : note);
    } else if (!readOk || back != saved.host) {
        step->why = readOk ? QStringLiteral("read back %1, not %2").arg(saved.text(back),
                                                                         saved.text())
                           : QStringLiteral("read back: ") + readError;
        step->troubled = true;
    }
    return Next::Go;
}

void RestoreCommand::report(const ParameterSet::Value &saved, const Step &step, bool json)
{
    ++m_counts[step.outcome];
    m_troubled += step.troubled ? 1 : 0;
    if (step.outcome == Done)
        m_done.append(saved.name);
    else if (step.outcome == Unknown)
        m_unknown.append(saved.name);
    QJsonObject object{{QStringLiteral("name"), saved.name},
                       {QStringLiteral("outcome"), QLatin1String(outcomeName(step.outcome))}};
    if (saved.error.isEmpty())
        object.insert(QStringLiteral("set"),
                      ValueText::toJson(saved.type, saved.host, saved.isArray()));
    if (step.outcome != Skipped && !step.live.isEmpty())
        object.insert(QStringLiteral("live"),
                      ValueText::toJson(saved.type, step.live, saved.isArray()));
    if (!step.why.isEmpty())
        object.insert(step.troubled || step.outcome == Skipped ? QStringLiteral("error")
                                                               : QStringLiteral("note"),
                      step.why);
    m_parameters.append(object);
    if (json)
        return;
    QString line = saved.name + QStringLiteral(": ");
    if (step.outcome == NotTried)
        line += step.why;
    else
        line += QLatin1String(outcomeName(step.outcome));
    if (step.outcome == Done || step.outcome == WouldWrite)
        line += QStringLiteral(" (%1 -> %2)").arg(saved.text(step.live), saved.text())
                + (step.why.isEmpty() ? QString() : QStringLiteral("; ") + step.why);
    else if (step.outcome == ReadOnlyDifferent)
        line += QStringLiteral(" (live %1, set %2); not written")
                    .arg(saved.text(step.live), saved.text());
    else if (!step.why.isEmpty() && step.outcome != NotTried)
        line += QStringLiteral(": ") + step.why;
    Console::out() << line << '\n' << Qt::flush;
}

int RestoreCommand::finish(Next next, bool dryRun, bool json)
{
    QStringList counts{QStringLiteral("%1 %2").arg(m_counts.value(dryRun ? WouldWrite : Done))
                           .arg(dryRun ? QStringLiteral("to write") : QStringLiteral("done"))};
    QJsonObject countsJson;
    for (Outcome outcome : Outcomes) {
        countsJson.insert(QLatin1String(outcomeName(outcome)), m_counts.value(outcome));
        if (outcome != Done && outcome != WouldWrite)
            counts.append(QStringLiteral("%1 %2").arg(m_counts.value(outcome))
                              .arg(QLatin1String(outcomeName(outcome))));
    }
    const QString summary = counts.join(QLatin1String(", "));
    QJsonObject object{{QStringLiteral("set"), m_file},
                       {QStringLiteral("dryRun"), dryRun},
                       {QStringLiteral("parameters"), m_parameters},
                       {QStringLiteral("counts"), countsJson}};
    if (m_identity && m_identity->identified())
        object.insert(QStringLiteral("identity"), m_identity->identity().toJson());
    if (!m_setIdentity.isEmpty())
        object.insert(QStringLiteral("setIdentity"), m_setIdentity.toJson());
    insertStatistics(&object);
    if (!json)
        printStatistics();
    addJsonFields(object);
    if (next == Next::Signal) {
        if (!json)
            Console::err() << "lustbus restore: " << summary << Qt::endl;
        return signalExit();
    }
    if (next == Next::IdentityLost) {
        QString message = m_lost;
        if (m_done.isEmpty() && m_unknown.isEmpty())
            message += QStringLiteral("; nothing was written");
        else
            message += QStringLiteral("; nothing more is written to it; written before: ")
                       + (m_done.isEmpty() ? QStringLiteral("none") : m_done.join(QLatin1String(", ")));
        if (!m_unknown.isEmpty())
            message += QStringLiteral("; unknown: ") + m_unknown.join(QLatin1String(", "));
        if (!m_parameters.isEmpty())
            message += QStringLiteral(" (") + summary + QLatin1Char(')');
        return failure(ExitDriverError, message);
    }
    // All unchanged is success: the drive holds the set. Nothing done or unchanged is
    // not: the drive is not known to hold any of it.
    const bool nothing =
        m_counts.value(Done) + m_counts.value(Unchanged) + m_counts.value(WouldWrite) == 0;
    if (m_troubled > 0 || nothing)
        return failure(ExitDriverError,
                       summary + (nothing ? QStringLiteral("; nothing restored") : QString()));
    if (json)
        printJson(object);
    else
        Console::err() << "lustbus restore: " << summary << Qt::endl;
    return ExitSuccess;
}

} // namespace

std::unique_ptr<Command> Commands::restore()
{
    return std::make_unique<RestoreCommand>();
}
