#include "os/deadline.h"

#include <chrono>
#include <cmath>

timespec MonotonicNow() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto whole = std::chrono::duration_cast<std::chrono::seconds>(now);
    timespec ts;
    ts.tv_sec = static_cast<time_t>(whole.count());
    ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - whole).count());
    return ts;
}

timespec DeadlineAfter(double seconds) {
    if (!(seconds > 0)) seconds = 0;  // also catches NaN
    if (seconds > kMaxTimeoutSeconds) seconds = kMaxTimeoutSeconds;
    timespec ts = MonotonicNow();
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

timespec TimeLeft(const timespec& deadline) {
    timespec now = MonotonicNow();
    timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += 1000000000L;
    }
    if (left.tv_sec < 0) left = {0, 0};
    return left;
}

long MillisecondsLeft(const timespec& deadline) {
    timespec left = TimeLeft(deadline);
    // Rounded up: a wait never ends before its deadline.
    return static_cast<long>(left.tv_sec) * 1000 + (left.tv_nsec + 999999) / 1000000;
}
