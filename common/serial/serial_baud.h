// Baud rates beyond the classic termios table (14400, 31250, 250000, ...), set through the
// driver's arbitrary-rate interface.
#pragma once

// Asks the terminal `fd` for `baud` in both directions and returns the rate the driver then
// reports, or -1 (errno set) when it refuses the request.
long SetArbitraryBaud(int fd, long baud);

// The output rate that the terminal `fd` runs at, or -1 (errno set).
long TerminalBaud(int fd);
