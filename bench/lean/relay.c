/* A minimal blocking relay between one TCP client and the terminal: what the client
 * sends goes to the terminal as it came (closing EOTs with it); after a request (up to
 * ENQ) the reply is read up to its checksum byte and sent back. One thread, no checks:
 * the yardstick for what a relayed exchange costs the gateway's process at least.
 * Prints the TCP port on 127.0.0.1, then serves one client and waits to be killed (so
 * that its counters can still be read).
 *   relay DEVICE */
#define _DEFAULT_SOURCE
#include "exchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static void end(int signal_number)
{
    (void)signal_number;
    _exit(0);
}

int main(int argc, char **argv)
{
    signal(SIGTERM, end);
    if (argc != 2) {
        fprintf(stderr, "usage: relay DEVICE\n");
        return 2;
    }
    int line = open(argv[1], O_RDWR | O_NOCTTY);
    if (line < 0) {
        perror("relay: open");
        return 1;
    }
    lean_make_raw(line);
    int server = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (server < 0 || bind(server, (struct sockaddr *)&address, sizeof address) != 0
        || listen(server, 1) != 0
        || getsockname(server, (struct sockaddr *)&address, &length) != 0) {
        perror("relay: listen");
        return 1;
    }
    printf("%d\n", ntohs(address.sin_port));
    fflush(stdout);
    int client = accept(server, NULL, NULL);
    if (client < 0) {
        perror("relay: accept");
        return 1;
    }
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    unsigned char in[256], reply[sizeof lean_reply];
    ssize_t n;
    while ((n = read(client, in, sizeof in)) > 0) {
        if (write(line, in, (size_t)n) != n)
            return 1;
        if (in[n - 1] != LEAN_ENQ)
            continue; /* a closing EOT alone */
        size_t got = 0;
        while (got < sizeof reply) {
            const ssize_t r = read(line, reply + got, sizeof reply - got);
            if (r <= 0)
                return 1;
            got += (size_t)r;
        }
        if (send(client, reply, got, 0) != (ssize_t)got)
            return 1;
    }
    pause();
    return 0;
}
