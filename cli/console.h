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
// Whether standard error, or standard output, is a terminal that takes ANSI cursor
// and erase sequences: a tty, with TERM set and not "dumb". Only there does a progress
// bar redraw its line or watch its table; everywhere else the output is plain lines.
bool errIsAnsiTerminal();
bool outIsAnsiTerminal();
// The width of standard output in columns: 0 when it is no terminal or does not tell.
int outColumns();

// Flushes both streams; then 0 while every write went through, or the errno of the
// first write that failed (EPIPE: the reader of a pipe went away).
int writeError();
// "standard output" or "standard error": where that write went.
QString failedStream();

} // namespace Console

#endif // LUSTBUS_CONSOLE_H
