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
    CommandTable(); //!< every lustbus command
    ~CommandTable();

    // arguments as QCoreApplication::arguments() gives them, program name first. The
    // status is the command's, or a write failure's when its output did not get out.
    int run(const QStringList &arguments);

    const Command *find(const QString &name) const;
    QList<const Command *> commands() const;
    QString overview() const; //!< "lustbus --help"

    // The parts of the overview that the man page and the shell completion take too.
    static QString introduction();
    static QList<QCommandLineOption> programOptions(); //!< --help, --version
    static QCommandLineOption helpOption();            //!< every command's -h, --help
    static QString exitStatusNotes();

    // A command's help: usage line, description, options, arguments and epilogue.
    static QString helpText(const Command &command, const QCommandLineParser &parser);

private:
    int dispatch(const QStringList &arguments);

    std::vector<std::unique_ptr<Command>> m_commands;
};

#endif // LUSTBUS_COMMANDTABLE_H
