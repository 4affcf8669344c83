#include "diffcommand.h"

#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "console.h"
#include "exitstatus.h"
#include "parameterset.h"
#include "progressbar.h"
#include "setcomparison.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

namespace {

// As diff(1): the two differ. Bad input is ExitUsageError (2), as there.
constexpr int ExitDifferent = 1;
// As diff(1): trouble, such as a drive that could not be identified.
constexpr int ExitTrouble = 2;

} // namespace

QString DiffCommand::summary() const
{
    return QStringLiteral("compares two parameter sets, or a set with the drive (--live)");
}

QString DiffCommand::description() const
{
    return QStringLiteral(
        "Compares the parameter sets A and B (made by backup) by parameter name, or with\n"
        "--live the set A with the values the drive holds now, read through the catalogue\n"
        "(--catalogue FILE or $LUSTBUS_CATALOGUE). Prints one line per difference, with both\n"
        "values and the unit: NAME: A -> B, an array element by element (NAME[I]). A\n"
        "parameter that only one side has, or that could not be read, differs too.\n"
        "\n"
        "Exit status as diff(1): 0 the two are equal, 1 they differ, 2 bad input (a set or\n"
        "catalogue that does not load, a usage error) or trouble; 3 the link did not open.\n"
        "With --live the drive's identity (see restore --help) is read first and again\n"
        "once the link was reopened: a drive that cannot be identified, or another drive\n"
        "after a reopen, is trouble, and nothing is compared.");
}

QList<Command::Argument> DiffCommand::arguments() const
{
    return {{QStringLiteral("A"), QStringLiteral("A parameter set.")},
            {QStringLiteral("B"),
             QStringLiteral("The parameter set to compare with; left out with --live."), false,
             true}};
}

QString DiffCommand::epilogue() const
{
    return QStringLiteral(
               "--live refuses a set made with another catalogue (by the catalogue's SHA-256)\n"
               "unless --force, which compares by name all the same.\n"
               "\n"
               "--json prints one object: a and b (what was compared), equal, and differences,\n"
               "each with name, index (of an array element), unit, and the values a and b\n"
               "(null where a side has none, with aError or bError when it could not be read).\n"
               "\n")
           + linkNotes()
           + QStringLiteral("\n"
                            "Examples:\n"
                            "  lustbus diff axis1.json axis2.json\n"
                            "  lustbus diff axis1.json --live --port /dev/ttyUSB0 --station 1\n");
}

QList<QCommandLineOption> DiffCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("live"),
                           QStringLiteral("Compares A with the drive's values (needs a link "
                                          "and the catalogue).")),
        QCommandLineOption(QStringLiteral("force"),
                           QStringLiteral("With --live: compares a set made with another "
                                          "catalogue by name.")),
        CatalogueOption::option(),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Prints one JSON object: the differences; or error "
                                          "and exit.")),
    };
    return list + LinkOptions::options();
}

bool DiffCommand::readLive(const ParameterSet &set, bool force, ParameterSet *live, int *status)
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
        same = access.read(*entry, &value.host, &value.error) == CatalogueAccess::Stopped
                   ? IdentityCheck::Stopped
                   : identity->confirm(&lost);
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
    if (parser.isSet(QStringLiteral("force")) && !liveSide)
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
    if (liveSide && !readLive(a, parser.isSet(QStringLiteral("force")), &b, &status))
        return status;

    const QList<SetComparison::Difference> differences = SetComparison::compare(a, b);
    if (liveSide && !parser.isSet(QStringLiteral("json")))
        printStatistics();
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonArray list;
        for (const SetComparison::Difference &difference : differences)
            list.append(difference.json);
        QJsonObject object{{QStringLiteral("a"), files.at(0)},
                           {QStringLiteral("b"), bName},
                           {QStringLiteral("equal"), differences.isEmpty()},
                           {QStringLiteral("differences"), list}};
        if (liveSide && m_options.stats)
            object.insert(QStringLiteral("stats"), statisticsJson());
        Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (const SetComparison::Difference &difference : differences)
            Console::out() << SetComparison::line(difference) << '\n';
    }
    return differences.isEmpty() ? ExitSuccess : ExitDifferent;
}
