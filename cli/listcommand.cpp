#include "listcommand.h"

#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "console.h"
#include "exitstatus.h"
#include "progressbar.h"
#include "valuetext.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

#include <memory>

using LustBus::CatalogueEntry;

namespace {

// Values longer than this are cut in the table; --json keeps them whole.
constexpr int ValueWidth = 60;

QStringList columns(const CatalogueEntry &entry)
{
    const QString none = QStringLiteral("-");
    return {entry.name,
            QString::number(entry.number),
            QLatin1String(LustBus::dataTypeName(entry.type)),
            entry.isArray() ? QString::number(entry.elements) : none,
            entry.unit.isEmpty() ? none : entry.unit,
            entry.readOnly ? QStringLiteral("ro") : QStringLiteral("rw"),
            entry.rangeText().isEmpty() ? none : entry.rangeText()};
}

QString cut(const QString &text)
{
    return text.size() <= ValueWidth ? text : text.left(ValueWidth - 3) + QStringLiteral("...");
}

} // namespace

QString ListCommand::summary() const
{
    return QStringLiteral("shows the catalogue's parameters, with --values their live values");
}

QString ListCommand::description() const
{
    return QStringLiteral(
        "Shows the parameters of the catalogue (--catalogue FILE or $LUSTBUS_CATALOGUE) as a\n"
        "table: name, number, data type, elements of an array, unit, access (rw or ro) and\n"
        "the range a write must keep to. Needs no link. With --values it reads every\n"
        "parameter from the servo (arrays in as few requests as a telegram allows) and adds\n"
        "its value; values longer than 60 characters are cut in the table.");
}

QString ListCommand::epilogue() const
{
    return QStringLiteral(
               "--json prints one object: drive, version, catalogue (the file name), sha256\n"
               "(of the file) and parameters, each with name, number, type, elements, unit,\n"
               "access, identity, min, max and description where given, and with --values its\n"
               "value or the driver's error. list --values exits with 1 when a parameter could\n"
               "not be read.\n"
               "\n")
           + linkNotes()
           + QStringLiteral("\n"
                            "Examples:\n"
                            "  lustbus list --catalogue catalogues/sample.json\n"
                            "  lustbus list --values --port /dev/ttyUSB0 --station 3\n"
                            "  lustbus list --values --json --sim --catalogue catalogues/sample.json\n");
}

QList<QCommandLineOption> ListCommand::options() const
{
    QList<QCommandLineOption> list{
        CatalogueOption::option(),
        QCommandLineOption(QStringLiteral("values"),
                           QStringLiteral("Reads every parameter and adds its value (needs a "
                                          "link).")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Prints one JSON object: the catalogue and its "
                                          "parameters; or error and exit.")),
    };
    return list + LinkOptions::options();
}

QJsonObject ListCommand::entryJson(const CatalogueEntry &entry)
{
    QJsonObject object{{QStringLiteral("name"), entry.name},
                       {QStringLiteral("number"), entry.number},
                       {QStringLiteral("type"), QLatin1String(LustBus::dataTypeName(entry.type))},
                       {QStringLiteral("access"), entry.readOnly ? QStringLiteral("ro")
                                                                 : QStringLiteral("rw")}};
    if (entry.isArray())
        object.insert(QStringLiteral("elements"), entry.elements);
    if (!entry.unit.isEmpty())
        object.insert(QStringLiteral("unit"), entry.unit);
    if (entry.identity)
        object.insert(QStringLiteral("identity"), true);
    if (entry.min)
        object.insert(QStringLiteral("min"), *entry.min);
    if (entry.max)
        object.insert(QStringLiteral("max"), *entry.max);
    if (!entry.description.isEmpty())
        object.insert(QStringLiteral("description"), entry.description);
    return object;
}

int ListCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    const bool values = parser.isSet(QStringLiteral("values"));
    const bool json = parser.isSet(QStringLiteral("json"));
    if (!readCatalogue(parser, true, &status) || (values && !readLinkOptions(parser, &status)))
        return status;
    const LustBus::Catalogue &catalogue = m_catalogue;
    QJsonObject head{{QStringLiteral("drive"), catalogue.drive},
                     {QStringLiteral("version"), catalogue.version},
                     {QStringLiteral("catalogue"), catalogue.fileName()},
                     {QStringLiteral("sha256"), catalogue.sha256}};
    addJsonFields(head);
    if (values && !openLink(&status))
        return status;

    // The columns before the value are known from the catalogue: rows go out as their
    // values come in, so that a reader sees progress and a closed pipe ends the list.
    QList<QStringList> rows{{QStringLiteral("name"), QStringLiteral("number"),
                             QStringLiteral("type"), QStringLiteral("elements"),
                             QStringLiteral("unit"), QStringLiteral("access"),
                             QStringLiteral("range")}};
    for (const CatalogueEntry &entry : catalogue.entries)
        rows.append(columns(entry));
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : rows) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], int(row[i].size()));
    }
    auto line = [&](const QStringList &row, const QString &value) {
        QString text;
        for (int i = 0; i < row.size(); ++i) {
            const bool number = i == 1 || i == 3;
            const QString cell = number ? row[i].rightJustified(widths[i])
                                        : row[i].leftJustified(widths[i]);
            text += cell + QStringLiteral("  ");
        }
        return (values ? text + value : text).trimmed();
    };

    QTextStream &out = Console::out();
    if (!json)
        out << QStringLiteral("%1 (%2, version %3): %4 parameters")
                   .arg(catalogue.drive.isEmpty() ? QStringLiteral("drive") : catalogue.drive,
                        catalogue.fileName())
                   .arg(catalogue.version)
                   .arg(catalogue.entries.size())
            << '\n'
            << line(rows.first(), QStringLiteral("value")) << '\n'
            << Qt::flush;
    std::unique_ptr<CatalogueAccess> access;
    if (values)
        access = std::make_unique<CatalogueAccess>(driver(), link(), requestHook());
    ProgressBar progress(int(catalogue.entries.size()), values && Console::errIsAnsiTerminal());
    QJsonArray parameters;
    int failed = 0;
    for (int i = 0; i < catalogue.entries.size(); ++i) {
        const CatalogueEntry &entry = catalogue.entries.at(i);
        QJsonObject object = entryJson(entry);
        QString value;
        if (values) {
            progress.show(i, entry.name);
            QByteArray host;
            QString error;
            const CatalogueAccess::Outcome outcome = access->read(entry, &host, &error);
            progress.clear();
            if (outcome == CatalogueAccess::Stopped)
                return signalExit();
            if (outcome == CatalogueAccess::Failed) {
                ++failed;
                value = QStringLiteral("(%1)").arg(error);
                object.insert(QStringLiteral("error"), error);
            } else {
                value = cut(ValueText::format(entry.type, host, entry.isArray()));
                object.insert(QStringLiteral("value"),
                              ValueText::toJson(entry.type, host, entry.isArray()));
            }
        }
        parameters.append(object);
        if (json)
            continue;
        out << line(rows.at(i + 1), value) << '\n' << Qt::flush;
        if (Console::writeError() != 0)
            return writeFailure();
    }
    progress.clear();
    head.insert(QStringLiteral("parameters"), parameters);
    if (values && m_options.stats)
        head.insert(QStringLiteral("stats"), statisticsJson());
    if (!json && values)
        printStatistics();
    if (failed > 0) {
        addJsonFields(head);
        return failure(ExitDriverError,
                       QStringLiteral("%1 of %2 parameters could not be read")
                           .arg(failed)
                           .arg(catalogue.entries.size()));
    }
    if (json)
        out << QJsonDocument(head).toJson(QJsonDocument::Compact) << '\n';
    return ExitSuccess;
}
