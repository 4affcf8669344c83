// lustbus: a command-line host for the LustBus ServoC/CDE driver plugin.
#include "commandtable.h"

#include <QtCore/QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lustbus"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUSTBUS_VERSION));
    CommandTable commands;
    return commands.run(QCoreApplication::arguments());
}
