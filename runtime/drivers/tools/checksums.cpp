#include "checksums.h"

quint8 xorChecksum(const char *bytes, int length)
{
    quint8 sum = 0;
    for (int i = 0; i < length; ++i)
        sum ^= quint8(bytes[i]);
    return sum;
}
