/* A minimal blocking master: one write of the request, reads until the checksum byte,
 * one write of the closing EOT, on the given terminal, for the given seconds. Prints
 * the exchanges per second.   master DEVICE SECONDS */
#define _DEFAULT_SOURCE
#define _XOPEN_SOURCE 600
#include "exchange.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double now_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: master DEVICE SECONDS\n");
        return 2;
    }
    lean_reply_init();
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror("master: open");
        return 1;
    }
    lean_make_raw(fd);
    const double seconds = atof(argv[2]);
    const unsigned char eot = LEAN_EOT;
    unsigned char reply[sizeof lean_reply];
    unsigned long done = 0;
    const double start = now_s();
    double now = start;
    while (now - start < seconds) {
        if (write(fd, lean_request, sizeof lean_request) != (ssize_t)sizeof lean_request)
            return 1;
        size_t got = 0;
        while (got < sizeof reply) {
            ssize_t n = read(fd, reply + got, sizeof reply - got);
            if (n <= 0)
                return 1;
            got += (size_t)n;
        }
        if (reply[sizeof reply - 1] != lean_reply[sizeof reply - 1])
            return 1;
        if (write(fd, &eot, 1) != 1)
            return 1;
        ++done;
        now = now_s();
    }
    printf("%.0f\n", done / (now - start));
    return 0;
}
