#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "deadline.h"
#include "serial_baud.h"
#include "step_record.h"

namespace {

struct Port {
    int fd = -1;
    double timeoutSeconds = 10.0;
    double interByteSeconds = 0;  // 0: a block read waits for its count or the timeout
    std::string pending;        // bytes received but not yet handed to a read
    bool lineFeedEndsLastLine = false;  // the last terminated read ended at a CR
};

std::array<Port, kMaxComPorts + 1> ports;
std::string lastErrorText;

int fail(int code, const std::string& text) {
    lastErrorText = text;
    return code;
}

int failErrno(int code, const std::string& what) {
    return fail(code, what + ": " + std::strerror(errno));
}

Port* openPort(int port, int* error) {
    if (port < 1 || port > kMaxComPorts) {
        *error = fail(kComBadPortNumber, "port number " + std::to_string(port) + " is out of range");
        return nullptr;
    }
    if (ports[port].fd < 0) {
        *error = fail(kComNotOpen, "port " + std::to_string(port) + " is not open");
        return nullptr;
    }
    return &ports[port];
}

speed_t speedConstant(long baud) {
    switch (baud) {
        case 50: return B50;
        case 75: return B75;
        case 110: return B110;
        case 134: return B134;
        case 150: return B150;
        case 200: return B200;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 1800: return B1800;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 500000: return B500000;
        case 576000: return B576000;
        case 921600: return B921600;
        case 1000000: return B1000000;
        case 1152000: return B1152000;
        case 1500000: return B1500000;
        case 2000000: return B2000000;
        case 2500000: return B2500000;
        case 3000000: return B3000000;
        case 3500000: return B3500000;
        case 4000000: return B4000000;
        default: return B0;
    }
}

// A driver that runs an arbitrary rate a little off still talks to the device: UARTs
// tolerate about 2 % between the two ends. One that fell back to another rate does not.
bool rateCloseEnough(long actual, long wanted) {
    return actual > 0 && std::labs(actual - wanted) * 50 <= wanted;
}

// Appends newly arrived bytes to the port's pending bytes. Returns the number added,
// 0 when the deadline passed first, or a ComError when the device failed or vanished.
int receiveMore(Port& p, const timespec& deadline) {
    for (;;) {
        int revents = WaitFor(p.fd, POLLIN, deadline);
        if (revents == 0) return 0;
        if (revents < 0) return failErrno(kComIoError, "waiting for the device");
        char chunk[4096];
        ssize_t n = read(p.fd, chunk, sizeof chunk);
        if (n > 0) {
            p.pending.append(chunk, static_cast<size_t>(n));
            return static_cast<int>(n);
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (revents & (POLLHUP | POLLERR | POLLNVAL)) break;
            continue;
        }
        break;  // end of file or an I/O error: the device is gone
    }
    return fail(kComIoError, "the device disappeared during the read");
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
        int got = receiveMore(*p, wait);
        if (got == 0) return stored;
        if (got < 0) return got;
    }
}

int writeAll(int port, const char* buffer, int count) {
    int error = 0;
    Port* p = openPort(port, &error);
    if (p == nullptr) return error;
    timespec deadline = DeadlineAfter(p->timeoutSeconds);
    int written = 0;
    while (written < count) {
        ssize_t n = write(p->fd, buffer + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return failErrno(kComIoError, "writing to the device");
        int revents = WaitFor(p->fd, POLLOUT, deadline);
        if (revents == 0) return fail(kComWriteTimeout, "the device took no more bytes within the timeout");
        if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)))
            return fail(kComIoError, "the device disappeared during the write");
    }
    return written;
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
        return fail(kComBadPortNumber, "port number " + std::to_string(port) + " is out of range");
    if (ports[port].fd >= 0) CloseCom(port);

    if (baudRate < 1 || baudRate > kMaxBaudRate)
        return fail(kComBadSettings, "unsupported baud rate " + std::to_string(baudRate));
    speed_t speed = speedConstant(baudRate);  // B0: not in the table, set as an arbitrary rate
    tcflag_t size;
    switch (dataBits) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return fail(kComBadSettings, "unsupported data bits " + std::to_string(dataBits));
    }
    if (parity < 0 || parity > 2 || (stopBits != 1 && stopBits != 2))
        return fail(kComBadSettings, "unsupported parity or stop bits");

    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failErrno(kComCannotOpen, "cannot open " + path);
    // Exclusive, as a COM port is: a second holder gets an open failure, not shared bytes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return fail(kComPortInUse, path + " is in use by another program");
    }
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        int code = failErrno(kComCannotOpen, path + " is not a serial device");
        close(fd);
        return code;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | CLOCAL | CREAD;
    if (parity != 0) tio.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
    if (stopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    // An arbitrary rate is set after the raw settings; until then the port keeps its old
    // rate (B0 would hang the line up).
    speed_t tableSpeed = speed != B0 ? speed : cfgetospeed(&tio) != B0 ? cfgetospeed(&tio) : B9600;
    cfsetispeed(&tio, tableSpeed);
    cfsetospeed(&tio, tableSpeed);
    termios check;
    bool taken = tcsetattr(fd, TCSANOW, &tio) == 0 && tcgetattr(fd, &check) == 0 && cfgetospeed(&check) == tableSpeed;
    if (taken && speed == B0) taken = rateCloseEnough(SetArbitraryBaud(fd, baudRate), baudRate);
    if (!taken) {
        close(fd);
        return fail(kComBadSettings, path + " refuses " + std::to_string(baudRate) + " baud");
    }
    tcflush(fd, TCIFLUSH);

    ports[port] = Port{};
    ports[port].fd = fd;
    return 0;
}

}  // namespace

std::string ResolveComDevice(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* dir = std::getenv("STEPTOOLS_PORT_DIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/dev") + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return path;
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
        long n = std::strtol(name.c_str() + 3, nullptr, 10);
        if (n >= 1 && n <= 4096) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return path;
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
    close(p->fd);
    *p = Port{};
    return 0;
}

const std::string& ComLastErrorText() {
    return lastErrorText;
}
