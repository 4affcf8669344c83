// The program's two output streams. Values and results go to standard output, so that
// they can be piped; notes, traces, progress and errors go to standard error.
#ifndef LUSTBUS_CONSOLE_H
#define LUSTBUS_CONSOLE_H

#include <QtCore/QTextStream>

namespace Console {

QTextStream &out();
QTextStream &err();
// Whether standard error is a terminal (where a progress bar can redraw its line).
bool errIsTerminal();
// Whether standard output is a terminal (where watch redraws its table), and its width
// in columns: 0 when it is no terminal or does not tell.
bool outIsTerminal();
int outColumns();

} // namespace Console

#endif // LUSTBUS_CONSOLE_H
