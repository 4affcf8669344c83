// lustbus backup: every parameter of the catalogue from one station, saved as a
// parameter set (see parameterset.h).
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "parameterset.h"
#include "programhelp.h"
#include "progressbar.h"
#include "setbackup.h"
#include "setfile.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

namespace {

const char Description[] =
    "Reads every parameter of the catalogue (--catalogue FILE or $LUSTBUS_CATALOGUE)\n"
    "from one station, each once, arrays in as few requests as a telegram allows, and\n"
    "writes a parameter set: JSON with the drive, the catalogue's file name and SHA-256,\n"
    "the station, the link, the time (ISO 8601, UTC) and every value in its typed form,\n"
    "to -o FILE or standard output. A progress bar runs on stderr on a terminal.\n"
    "\n"
    "A parameter that cannot be read is listed on stderr and in the set with the\n"
    "driver's error text, the set is marked incomplete (\"complete\": false) and backup\n"
    "exits with 1; the set is written all the same. diff compares sets, restore writes\n"
    "one back.\n"
    "\n"
    "-o FILE takes only a complete set: an incomplete one goes to FILE.partial (and\n"
    "backup says so), so that it never replaces a complete set. Neither replaces a\n"
    "file that is not a parameter set (an empty file aside): backup refuses before it\n"
    "reads anything. --force lifts both rules. The set goes to a temporary file in the\n"
    "same folder, which is synced to disk and renamed over FILE: an interrupted or\n"
    "failed backup leaves FILE as it was. A device or a pipe (/dev/null) is written\n"
    "into.\n"
    "\n"
    "The drive's identity (see restore --help) is read first and saved in the set as\n"
    "\"identity\". Once the link was reopened it is read again: when another drive\n"
    "answers, or it cannot be read, the rest is not read (\"not read: ...\"). A station\n"
    "that left two requests in a row without a response is not asked again (\"not\n"
    "tried: station N does not answer\"); --keep-trying asks for every parameter.";

const char Notes[] =
    "With --json and -o, stdout carries one object: file, drive, catalogue, station,\n"
    "parameters (how many), failed (the names) and complete. Without -o the set\n"
    "itself is that object; on a failure it also has \"error\" and \"exit\", which\n"
    "diff and restore pass over; file names the file written (FILE.partial for\n"
    "an incomplete set).\n"
    "\n";

const char Examples[] =
    "\n"
    "Examples:\n"
    "  lustbus backup -o axis1.json --port /dev/ttyUSB0 --station 1\n"
    "  lustbus backup --sim --catalogue catalogues/sample.json > set.json\n";

class BackupCommand : public LinkCommand
{
public:
    BackupCommand()
        : LinkCommand({"backup", "saves every parameter of the catalogue as a parameter set",
                       Description, Notes + ProgramHelp::linkNotes() + Examples, {}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   CatalogueOption::option(),
                   QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                                      QStringLiteral("Writes the set to FILE instead of "
                                                     "standard output."),
                                      QStringLiteral("FILE")),
                   Options::Force.with("With -o: writes an incomplete set to FILE all the same, "
                                       "and replaces a FILE that is no parameter set."),
                   Options::Json.with("Prints one JSON object: what was saved, or error and "
                                      "exit (see below)."),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

private:
    // Writes set to -o output (see SetFile) and says so; failed names the parameters
    // that could not be read, message says how many. The exit status.
    int save(const ParameterSet &set, const QStringList &failed, QString message,
             const QString &output, bool force, bool json);
    // Reads the station's identity and every parameter into a set (see SetBackup).
    // False when a signal came.
    bool readSet(std::unique_ptr<SetBackup> *backup);

    std::unique_ptr<LinkBusAccess> m_bus;
};

int BackupCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readCatalogue(parser, true, &status))
        return status;
    const QString output = parser.value(QStringLiteral("output"));
    const bool json = Options::Json.isSet(parser);
    if (parser.isSet(QStringLiteral("output")) && output.isEmpty())
        return usageError(QStringLiteral("bad -o '': expected a file name"));
    if (Options::Force.isSet(parser) && output.isEmpty())
        return usageError(QStringLiteral("--force goes with -o"));
    QString error;
    if (!output.isEmpty() && !Options::Force.isSet(parser)
        && !SetFile::mayReplace(output, &error))
        return usageError(error);
    if (!openLink(&status))
        return status;

