#include "command.h"

#include "console.h"
#include "exitstatus.h"

#include <cerrno>
#include <cstring>

int Command::usageError(const QString &message) const
{
    Console::err() << "lustbus " << name() << ": " << message << '\n'
                   << "Try 'lustbus " << name() << " --help'." << Qt::endl;
    return ExitUsageError;
}

int Command::failure(int status, const QString &message) const
{
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

bool Command::wholeNumberOption(const QCommandLineParser &parser, const char *name, qint64 min,
                                qint64 max, qint64 *value, QString *error)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < min || number > max) {
        *error = QStringLiteral("bad --%1 '%2': expected a whole number from %3 to %4")
                     .arg(option, text)
                     .arg(min)
                     .arg(max);
        return false;
    }
    *value = number;
    return true;
}
