// The commands of lustbus, each in a source file of its own; the command table lists
// them in the order of this list, which is the order of the overview and the man page.
#ifndef LUSTBUS_COMMANDS_H
#define LUSTBUS_COMMANDS_H

#include "command.h"

#include <memory>

namespace Commands {

std::unique_ptr<Command> info();
std::unique_ptr<Command> read();
std::unique_ptr<Command> write();
std::unique_ptr<Command> scan();
std::unique_ptr<Command> watch();
std::unique_ptr<Command> list();
std::unique_ptr<Command> backup();
std::unique_ptr<Command> restore();
std::unique_ptr<Command> diff();
std::unique_ptr<Command> ports();
std::unique_ptr<Command> simulate();
std::unique_ptr<Command> gateway();
std::unique_ptr<Command> bridge();
std::unique_ptr<Command> web();
std::unique_ptr<Command> demo();

} // namespace Commands

#endif // LUSTBUS_COMMANDS_H
