// The commands of lustbus by name: picks the command from the first argument, parses
// the rest with that command's options, prints help and usage errors.
#ifndef LUSTBUS_COMMANDTABLE_H
#define LUSTBUS_COMMANDTABLE_H

#include "command.h"

#include <memory>
#include <vector>

class CommandTable
{
public:
    CommandTable(); //!< every lustbus command (commands.h)
    ~CommandTable();

    // arguments as QCoreApplication::arguments() gives them, program name first. The
    // status is the command's, or a write failure's when its output did not get out.
    int run(const QStringList &arguments);

private:
    Command *find(const QString &name) const;
    QList<const Command *> commands() const;
    int dispatch(const QStringList &arguments);
    // --help, help COMMAND, --man, --completion SHELL, --version; false for a command.
    bool programRequest(const QStringList &arguments, int *status);
    int runCommand(Command &command, const QStringList &arguments);

    std::vector<std::unique_ptr<Command>> m_commands;
};

#endif // LUSTBUS_COMMANDTABLE_H
