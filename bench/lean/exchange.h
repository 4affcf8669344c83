/* The bytes of one simple read of parameter 12 on station 1, shared by the minimal
 * responder and the minimal master. They are kept as one visible table instead of
 * coming from the wire codec: both programs stay plain blocking C, a yardstick of
 * what the line itself costs, with nothing of the project's stack in them. The
 * byte-exact tests of the codec hold the same telegrams. */
#ifndef LEAN_EXCHANGE_H
#define LEAN_EXCHANGE_H

#include <stddef.h>
#include <termios.h>

enum { LEAN_EOT = 0x04, LEAN_ENQ = 0x05, LEAN_STX = 0x02, LEAN_ETX = 0x03 };

/* EOT, station 'A', "20", parameter "012", ENQ */
static const unsigned char lean_request[] = {LEAN_EOT, 'A', '2', '0', '0', '1', '2', LEAN_ENQ};

/* Station 'A', STX, text "012=002A", ETX, then the checksum byte: the XOR of the text
 * and the ETX, filled in by lean_reply_init(). */
static unsigned char lean_reply[] = {'A', LEAN_STX, '0', '1', '2', '=', '0', '0', '2', 'A',
                                     LEAN_ETX, 0};

static void lean_reply_init(void)
{
    unsigned char sum = 0;
    for (size_t i = 2; i + 1 < sizeof lean_reply; ++i)
        sum ^= lean_reply[i];
    lean_reply[sizeof lean_reply - 1] = sum;
}

/* Bytes pass unchanged: no echo, no line editing, no translation. */
static void lean_make_raw(int fd)
{
    struct termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}

#endif
