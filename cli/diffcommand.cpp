// lustbus diff A B, lustbus diff A --live: what differs between two parameter sets, or
// between a set and the drive. Exits like diff(1): 0 equal, 1 different, 2 trouble.
#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "parameterset.h"
#include "programhelp.h"
#include "progressbar.h"
#include "setcomparison.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

namespace {

// As diff(1): 1 the two differ, 2 trouble: bad input (ExitUsageError), a link that did
// not open, or a parameter that a read did not give, so that equal or not is unknown.
constexpr int ExitDifferent = 1;
constexpr int ExitTrouble = 2;

// The names of the parameters that set holds an error of instead of a value.
QStringList withoutValue(const ParameterSet &set)
{
    QStringList names;
    for (const ParameterSet::Value &value : set.values) {
        if (!value.error.isEmpty())
            names.append(value.name);
    }
    return names;
}

const char Description[] =
    "Compares the parameter sets A and B (made by backup) by parameter name, or with\n"
    "--live the set A with the values the drive holds now, read through the catalogue\n"
    "(--catalogue FILE or $LUSTBUS_CATALOGUE). Prints one line per difference, with both\n"
    "values and the unit: NAME: A -> B, an array element by element (NAME[I]). A\n"
    "parameter that only one side has, or that a side could not read, is listed too.\n"
    "\n"
    "Exit status as diff(1), in place of the 1 to 3 below: 0 the two are equal, 1 they\n"
    "differ, 2 trouble: bad input (a set or catalogue that does not load, a usage\n"
    "error), a plugin or link that does not open, or a parameter that a read did not\n"
    "give (a live read that failed, or one that a set holds an error of), as equal or\n"
    "not is then unknown; the differences are listed all the same.\n"
    "\n"
    "With --live the drive's identity (see restore --help) is read first and again\n"
    "once the link was reopened: a drive that cannot be identified, or another drive\n"
    "after a reopen, is trouble, and nothing is compared.";

const char Notes[] =
    "--live refuses a set made with another catalogue (by the catalogue's SHA-256)\n"
    "unless --force, which compares by name all the same.\n"
    "\n"
    "--json prints one object: a and b (what was compared), equal, and differences,\n"
    "each with name, index (of an array element), unit, and the values a and b\n"
    "(null where a side has none, with aError or bError when it could not be read);\n"
    "on trouble also error and exit.\n"
    "\n";

const char Examples[] =
    "\n"
    "Examples:\n"
    "  lustbus diff axis1.json axis2.json\n"
    "  lustbus diff axis1.json --live --port /dev/ttyUSB0 --station 1\n";

class DiffCommand : public LinkCommand
{
public:
    DiffCommand()
        : LinkCommand({"diff", "compares two parameter sets, or a set with the drive (--live)",
                       Description, Notes + ProgramHelp::linkNotes() + Examples,
                       {{"A", "A parameter set."},
                        {"B", "The parameter set to compare with; left out with --live.", false,
                         true}}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   Options::flag("live", "Compares A with the drive's values (needs a link and "
                                         "the catalogue)."),
                   Options::Force.with("With --live: compares a set made with another catalogue "
                                       "by name."),
                   CatalogueOption::option(),
                   Options::Json.with("Prints one JSON object: the differences; or error and "
                                      "exit."),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

protected:
    int environmentStatus() const override { return ExitTrouble; }

private:
    // The drive's values of the parameters in set, as a set, and the names of those whose
    // read failed; false with the status.
    bool readLive(const ParameterSet &set, bool force, ParameterSet *live, QStringList *failed,
                  int *status);
    // Prints what differs between a and b, named aName and bName; unread names the
    // parameters that a read did not give. The exit status.
    int report(const ParameterSet &a, const QString &aName, const ParameterSet &b,
               const QString &bName, const QStringList &unread, bool json);
};

bool DiffCommand::readLive(const ParameterSet &set, bool force, ParameterSet *live,
                           QStringList *failed, int *status)
{
    const QString mismatch = set.catalogueMismatch(m_catalogue);
    if (!mismatch.isEmpty() && !force) {
        *status = usageError(mismatch + QStringLiteral("; --force compares it by name all the "
                                                       "same"));
        return false;
    }
    if (!openLink(status))
        return false;
    live->station = m_options.protocol.stationid;
    // Values are compared only while they come from the drive identified at the start.
    const std::unique_ptr<IdentityCheck> identity = identityCheck();
    QString lost;
    IdentityCheck::Outcome same = identity->start(&lost);
    CatalogueAccess access(driver(), link(), requestHook());
    ProgressBar progress(int(set.values.size()), Console::errIsAnsiTerminal());
    for (int i = 0; i < set.values.size() && same == IdentityCheck::Same; ++i) {
        const ParameterSet::Value &saved = set.values.at(i);
        const LustBus::CatalogueEntry *entry = m_catalogue.find(saved.name);
        if (!entry || !saved.matches(*entry)) {
            ParameterSet::Value missing = saved;
            missing.host.clear();
            missing.error = QStringLiteral("not in catalogue %1 as in the set")
                                .arg(m_catalogue.fileName());
            live->values.append(missing);
            continue;
        }
        progress.show(i, entry->name);
        ParameterSet::Value value = ParameterSet::describe(*entry);
        const CatalogueAccess::Outcome outcome = access.read(*entry, &value.host, &value.error);
        same = outcome == CatalogueAccess::Stopped ? IdentityCheck::Stopped
                                                   : identity->confirm(&lost);
        if (outcome == CatalogueAccess::Failed)
            failed->append(entry->name);
        live->values.append(value);
    }
    progress.clear();
    if (same == IdentityCheck::Stopped)
        *status = signalExit();
    else if (same != IdentityCheck::Same)
        *status = failure(ExitTrouble, lost + QStringLiteral("; nothing compared"));
    else
        return true;
    return false;
}

int DiffCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    const QStringList files = parser.positionalArguments();
    const bool liveSide = parser.isSet(QStringLiteral("live"));
    if (liveSide && files.size() > 1)
        return usageError(QStringLiteral("--live compares A with the drive: give one set, not "
                                         "'%1' too")
                              .arg(files.at(1)));
    if (!liveSide && files.size() < 2)
        return usageError(QStringLiteral("missing B (or --live to compare A with the drive)"));
    if (Options::Force.isSet(parser) && !liveSide)
        return usageError(QStringLiteral("--force goes with --live"));
    if (liveSide && (!readLinkOptions(parser, &status) || !readCatalogue(parser, true, &status)))
        return status;
    ParameterSet a;
    ParameterSet b;
    QString error;
    if (!ParameterSet::load(files.at(0), &a, &error)
        || (!liveSide && !ParameterSet::load(files.at(1), &b, &error)))
        return usageError(error);
    const QString bName = liveSide ? QStringLiteral("live") : files.at(1);
    addJsonFields({{QStringLiteral("a"), files.at(0)}, {QStringLiteral("b"), bName}});
    QStringList unread = withoutValue(a);
    QStringList failed;
    if (liveSide && !readLive(a, Options::Force.isSet(parser), &b, &failed, &status))
        return status;
    unread += liveSide ? failed : withoutValue(b);
    unread.removeDuplicates();
    if (liveSide && !Options::Json.isSet(parser))
        printStatistics();
    return report(a, files.at(0), b, bName, unread, Options::Json.isSet(parser));
}

int DiffCommand::report(const ParameterSet &a, const QString &aName, const ParameterSet &b,
                        const QString &bName, const QStringList &unread, bool json)
{
    const QList<SetComparison::Difference> differences = SetComparison::compare(a, b);
    const QString trouble =
        QStringLiteral("could not compare %1 parameter%2, as a read failed: %3")
            .arg(unread.size())
            .arg(unread.size() == 1 ? QString() : QStringLiteral("s"))
            .arg(unread.join(QLatin1String(", ")));
    if (json) {
        QJsonArray list;
        for (const SetComparison::Difference &difference : differences)
            list.append(difference.json);
        QJsonObject object{{QStringLiteral("a"), aName},
                           {QStringLiteral("b"), bName},
                           {QStringLiteral("equal"), differences.isEmpty()},
                           {QStringLiteral("differences"), list}};
        insertStatistics(&object);
        if (!unread.isEmpty()) {
            addJsonFields(object);
            return failure(ExitTrouble, trouble);
        }
        printJson(object);
    } else {
        for (const SetComparison::Difference &difference : differences)
            Console::out() << SetComparison::line(difference) << '\n';
        if (!unread.isEmpty())
            return failure(ExitTrouble, trouble);
    }
    return differences.isEmpty() ? ExitSuccess : ExitDifferent;
}

} // namespace

std::unique_ptr<Command> Commands::diff()
{
    return std::make_unique<DiffCommand>();
}
