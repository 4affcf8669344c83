// The program's two output streams. Values and results go to standard output, so that
// they can be piped; notes, traces, progress and errors go to standard error.
#ifndef LUSTBUS_CONSOLE_H
#define LUSTBUS_CONSOLE_H

#include <QtCore/QTextStream>

namespace Console {

QTextStream &out();
QTextStream &err();
// Whether standard error, or standard output, is a terminal that takes ANSI cursor
// and erase sequences: a tty, with TERM set and not "dumb". Only there does a progress
// bar redraw its line or watch its table; everywhere else the output is plain lines.
bool errIsAnsiTerminal();
bool outIsAnsiTerminal();
// The width of standard output in columns: 0 when it is no terminal or does not tell.
int outColumns();

} // namespace Console

#endif // LUSTBUS_CONSOLE_H
