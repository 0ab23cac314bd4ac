// Serial devices on POSIX termios (Linux): raw mode, exclusive through flock, any baud
// rate the driver accepts (serial_baud.h), waits on ppoll.
#include "serial/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/deadline.h"
#include "serial/serial_baud.h"
#include "serial/serial_port.h"

namespace {

int failErrno(int code, const std::string& what) {
    return ComFail(code, what + ": " + std::strerror(errno));
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

int OpenDevice(const std::string& path, long baudRate, int parity, int dataBits, int stopBits, DeviceHandle& device) {
    speed_t speed = speedConstant(baudRate);  // B0: not in the table, set as an arbitrary rate
    tcflag_t size = dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failErrno(kComCannotOpen, "cannot open " + path);
    // Exclusive, as a COM port is: a second holder gets an open failure, not shared bytes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return ComFail(kComPortInUse, path + " is in use by another program");
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
        return ComFail(kComBadSettings, path + " refuses " + std::to_string(baudRate) + " baud");
    }
    tcflush(fd, TCIFLUSH);
    device = fd;
    return 0;
}

int ReceiveFromDevice(DeviceHandle device, std::string& into, const timespec& deadline) {
    int fd = static_cast<int>(device);
    for (;;) {
        int revents = WaitFor(fd, POLLIN, deadline);
        if (revents == 0) return 0;
        if (revents < 0) return failErrno(kComIoError, "waiting for the device");
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, static_cast<size_t>(n));
            return static_cast<int>(n);
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (revents & (POLLHUP | POLLERR | POLLNVAL)) break;
            continue;
        }
        break;  // end of file or an I/O error: the device is gone
    }
    return ComFail(kComIoError, "the device disappeared during the read");
}

int SendToDevice(DeviceHandle device, const char* data, int count, const timespec& deadline) {
    int fd = static_cast<int>(device);
    int written = 0;
    while (written < count) {
        ssize_t n = write(fd, data + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return failErrno(kComIoError, "writing to the device");
        int revents = WaitFor(fd, POLLOUT, deadline);
        if (revents == 0) return ComFail(kComWriteTimeout, "the device took no more bytes within the timeout");
        if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)))
            return ComFail(kComIoError, "the device disappeared during the write");
    }
    return written;
}

void CloseDevice(DeviceHandle device) {
    close(static_cast<int>(device));
}
