#include <poll.h>

#include <cerrno>

#include "os/deadline.h"

int WaitFor(int fd, short events, const timespec& deadline) {
    for (;;) {
        timespec left = TimeLeft(deadline);
        pollfd p{fd, events, 0};
        int r = ppoll(&p, 1, &left, nullptr);
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}
