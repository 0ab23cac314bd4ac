/* The floor of one query step: open the port, write the command, read the reply up to the
 * carriage return and compare. Nothing else: no argument checks beyond need, no popups.
 *   floor <device path> <command> <expected> */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 2;
    struct termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIFLUSH);
    char command[256];
    int n = snprintf(command, sizeof command, "%s\r", argv[2]);
    if (write(fd, command, (size_t)n) != n) return 2;
    char reply[256];
    size_t got = 0;
    while (got < sizeof reply - 1) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) break;
        char ch;
        if (read(fd, &ch, 1) != 1) break;
        if (ch == '\r') break;
        reply[got++] = ch;
    }
    reply[got] = '\0';
    int verdict = strncmp(reply, argv[3], strlen(argv[3])) == 0;
    printf("%d\n", verdict);
    return verdict;
}
