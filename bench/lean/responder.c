/* A minimal blocking responder on a pseudo-terminal: one thread, blocking reads and
 * writes. For each read request (up to ENQ) it writes the data reply at once, then
 * reads the closing EOT. Prints the terminal's name, then serves one master after the
 * other until killed: it holds the terminal's other side open itself, so that a master
 * that closes it does not end the line. */
#define _DEFAULT_SOURCE
#define _XOPEN_SOURCE 600
#include "exchange.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int read_byte(int fd, unsigned char *b)
{
    return read(fd, b, 1) == 1;
}

int main(void)
{
    lean_reply_init();
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        perror("responder: posix_openpt");
        return 1;
    }
    lean_make_raw(fd);
    const char *name = ptsname(fd);
    if (!name || open(name, O_RDWR | O_NOCTTY) < 0) {
        perror("responder: open the terminal");
        return 1;
    }
    printf("%s\n", name);
    fflush(stdout);

    unsigned char b;
    unsigned char seen[64];
    size_t n = 0;
    while (read_byte(fd, &b)) {
        if (b == LEAN_EOT && n == 0) /* a closing EOT or the start of a request */
            continue;
        if (n < sizeof seen)
            seen[n++] = b;
        if (b != LEAN_ENQ)
            continue;
        n = 0;
        if (write(fd, lean_reply, sizeof lean_reply) != (ssize_t)sizeof lean_reply)
            break;
    }
    return 1;
}
