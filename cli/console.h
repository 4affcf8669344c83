// The program's two output streams. Values and results go to standard output, so that
// they can be piped; notes, traces, progress and errors go to standard error.
//
// Both write straight to their file descriptors and keep the first failure: a reader
// that went away (EPIPE; SIGPIPE is ignored) or a full disk must end the program
// instead of going unnoticed (see Command::writeFailure).
#ifndef LUSTBUS_CONSOLE_H
#define LUSTBUS_CONSOLE_H

#include <QtCore/QString>
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

// Flushes both streams; then 0 while every write went through, or the errno of the
// first write that failed (EPIPE: the reader of a pipe went away).
int writeError();
// "standard output" or "standard error": where that write went.
QString failedStream();

} // namespace Console

#endif // LUSTBUS_CONSOLE_H
