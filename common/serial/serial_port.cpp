// Logical serial ports on top of the operating system's devices (serial_device.h): port
// numbers, timeouts, the bytes received but not yet read, terminated and block reads, and
// their step records.
#include "serial/serial_port.h"

#include <array>
#include <memory>
#include <string>

#include "os/deadline.h"
#include "serial/serial_device.h"
#include "record/step_record.h"

namespace {

struct Port {
    DeviceHandle device = kNoDevice;
    double timeoutSeconds = 10.0;
    double interByteSeconds = 0;  // 0: a block read waits for its count or the timeout
    std::string pending;        // bytes received but not yet handed to a read
    bool lineFeedEndsLastLine = false;  // the last terminated read ended at a CR
    double secondsPerByte = 0;  // on the wire: start, data, parity and stop bits at the baud rate
};

// What a write may take beyond its bytes' time on the wire (a driver's latency, a busy
// adapter): the bound that keeps a stuck device from holding the step for ever.
constexpr double kWriteMarginSeconds = 1.0;

// Allocated at the open: a table of ports built at start-up would touch its pages at every
// start, for the one port a program opens.
std::array<std::unique_ptr<Port>, kMaxComPorts + 1> ports;
std::string lastErrorText;

Port* openPort(int port, int* error) {
    if (port < 1 || port > kMaxComPorts) {
        *error = ComFail(kComBadPortNumber, "port number " + std::to_string(port) + " is out of range");
        return nullptr;
    }
    if (!ports[port]) {
        *error = ComFail(kComNotOpen, "port " + std::to_string(port) + " is not open");
        return nullptr;
    }
    return ports[port].get();
}

// Shared body of the two reads; terminator < 0 means none. `consumedTerminator` tells
// whether the read ended at the terminator.
int readReply(int port, char* buffer, int maxCount, int terminator, bool& consumedTerminator) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    if (maxCount < 0) maxCount = 0;
    timespec deadline = DeadlineAfter(p->timeoutSeconds);
    int stored = 0;
    size_t used = 0;  // bytes of p->pending consumed so far
    for (;;) {
        while (used < p->pending.size() && stored < maxCount) {
            unsigned char byte = static_cast<unsigned char>(p->pending[used++]);
            if (p->lineFeedEndsLastLine) {
                // A CR LF line end split across two reads: the LF belongs to the last line.
                p->lineFeedEndsLastLine = false;
                if (byte == '\n') continue;
            }
            if (terminator >= 0 && byte == static_cast<unsigned char>(terminator)) {
                p->pending.erase(0, used);
                p->lineFeedEndsLastLine = (terminator == '\r');
                consumedTerminator = true;
                return stored;
            }
            buffer[stored++] = static_cast<char>(byte);
        }
        p->pending.erase(0, used);
        used = 0;
        if (stored >= maxCount) return stored;
        timespec wait = deadline;
        if (terminator < 0 && stored > 0 && p->interByteSeconds > 0) wait = Earlier(deadline, DeadlineAfter(p->interByteSeconds));
        int got = ReceiveFromDevice(p->device, p->pending, wait);
        if (got == 0) return stored;
        if (got < 0) return got;
    }
}

int writeAll(int port, const char* buffer, int count) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    // A command goes out whole whatever the read timeout: a long command at a slow rate,
    // or a timeout of 0, must not be cut short.
    double wire = count * p->secondsPerByte + kWriteMarginSeconds;
    return SendToDevice(p->device, buffer, count, DeadlineAfter(p->timeoutSeconds > wire ? p->timeoutSeconds : wire));
}

// A read, with its record: the bytes it returned and the terminator it consumed.
int recordedRead(int port, char* buffer, int maxCount, int terminator) {
    double start = RecordClock();
    bool consumedTerminator = false;
    int r = readReply(port, buffer, maxCount, terminator, consumedTerminator);
    if (Recording()) {
        std::string bytes(buffer, static_cast<size_t>(r > 0 ? r : 0));
        if (consumedTerminator) bytes += static_cast<char>(terminator);
        RecordRead(start, bytes, r);
    }
    return r;
}

int openConfigured(int port, const std::string& path, long baudRate, int parity, int dataBits, int stopBits) {
    if (port < 1 || port > kMaxComPorts)
        return ComFail(kComBadPortNumber, "port number " + std::to_string(port) + " is out of range");
    if (ports[port]) CloseCom(port);
    if (baudRate < 1 || baudRate > kMaxBaudRate)
        return ComFail(kComBadSettings, "unsupported baud rate " + std::to_string(baudRate));
    if (dataBits < 5 || dataBits > 8) return ComFail(kComBadSettings, "unsupported data bits " + std::to_string(dataBits));
    if (parity < 0 || parity > 2 || (stopBits != 1 && stopBits != 2))
        return ComFail(kComBadSettings, "unsupported parity or stop bits");
    DeviceHandle device = kNoDevice;
    int r = OpenDevice(path, baudRate, parity, dataBits, stopBits, device);
    if (r < 0) return r;
    ports[port] = std::make_unique<Port>();
    ports[port]->device = device;
    ports[port]->secondsPerByte = (1.0 + dataBits + (parity != 0 ? 1 : 0) + stopBits) / static_cast<double>(baudRate);
    return 0;
}

}  // namespace

int ComFail(int code, const std::string& text) {
    lastErrorText = text;
    return code;
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int /*inputQueueSize*/, int /*outputQueueSize*/) {
    std::string path = ResolveComDevice(deviceName != nullptr ? deviceName : "");
    int r = openConfigured(port, path, baudRate, parity, dataBits, stopBits);
    RecordSerialLink(deviceName != nullptr ? deviceName : "", path, baudRate);
    RecordOpen(r);
    return r;
}

int SetComTime(int port, double seconds) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    p->timeoutSeconds = seconds > 0 ? seconds : 0;  // negative and NaN mean "do not wait"
    return 0;
}

int SetComInterByteTime(int port, double seconds) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    p->interByteSeconds = seconds > 0 ? seconds : 0;
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    double start = RecordClock();
    int r = writeAll(port, buffer, count);
    RecordSend(start, std::string_view(buffer, static_cast<size_t>(count > 0 ? count : 0)), r);
    return r;
}

int ComRdTerm(int port, char* buffer, int maxCount, int terminationByte) {
    return recordedRead(port, buffer, maxCount, terminationByte & 0xFF);
}

int ComRd(int port, char* buffer, int maxCount) {
    return recordedRead(port, buffer, maxCount, -1);
}

int CloseCom(int port) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    CloseDevice(p->device);
    ports[port].reset();
    return 0;
}

const std::string& ComLastErrorText() {
    return lastErrorText;
}
