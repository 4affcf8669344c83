// lustbus restore FILE: writes a parameter set back to a drive, only what differs, each
// write read back and compared.
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "parameterset.h"
#include "programhelp.h"
#include "setrestore.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QMap>

using LustBus::CatalogueEntry;

namespace {

using Outcome = SetRestore::Outcome;
using Step = SetRestore::Step;
using Next = SetRestore::Next;

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
    // The parameter's line (text) and its entry in parameters.
    void report(const ParameterSet::Value &saved, const Step &step, bool json);
    int finish(Next next, bool dryRun, bool json);

    std::unique_ptr<LinkBusAccess> m_bus;
    std::unique_ptr<SetRestore> m_restore;
    std::unique_ptr<IdentityCheck> m_identity;
    QString m_file;
    DriveIdentity m_setIdentity;
    QString m_lostText; //!< why no further writes go to the station
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
    if (!parser.isSet(QStringLiteral("partial"))
        && !(error = SetRestore::lacksValues(set)).isEmpty())
        return usageError(error);
    if (!dryRun && DriveIdentity::entries(m_catalogue).isEmpty())
        return usageError(DriveIdentity::noEntriesText(m_catalogue)
                          + QStringLiteral(": restore writes only to a drive it identified"));
    if (!openLink(&status))
        return status;

    m_file = file;
    m_setIdentity = set.identity;
    m_identity = identityCheck();
    m_bus = busAccess();
    m_restore = std::make_unique<SetRestore>(
        *m_bus, m_catalogue, m_options.protocol.stationid,
        [this](QString *lost) { return m_identity->confirm(lost); });
    const IdentityCheck::Outcome start = m_identity->start(&m_lostText);
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
        const Next next = m_restore->restoreOne(saved, dryRun, &step);
        if (step.decided)
            report(saved, step, json);
        if (Console::writeError() != 0)
            return writeFailure();
        if (next == Next::IdentityLost)
            m_lostText = m_restore->lost();
        if (next != Next::Go)
            return finish(next, dryRun, json);
    }
    return finish(Next::Go, dryRun, json);
}

void RestoreCommand::report(const ParameterSet::Value &saved, const Step &step, bool json)
{
    ++m_counts[step.outcome];
    m_troubled += step.troubled ? 1 : 0;
    if (step.outcome == SetRestore::Done)
        m_done.append(saved.name);
    else if (step.outcome == SetRestore::Unknown)
        m_unknown.append(saved.name);
    m_parameters.append(SetRestore::toJson(saved, step));
    if (json)
        return;
    QString line = saved.name + QStringLiteral(": ");
    if (step.outcome == SetRestore::NotTried)
        line += step.why;
    else
        line += QLatin1String(SetRestore::outcomeName(step.outcome));
    if (step.outcome == SetRestore::Done || step.outcome == SetRestore::WouldWrite)
        line += QStringLiteral(" (%1 -> %2)").arg(saved.text(step.live), saved.text())
                + (step.why.isEmpty() ? QString() : QStringLiteral("; ") + step.why);
    else if (step.outcome == SetRestore::ReadOnlyDifferent)
        line += QStringLiteral(" (live %1, set %2); not written")
                    .arg(saved.text(step.live), saved.text());
    else if (!step.why.isEmpty() && step.outcome != SetRestore::NotTried)
        line += QStringLiteral(": ") + step.why;
    Console::out() << line << '\n' << Qt::flush;
}

int RestoreCommand::finish(Next next, bool dryRun, bool json)
{
    QStringList counts{
        QStringLiteral("%1 %2")
            .arg(m_counts.value(dryRun ? SetRestore::WouldWrite : SetRestore::Done))
            .arg(dryRun ? QStringLiteral("to write") : QStringLiteral("done"))};
    QJsonObject countsJson;
    for (Outcome outcome : SetRestore::Outcomes) {
        countsJson.insert(QLatin1String(SetRestore::outcomeName(outcome)),
                          m_counts.value(outcome));
        if (outcome != SetRestore::Done && outcome != SetRestore::WouldWrite)
            counts.append(QStringLiteral("%1 %2").arg(m_counts.value(outcome))
                              .arg(QLatin1String(SetRestore::outcomeName(outcome))));
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
        QString message = m_lostText;
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
    const bool nothing = m_counts.value(SetRestore::Done) + m_counts.value(SetRestore::Unchanged)
                             + m_counts.value(SetRestore::WouldWrite)
                         == 0;
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
