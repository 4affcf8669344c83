// The help of the program as a whole: the overview of "lustbus --help", each command's
// --help, and the notes that several of them share. The man page and the shell
// completion are made from the same texts.
#ifndef LUSTBUS_PROGRAMHELP_H
#define LUSTBUS_PROGRAMHELP_H

#include "command.h"

namespace ProgramHelp {

QString introduction();
QList<QCommandLineOption> programOptions(); //!< --help, --version
QCommandLineOption helpOption();            //!< every command's -h, --help
QString environmentNotes();                 //!< "LUSTBUS_PORT ..." lines
QString exitStatusNotes();
// The notes of the commands that talk to servos: link choice, defaults, exit status.
QString linkNotes();
// The address and value forms that read and write share.
QString addressNotes();

// "lustbus --help": the commands in their order, the options, the notes.
QString overview(const QList<const Command *> &commands);
// A command's help: usage line, description, options, arguments and epilogue.
QString helpText(const Command &command, const QCommandLineParser &parser);

} // namespace ProgramHelp

#endif // LUSTBUS_PROGRAMHELP_H
