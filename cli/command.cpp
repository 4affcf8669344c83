#include "command.h"

#include "console.h"
#include "exitstatus.h"
#include "options.h"
#include "stationid.h"

#include <QtCore/QJsonDocument>

#include <cerrno>
#include <cstring>

int Command::usageError(const QString &message) const
{
    printJsonFailure(ExitUsageError, message);
    Console::err() << "lustbus " << name() << ": " << message << '\n'
                   << "Try 'lustbus " << name() << " --help'." << Qt::endl;
    return ExitUsageError;
}

int Command::failure(int status, const QString &message) const
{
    printJsonFailure(status, message);
    Console::err() << "lustbus " << name() << ": " << message << Qt::endl;
    return status;
}

int Command::writeFailure(const QString &program)
{
    const int code = Console::writeError();
    if (code == EPIPE)
        return ExitOutputClosed;
    static bool said = false;
    if (!said) {
        said = true;
        // If standard error is what failed, this goes nowhere; the status still tells.
        Console::err() << program << ": cannot write to " << Console::failedStream() << ": "
                       << QString::fromLocal8Bit(std::strerror(code)) << Qt::endl;
    }
    return ExitOutputError;
}

QStringList Command::spelledNames(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    return names;
}

bool Command::hasJsonOption() const
{
    for (const QCommandLineOption &option : options()) {
        if (option.names().contains(Options::Json.name()))
            return true;
    }
    return false;
}

void Command::addJsonFields(const QJsonObject &fields)
{
    for (auto it = fields.begin(); it != fields.end(); ++it)
        m_jsonFields.insert(it.key(), it.value());
}

void Command::printJsonFailure(int status, const QString &message) const
{
    if (!m_jsonOutput)
        return;
    QJsonObject object = m_jsonFields;
    object.insert(QStringLiteral("error"), message);
    object.insert(QStringLiteral("exit"), status);
    printJson(object);
}

void Command::printJson(const QJsonObject &object)
{
    Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n' << Qt::flush;
}

bool Command::wholeNumberOption(const QCommandLineParser &parser, const char *name, qint64 min,
                                qint64 max, qint64 *value, QString *error)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option))
        return true;
    return wholeNumber(QStringLiteral("--") + option, parser.value(option), min, max, value,
                       error);
}

bool Command::wholeNumber(const QString &source, const QString &text, qint64 min, qint64 max,
                          qint64 *value, QString *error)
{
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < min || number > max) {
        *error = QStringLiteral("bad %1 '%2': expected a whole number from %3 to %4")
                     .arg(source, text)
                     .arg(min)
                     .arg(max);
        return false;
    }
    *value = number;
    return true;
}

bool Command::stationId(const QString &source, const QString &text, int *station, QString *error)
{
    QString why;
    if (LustBus::parseStationId(text, station, &why))
        return true;
    *error = QStringLiteral("bad %1 '%2': %3").arg(source, text, why);
    return false;
}

bool Command::stationIds(const QCommandLineParser &parser, QList<int> *stations, QString *error)
{
    for (const QString &text : Options::Station.values(parser)) {
        int station = 0;
        if (!stationId(QStringLiteral("--station"), text, &station, error))
            return false;
        if (!stations->contains(station))
            stations->append(station);
    }
    return true;
}
