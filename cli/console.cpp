#include "console.h"

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

bool errIsTerminal()
{
    return isatty(fileno(stderr)) == 1;
}

bool outIsTerminal()
{
    return isatty(fileno(stdout)) == 1;
}

int outColumns()
{
    winsize size{};
    if (!outIsTerminal() || ioctl(fileno(stdout), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace Console
