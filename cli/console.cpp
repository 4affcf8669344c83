#include "console.h"

#include <cstdio>

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

} // namespace Console
