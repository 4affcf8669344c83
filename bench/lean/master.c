/* A minimal blocking master: one write of the request, reads until the checksum byte,
 * one write of the closing EOT, on the given terminal, for the given seconds. Prints
 * the exchanges per second.
 *   master DEVICE SECONDS [LOG]
 * With LOG it also makes the system calls that the driver's rules and `lustbus watch`
 * add to an exchange, and nothing else: the yield of the zero delay, the look for
 * pending input, the wait on the device before each read, and one line to LOG. That is
 * the floor for the stack on this machine. */
#define _DEFAULT_SOURCE
#define _XOPEN_SOURCE 600
#include "exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
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
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: master DEVICE SECONDS [LOG]\n");
        return 2;
    }
    lean_reply_init();
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror("master: open");
        return 1;
    }
    lean_make_raw(fd);
    const int log = argc == 4 ? open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    if (argc == 4 && log < 0) {
        perror("master: open the log");
        return 1;
    }
    static const char line[] = "2026-12-08T01:20:01.042Z,INT16:12,42,\n";
    struct pollfd device = {fd, POLLIN, 0};
    const double seconds = atof(argv[2]);
    const unsigned char eot = LEAN_EOT;
    unsigned char reply[sizeof lean_reply];
    unsigned long done = 0;
    const double start = now_s();
    double now = start;
    while (now - start < seconds) {
        if (log >= 0) {
            sched_yield();
            if (poll(&device, 1, 0) != 0)
                return 1;
        }
        if (write(fd, lean_request, sizeof lean_request) != (ssize_t)sizeof lean_request)
            return 1;
        size_t got = 0;
        while (got < sizeof reply) {
            if (log >= 0 && poll(&device, 1, 500) != 1)
                return 1;
            ssize_t n = read(fd, reply + got, sizeof reply - got);
            if (n <= 0)
                return 1;
            got += (size_t)n;
        }
        if (reply[sizeof reply - 1] != lean_reply[sizeof reply - 1])
            return 1;
        if (write(fd, &eot, 1) != 1)
            return 1;
        if (log >= 0 && write(log, line, sizeof line - 1) != (ssize_t)(sizeof line - 1))
            return 1;
        ++done;
        now = now_s();
    }
    printf("%.0f\n", done / (now - start));
    return 0;
}
