#include "console.h"

#include <QtCore/QByteArray>

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace Console {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

namespace {

// A terminal that TERM does not name, or names "dumb" (an editor's shell buffer, a
// serial console), shows escape sequences as garbage.
bool takesAnsiSequences(FILE *stream)
{
    if (isatty(fileno(stream)) != 1)
        return false;
    const QByteArray term = qgetenv("TERM");
    return !term.isEmpty() && term != "dumb";
}

} // namespace

bool errIsAnsiTerminal()
{
    return takesAnsiSequences(stderr);
}

bool outIsAnsiTerminal()
{
    return takesAnsiSequences(stdout);
}

int outColumns()
{
    winsize size{};
    if (isatty(fileno(stdout)) != 1 || ioctl(fileno(stdout), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace Console
