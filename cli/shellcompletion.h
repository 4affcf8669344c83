// Completion for bash and zsh, made from the command table as --help is: commands,
// each command's options, files for PATH and FILE values, serial devices for DEVICE.
// The build runs "lustbus --completion bash" and "... zsh", so that a new command or
// option completes without a second list to keep.
#ifndef LUSTBUS_SHELLCOMPLETION_H
#define LUSTBUS_SHELLCOMPLETION_H

#include "command.h"

class ShellCompletion
{
public:
    static QStringList shells(); //!< bash, zsh
    // The script for shell; empty for a shell not in shells().
    static QString script(const QList<const Command *> &commands, const QString &shell);

private:
    static QString bash(const QList<const Command *> &commands);
    static QString zsh(const QList<const Command *> &commands);
};

#endif // LUSTBUS_SHELLCOMPLETION_H
