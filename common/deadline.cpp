#include "deadline.h"

#include <poll.h>

#include <cerrno>
#include <cmath>

timespec DeadlineAfter(double seconds) {
    if (!(seconds > 0)) seconds = 0;  // also catches NaN
    if (seconds > kMaxTimeoutSeconds) seconds = kMaxTimeoutSeconds;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    double whole = std::floor(seconds);
    ts.tv_sec += static_cast<time_t>(whole);
    ts.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

timespec Earlier(const timespec& a, const timespec& b) {
    if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? a : b;
    return a.tv_nsec <= b.tv_nsec ? a : b;
}

int WaitFor(int fd, short events, const timespec& deadline) {
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_sec -= 1;
            left.tv_nsec += 1000000000L;
        }
        if (left.tv_sec < 0) left = {0, 0};
        pollfd p{fd, events, 0};
        int r = ppoll(&p, 1, &left, nullptr);
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}
