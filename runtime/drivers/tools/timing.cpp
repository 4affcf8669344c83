#include "timing.h"

#include <QtCore/QDateTime>

#include <cerrno>
#include <ctime>

qint64 CurrentMSecs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void SleepMs(int ms)
{
    if (ms < 0)
        return;
    timespec left{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
