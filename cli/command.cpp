#include "command.h"

#include "console.h"
#include "exitstatus.h"

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
