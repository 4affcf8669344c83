#include "restorecommand.h"

#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "console.h"
#include "exitstatus.h"
#include "parameterset.h"
#include "valuetext.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QMap>

using LustBus::CatalogueEntry;

namespace {

// What became of one parameter; the names are the JSON "outcome" texts.
enum Outcome { Unchanged, Written, WouldWrite, ReadOnlyDifferent, Skipped, Failed };

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Unchanged: return "unchanged";
    case Written: return "written";
    case WouldWrite: return "would write";
    case ReadOnlyDifferent: return "read-only and different";
    case Skipped: return "skipped";
    case Failed: break;
    }
    return "failed";
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

} // namespace

QString RestoreCommand::summary() const
{
    return QStringLiteral("writes a parameter set back to a drive: only what differs");
}

QString RestoreCommand::description() const
{
    return QStringLiteral(
        "Reads the drive's value of every parameter in the set FILE (made by backup) and\n"
        "writes the set's value where it differs and the catalogue (--catalogue FILE or\n"
        "$LUSTBUS_CATALOGUE) says \"rw\"; every written parameter is read back and compared.\n"
        "One line per parameter on stdout: unchanged; written (live -> set); failed, with\n"
        "the driver's error text; read-only and different, reported and never written; or\n"
        "skipped, when the set holds no value of it or the catalogue does not describe it\n"
        "as the set does. A value outside the catalogue's min and max is not written.\n"
        "\n"
        "A set made with another catalogue (by the catalogue's SHA-256) is refused unless\n"
        "--force, which restores it by name. An incomplete set (backup could not read it\n"
        "whole) or one without values is refused unless --partial.\n"
        "\n"
        "restore exits with 1 when a read, write or read back failed, and when nothing was\n"
        "restored: no parameter ended written or unchanged (all skipped, or read-only and\n"
        "different). A drive that holds the set already (all unchanged) is success: nothing\n"
        "needed writing.");
}

QList<Command::Argument> RestoreCommand::arguments() const
{
    return {{QStringLiteral("FILE"), QStringLiteral("The parameter set to write back.")}};
}

QString RestoreCommand::epilogue() const
{
    return QStringLiteral(
               "--json prints one object: set, dryRun, parameters (name, outcome, the set's\n"
               "and the live value, error) and counts (of each outcome); on a failure also\n"
               "error and exit.\n"
               "\n")
           + linkNotes()
           + QStringLiteral("\n"
                            "Examples:\n"
                            "  lustbus restore axis1.json --dry-run --port /dev/ttyUSB0 --station 1\n"
                            "  lustbus restore axis1.json --port /dev/ttyUSB0 --station 1\n");
}

QList<QCommandLineOption> RestoreCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("dry-run"),
                           QStringLiteral("Reads and compares, writes nothing: says what it "
                                          "would write.")),
        QCommandLineOption(QStringLiteral("force"),
                           QStringLiteral("Restores a set made with another catalogue, by "
                                          "name.")),
        QCommandLineOption(QStringLiteral("partial"),
                           QStringLiteral("Restores an incomplete set: the parameters it holds "
                                          "values of.")),
        CatalogueOption::option(),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Prints one JSON object: every parameter's outcome; "
                                          "or error and exit.")),
    };
    return list + LinkOptions::options();
}

int RestoreCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status) || !readCatalogue(parser, true, &status))
        return status;
    const QString file = parser.positionalArguments().value(0);
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    const bool json = parser.isSet(QStringLiteral("json"));
    addJsonFields({{QStringLiteral("set"), file}, {QStringLiteral("dryRun"), dryRun}});
    ParameterSet set;
    QString error;
    if (!ParameterSet::load(file, &set, &error))
        return usageError(error);
    const QString mismatch = set.catalogueMismatch(m_catalogue);
    if (!mismatch.isEmpty() && !parser.isSet(QStringLiteral("force")))
        return usageError(mismatch + QStringLiteral("; --force restores it by name"));
    if (!parser.isSet(QStringLiteral("partial")) && !(error = lacksValues(set)).isEmpty())
        return usageError(error);
    if (!openLink(&status))
        return status;

    CatalogueAccess access(driver(), link(), requestHook());
    QMap<Outcome, int> counts;
    QJsonArray parameters;
    for (const ParameterSet::Value &saved : set.values) {
        const CatalogueEntry *entry = m_catalogue.find(saved.name);
        Outcome outcome = Failed;
        QString why;
        QByteArray live;
        if (!saved.error.isEmpty()) {
            outcome = Skipped;
            why = QStringLiteral("the set holds no value (%1)").arg(saved.error);
        } else if (!entry || !saved.matches(*entry)) {
            outcome = Skipped;
            why = QStringLiteral("not in catalogue %1 as in the set").arg(m_catalogue.fileName());
        } else {
            CatalogueAccess::Outcome step = access.read(*entry, &live, &why);
            if (step == CatalogueAccess::Done) {
                if (live == saved.host)
                    outcome = Unchanged;
                else if (entry->readOnly)
                    outcome = ReadOnlyDifferent;
                else if (!(why = outsideRange(*entry, saved)).isEmpty())
                    outcome = Failed;
                else if (dryRun)
                    outcome = WouldWrite;
                else if ((step = access.write(*entry, saved.host, &why)) == CatalogueAccess::Done) {
                    QByteArray back;
                    step = access.read(*entry, &back, &why);
                    if (step == CatalogueAccess::Done && back != saved.host)
                        why = QStringLiteral("read back %1, not %2").arg(saved.text(back),
                                                                          saved.text());
                    else if (step == CatalogueAccess::Failed)
                        why = QStringLiteral("read back: ") + why;
                    outcome = step == CatalogueAccess::Done && back == saved.host ? Written
                                                                                  : Failed;
                }
            }
            if (step == CatalogueAccess::Stopped)
                return signalExit();
        }
        ++counts[outcome];

        QJsonObject object{{QStringLiteral("name"), saved.name},
                           {QStringLiteral("outcome"), QLatin1String(outcomeName(outcome))}};
        if (saved.error.isEmpty())
            object.insert(QStringLiteral("set"),
                          ValueText::toJson(saved.type, saved.host, saved.isArray()));
        if (outcome != Skipped && !live.isEmpty())
            object.insert(QStringLiteral("live"),
                          ValueText::toJson(saved.type, live, saved.isArray()));
        if (!why.isEmpty())
            object.insert(QStringLiteral("error"), why);
        parameters.append(object);
        if (json)
            continue;
        QString line = saved.name + QStringLiteral(": ") + QLatin1String(outcomeName(outcome));
        if (outcome == Written || outcome == WouldWrite)
            line += QStringLiteral(" (%1 -> %2)").arg(saved.text(live), saved.text());
        else if (outcome == ReadOnlyDifferent)
            line += QStringLiteral(" (live %1, set %2); not written")
                        .arg(saved.text(live), saved.text());
        else if (!why.isEmpty())
            line += QStringLiteral(": ") + why;
        Console::out() << line << '\n' << Qt::flush;
        if (Console::writeError() != 0)
            return writeFailure();
    }

    const QString summary =
        QStringLiteral("%1 %2, %3 unchanged, %4 read-only and different, %5 skipped, %6 failed")
            .arg(counts.value(dryRun ? WouldWrite : Written))
            .arg(dryRun ? QStringLiteral("to write") : QStringLiteral("written"))
            .arg(counts.value(Unchanged))
            .arg(counts.value(ReadOnlyDifferent))
            .arg(counts.value(Skipped))
            .arg(counts.value(Failed));
    QJsonObject object{{QStringLiteral("set"), file},
                       {QStringLiteral("dryRun"), dryRun},
                       {QStringLiteral("parameters"), parameters}};
    QJsonObject countsJson;
    for (Outcome outcome : {Unchanged, Written, WouldWrite, ReadOnlyDifferent, Skipped, Failed})
        countsJson.insert(QLatin1String(outcomeName(outcome)), counts.value(outcome));
    object.insert(QStringLiteral("counts"), countsJson);
    if (m_options.stats)
        object.insert(QStringLiteral("stats"), statisticsJson());
    if (!json)
        printStatistics();
    // All unchanged is success: the drive holds the set. Nothing written or unchanged
    // is not: the drive is not known to hold any of it.
    const bool nothing = counts.value(Written) + counts.value(Unchanged)
                             + counts.value(WouldWrite) == 0;
    if (counts.value(Failed) > 0 || nothing) {
        addJsonFields(object);
        return failure(ExitDriverError,
                       summary + (nothing ? QStringLiteral("; nothing restored") : QString()));
    }
    if (json)
        Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    else
        Console::err() << "lustbus restore: " << summary << Qt::endl;
    return ExitSuccess;
}
