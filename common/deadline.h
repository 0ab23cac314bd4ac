// Deadlines on the monotonic clock and waiting for a file descriptor until one, exact to
// the nanosecond that ppoll offers: a wait never ends early.
#pragma once

#include <ctime>

// The longest timeout taken: one hour. Longer, infinite or NaN timeouts are bad input,
// never a wait that outlives the test station's shift.
inline constexpr double kMaxTimeoutSeconds = 3600;

// Now plus `seconds` (negative and NaN: now; above kMaxTimeoutSeconds: that).
timespec DeadlineAfter(double seconds);

// The earlier of two deadlines.
timespec Earlier(const timespec& a, const timespec& b);

// Waits for `events` on fd until the deadline. Returns the revents, 0 when the deadline
// passed first, or -1 on an error.
int WaitFor(int fd, short events, const timespec& deadline);
