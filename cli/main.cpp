// lustbus: a command-line host for the LustBus ServoC/CDE driver plugin.
#include "commandtable.h"
#include "lustbusversion.h"

#include <QtCore/QCoreApplication>

#include <csignal>

int main(int argc, char **argv)
{
    // A reader that goes away shows as a failed write, which ends every command quietly
    // (Console); Qt's network code would ignore the signal from its first socket on anyway.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lustbus"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUSTBUS_VERSION_STRING));
    CommandTable commands;
    return commands.run(QCoreApplication::arguments());
}