    std::unique_ptr<SetBackup> backup;
    if (!readSet(&backup))
        return signalExit();
    const ParameterSet &set = backup->set();
    const QStringList &failed = backup->failed();
    const QString message = backup->incompleteText();
    if (!output.isEmpty())
        return save(set, failed, message, output, Options::Force.isSet(parser), json);
    QJsonObject document = set.toJson();
    if (!json)
        printStatistics();
    if (!failed.isEmpty() && json) {
        // The one object on stdout is the set, with the failure's members.
        addJsonFields(document);
        return failure(ExitDriverError, message);
    }
    Console::out() << QJsonDocument(document).toJson(json ? QJsonDocument::Compact
                                                          : QJsonDocument::Indented)
                   << (json ? "\n" : "");
    return failed.isEmpty() ? ExitSuccess : failure(ExitDriverError, message);
}

int BackupCommand::save(const ParameterSet &set, const QStringList &failed, QString message,
                        const QString &output, bool force, bool json)
{
    const QString file = SetFile::target(output, failed.isEmpty(), force);
    QString error;
    if (!SetFile::write(file, QJsonDocument(set.toJson()).toJson(), &error))
        return failure(ExitOutputError, error);
    const QJsonObject summary{{QStringLiteral("file"), file},
                              {QStringLiteral("drive"), set.drive},
                              {QStringLiteral("catalogue"), set.catalogue},
                              {QStringLiteral("station"), set.station},
                              {QStringLiteral("parameters"), int(set.values.size())},
                              {QStringLiteral("failed"), QJsonArray::fromStringList(failed)},
                              {QStringLiteral("complete"), failed.isEmpty()}};
    if (!json)
        printStatistics();
    if (!failed.isEmpty()) {
        if (file != output)
            message += QStringLiteral(" and saved to %1, as -o %2 takes only a complete set "
                                      "(--force writes it to %2)")
                           .arg(file, output);
        addJsonFields(summary);
        return failure(ExitDriverError, message);
    }
    if (json)
        printJson(summary);
    Console::err() << "lustbus backup: " << set.values.size() << " parameters of "
                   << set.catalogue << " from station " << set.station << " saved to " << file
                   << Qt::endl;
    return ExitSuccess;
}

bool BackupCommand::readSet(std::unique_ptr<SetBackup> *backup)
{
    const std::unique_ptr<IdentityCheck> identity = identityCheck();
    QString message;
    const IdentityCheck::Outcome start = identity->start(&message);
    if (start == IdentityCheck::Stopped)
        return false;
    if (start == IdentityCheck::Unreadable)
        Console::err() << "lustbus backup: " << message << Qt::endl;
    m_bus = busAccess();
    *backup = std::make_unique<SetBackup>(
        *m_bus, m_catalogue, m_options.protocol.stationid, m_factory.description(),
        identity->identity(), [&identity](QString *lost) { return identity->confirm(lost); });
    ProgressBar progress((*backup)->total(), Console::errIsAnsiTerminal());
    while (!(*backup)->atEnd()) {
        progress.show((*backup)->done(), (*backup)->nextName());
        const QString name = (*backup)->nextName();
        if (!(*backup)->readNext()) {
            progress.clear();
            return false;
        }
        // The message of a drive that is not the same comes at the end.
        if (!(*backup)->lastError().isEmpty()) {
            progress.clear();
            Console::err() << "lustbus backup: " << name << ": " << (*backup)->lastError()
                           << Qt::endl;
        }
    }
    progress.clear();
    return true;
}

} // namespace

std::unique_ptr<Command> Commands::backup()
{
    return std::make_unique<BackupCommand>();
}
