// Deadlines on the monotonic clock, exact to the nanosecond that the system's waits offer:
// a wait never ends early.
#pragma once

#include <ctime>

// The longest timeout taken: one hour. Longer, infinite or NaN timeouts are bad input,
// never a wait that outlives the test station's shift.
inline constexpr double kMaxTimeoutSeconds = 3600;

// The monotonic clock now.
timespec MonotonicNow();

// Now plus `seconds` (negative and NaN: now; above kMaxTimeoutSeconds: that).
timespec DeadlineAfter(double seconds);

// The earlier of two deadlines.
timespec Earlier(const timespec& a, const timespec& b);

// The time until `deadline`, 0 once it passed; in milliseconds rounded up.
timespec TimeLeft(const timespec& deadline);
long MillisecondsLeft(const timespec& deadline);

// POSIX (deadline_posix.cpp): waits for `events` on fd until the deadline. Returns the
// revents, 0 when the deadline passed first, or -1 on an error.
int WaitFor(int fd, short events, const timespec& deadline);
