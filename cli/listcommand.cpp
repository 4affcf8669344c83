// lustbus list: the catalogue as a table, with --values each parameter's live value.
#include "catalogueaccess.h"
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "programhelp.h"
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

// An entry as list --json shows it: name, number, type, elements, unit, access, min,
// max, description (those given).
QJsonObject entryJson(const CatalogueEntry &entry)
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

const char Description[] =
    "Shows the parameters of the catalogue (--catalogue FILE or $LUSTBUS_CATALOGUE) as a\n"
    "table: name, number, data type, elements of an array, unit, access (rw or ro) and\n"
    "the range a write must keep to. Needs no link. With --values it reads every\n"
    "parameter from the servo (arrays in as few requests as a telegram allows) and adds\n"
    "its value; values longer than 60 characters are cut in the table.";

const char Notes[] =
    "--json prints one object: drive, version, catalogue (the file name), sha256\n"
    "(of the file) and parameters, each with name, number, type, elements, unit,\n"
    "access, identity, min, max and description where given, and with --values its\n"
    "value or the driver's error. list --values exits with 1 when a parameter could\n"
    "not be read.\n"
    "\n";

const char Examples[] =
    "\n"
    "Examples:\n"
    "  lustbus list --catalogue catalogues/sample.json\n"
    "  lustbus list --values --port /dev/ttyUSB0 --station 3\n"
    "  lustbus list --values --json --sim --catalogue catalogues/sample.json\n";

// The table of the catalogue: the columns before the value are known from the
// catalogue, so that rows go out as their values come in.
class CatalogueTable
{
public:
    CatalogueTable(const LustBus::Catalogue &catalogue, bool values) : m_values(values)
    {
        m_rows.append({QStringLiteral("name"), QStringLiteral("number"), QStringLiteral("type"),
                       QStringLiteral("elements"), QStringLiteral("unit"),
                       QStringLiteral("access"), QStringLiteral("range")});
        for (const CatalogueEntry &entry : catalogue.entries)
            m_rows.append(columns(entry));
        m_widths.fill(0, m_rows.first().size());
        for (const QStringList &row : qAsConst(m_rows)) {
            for (int i = 0; i < row.size(); ++i)
                m_widths[i] = qMax(m_widths[i], int(row[i].size()));
        }
    }

    QString heading() const { return line(0, QStringLiteral("value")); }
    QString entryLine(int entry, const QString &value) const { return line(entry + 1, value); }

private:
    QString line(int row, const QString &value) const
    {
        QString text;
        for (int i = 0; i < m_rows[row].size(); ++i) {
            const bool number = i == 1 || i == 3;
            text += (number ? m_rows[row][i].rightJustified(m_widths[i])
                            : m_rows[row][i].leftJustified(m_widths[i]))
                    + QStringLiteral("  ");
        }
        return (m_values ? text + value : text).trimmed();
    }

    bool m_values;
    QList<QStringList> m_rows;
    QVector<int> m_widths;
};

class ListCommand : public LinkCommand
{
public:
    ListCommand()
        : LinkCommand({"list", "shows the catalogue's parameters, with --values their live values",
                       Description, Notes + ProgramHelp::linkNotes() + Examples, {}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   CatalogueOption::option(),
                   Options::flag("values", "Reads every parameter and adds its value (needs a "
                                           "link)."),
                   Options::Json.with("Prints one JSON object: the catalogue and its parameters; "
                                      "or error and exit."),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

private:
    // Every entry, with its value read when values; the lines on stdout without json.
    // ExitSuccess, or the status to return at once.
    int listEntries(bool values, bool json, QJsonArray *parameters, int *failed);

    QJsonObject m_head; //!< what --json says of the catalogue
};

int ListCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    const bool values = parser.isSet(QStringLiteral("values"));
    const bool json = Options::Json.isSet(parser);
    if (!readCatalogue(parser, true, &status) || (values && !readLinkOptions(parser, &status)))
        return status;
    m_head = {{QStringLiteral("drive"), m_catalogue.drive},
              {QStringLiteral("version"), m_catalogue.version},
              {QStringLiteral("catalogue"), m_catalogue.fileName()},
              {QStringLiteral("sha256"), m_catalogue.sha256}};
    addJsonFields(m_head);
    if (values && !openLink(&status))
        return status;

    QJsonArray parameters;
    int failed = 0;
    status = listEntries(values, json, &parameters, &failed);
    if (status != ExitSuccess)
        return status;
    m_head.insert(QStringLiteral("parameters"), parameters);
    if (values)
        insertStatistics(&m_head);
    if (!json && values)
        printStatistics();
    if (failed > 0) {
        addJsonFields(m_head);
        return failure(ExitDriverError,
                       QStringLiteral("%1 of %2 parameters could not be read")
                           .arg(failed)
                           .arg(m_catalogue.entries.size()));
    }
    if (json)
        printJson(m_head);
    return ExitSuccess;
}

int ListCommand::listEntries(bool values, bool json, QJsonArray *parameters, int *failed)
{
    const LustBus::Catalogue &catalogue = m_catalogue;
    const CatalogueTable table(catalogue, values);
    QTextStream &out = Console::out();
    if (!json)
        out << QStringLiteral("%1 (%2, version %3): %4 parameters")
                   .arg(catalogue.drive.isEmpty() ? QStringLiteral("drive") : catalogue.drive,
                        catalogue.fileName())
                   .arg(catalogue.version)
                   .arg(catalogue.entries.size())
            << '\n'
            << table.heading() << '\n'
            << Qt::flush;
    std::unique_ptr<CatalogueAccess> access;
    if (values)
        access = std::make_unique<CatalogueAccess>(driver(), link(), requestHook());
    ProgressBar progress(int(catalogue.entries.size()), values && Console::errIsAnsiTerminal());
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
                ++*failed;
                value = QStringLiteral("(%1)").arg(error);
                object.insert(QStringLiteral("error"), error);
            } else {
                value = cut(ValueText::format(entry.type, host, entry.isArray()));
                object.insert(QStringLiteral("value"),
                              ValueText::toJson(entry.type, host, entry.isArray()));
            }
        }
        parameters->append(object);
        if (json)
            continue;
        out << table.entryLine(i, value) << '\n' << Qt::flush;
        if (Console::writeError() != 0)
            return writeFailure();
    }
    progress.clear();
    return ExitSuccess;
}



} // namespace

std::unique_ptr<Command> Commands::list()
{
    return std::make_unique<ListCommand>();
}
