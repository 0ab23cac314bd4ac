// RS-232 port layer on POSIX termios. Ports are addressed by a logical number; every
// result is an integer and negative results are the ComError codes below.
#pragma once

#include <string>

enum ComError {
    kComBadPortNumber = -2,   // logical port number outside 1..kMaxComPorts
    kComNotOpen = -3,         // the logical port was never opened (or the open failed)
    kComCannotOpen = -4,      // the device is missing, not a terminal, or not accessible
    kComPortInUse = -5,       // another process holds the device
    kComBadSettings = -6,     // baud rate, parity, data or stop bits the driver refuses
    kComIoError = -7,         // the device failed or disappeared during a read or write
    kComWriteTimeout = -8,    // the device did not take the bytes within the timeout
};

constexpr int kMaxComPorts = 255;

// The fastest rate handed to a driver. Any rate from 1 up to it that the driver accepts
// works; a larger one is bad input (an overflowed number), refused as kComBadSettings.
constexpr long kMaxBaudRate = 50000000;

// Opens `deviceName` as logical `port` in raw mode with the given settings; bytes waiting
// before the open are discarded. parity: 0 none, 1 odd, 2 even. Queue sizes are accepted
// for compatibility; the driver's own queues are used. Returns 0 or a ComError.
int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);

// Sets the timeout of later reads and writes on `port`, in seconds (10 s until set).
int SetComTime(int port, double seconds);

// Lets a block read (ComRd) end early: once a byte has come and then `seconds` pass with
// no further byte. The timeout still bounds the whole read. 0 (the default) turns it off.
int SetComInterByteTime(int port, double seconds);

// Writes exactly `count` bytes. Returns the count written or a ComError.
int ComWrt(int port, const char* buffer, int count);

// Reads until `terminationByte` arrives, `maxCount` bytes are stored, or the timeout ends.
// The terminator is consumed but not stored; bytes after it stay for the next read.
// Returns the number of bytes stored (0 when nothing came) or a ComError.
int ComRdTerm(int port, char* buffer, int maxCount, int terminationByte);

// Reads until `maxCount` bytes are stored or the timeout ends. Same results as ComRdTerm.
int ComRd(int port, char* buffer, int maxCount);

// Closes `port`. Returns 0 or a ComError.
int CloseCom(int port);

// The file that a port name stands for: a name with "/" is a path; otherwise
// $STEPTOOLS_PORT_DIR/<name> (default /dev), falling back to /dev/ttyS<n-1> for COM<n>.
std::string ResolveComDevice(const std::string& name);

// A readable account of the last failure on any port, for messages on standard error.
const std::string& ComLastErrorText();
