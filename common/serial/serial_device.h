// The operating system's side of a serial port: open it with its settings, send, receive,
// close. serial_port.cpp builds the logical ports and their reads on it;
// serial_device_posix.cpp and serial_device_win32.cpp implement it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kNoDevice = -1;

// Opens `path` raw at `baud` (8N1 and the like: parity 0 none, 1 odd, 2 even), with no
// flow control, exclusive, and discards the bytes that waited in it. Returns 0 and the
// handle, or a ComError (its reason given to ComFail).
int OpenDevice(const std::string& path, long baud, int parity, int dataBits, int stopBits, DeviceHandle& device);

// Waits until `deadline` for bytes and appends what came to `into`. Returns the count
// added, 0 when the deadline passed first, or a ComError when the device failed or vanished.
int ReceiveFromDevice(DeviceHandle device, std::string& into, const timespec& deadline);

// Writes all `count` bytes by `deadline`. Returns the count or a ComError.
int SendToDevice(DeviceHandle device, const char* data, int count, const timespec& deadline);

void CloseDevice(DeviceHandle device);

// Keeps `text` as the reason of the last failure (ComLastErrorText) and returns `code`.
int ComFail(int code, const std::string& text);
