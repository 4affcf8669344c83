// Prints projectDirectory() and databasePath() as seen from wherever this program lies;
// the lookup tests copy it into directories of their own making.
#include "tools/lookups.h"

#include <QtCore/QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%s\n%s\n", qPrintable(projectDirectory().absolutePath()), qPrintable(databasePath()));
    return 0;
}
