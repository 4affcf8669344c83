// Time and sleep.
#ifndef TOOLS_TIMING_H
#define TOOLS_TIMING_H

#include <QtCore/QtGlobal>

// Milliseconds since 1970-01-01 00:00 UTC.
qint64 CurrentMSecs();

// Blocks the calling thread for ms milliseconds, resuming after signals until the
// time is up. A negative count does not wait at all: hosts that pass an unset delay
// as -1 must not hang. Zero only yields the processor to other threads.
void SleepMs(int ms);

#endif // TOOLS_TIMING_H
