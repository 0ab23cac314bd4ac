// Arbitrary baud rates on Linux through termios2 and BOTHER. The kernel's termios2 header
// clashes with glibc's <termios.h>, so this lives in a file of its own.
#include "serial/serial_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

long SetArbitraryBaud(int fd, long baud) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    if (ioctl(fd, TCSETS2, &tio) != 0) return -1;
    // The driver writes back the rate it really runs at (a driver that cannot do the rate
    // may fall back to another one).
    return TerminalBaud(fd);
}

long TerminalBaud(int fd) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    return static_cast<long>(tio.c_ospeed);
}
