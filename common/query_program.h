// What the three operator-query programs share: the usage error, the choice of link and
// opening it, and the verdict line.
#pragma once

#include <string>

#include "arguments.h"

inline constexpr const char* kUsageText =
    "Usage: opquery <yesnotext> [message text] [serial input] [serial command] [comport,baudrate]";

// Shows the usage popup, prints "-1\n" and returns -1: a usage error is never a pass.
int UsageError();

// A port specification whose first character is "C" (upper case only) names a serial port;
// so does a device path ("/dev/ttyUSB0"), which can never be a host name.
bool IsSerialLink(const std::string& comport);

// Opens the Telnet link to `host`, port `number`. A number outside 1..65535 fails instead
// of wrapping to another port. Prints the reason of a failure on standard error.
int OpenTelnetLink(const char* program, const std::string& host, int number);

// Opens serial port 1 as the query programs do (8N1, queues of 512); prints the reason of
// a failure on standard error. Returns the open's result.
int OpenSerialLink(const char* program, const std::string& device, int baud);

// The end of a run whose Telnet connection did not open: the "ETH Communication error"
// popup, "-1\n", and 0 as the exit status, as stations have always read it.
int TelnetOpenFailure();

// Sends `bytes` and then `terminator` on serial port 1 or on Telnet connection `c`.
// Failures are not reported: they show at the read.
void SendOnLink(bool serial, int c, const std::string& bytes, const char* terminator, double timeout);

// The end of a run whose read failed: the "Communication error" popup and the verdict -1.
int CommunicationError();

// Prints the verdict line with "%d\n" and returns it.
int PrintVerdict(int verdict);
