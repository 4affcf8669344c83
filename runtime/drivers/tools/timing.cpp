#include "timing.h"

#include <QtCore/QDateTime>

#include <cerrno>
#include <ctime>
#include <thread>

qint64 CurrentMSecs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void SleepMs(int ms)
{
    if (ms < 0)
        return;
    // A zero delay gives up the processor without arming a timer: nanosleep(0) would
    // still wait out the kernel's timer slack (about 50 us), longer than a whole
    // exchange costs the driver.
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    timespec left{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
