// Serial devices on Win32: \\.\COMn, exclusive (no sharing), input purged at the open,
// reads a byte at a time with the time left as the total timeout, so a terminated read
// returns at its terminator and never waits past its deadline.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "os/deadline.h"
#include "serial/serial_device.h"
#include "serial/serial_port.h"

namespace {

HANDLE handleOf(DeviceHandle device) {
    return reinterpret_cast<HANDLE>(device);
}

int failLastError(int code, const std::string& what) {
    return ComFail(code, what + " (Windows error " + std::to_string(GetLastError()) + ")");
}

// "COMn" for a COM port name in any letter case, with or without a trailing colon (com12,
// COM12:), as Windows itself takes them; empty for any other name.
std::string comName(const std::string& name) {
    std::string n = name;
    if (!n.empty() && n.back() == ':') n.pop_back();
    if (n.size() <= 3 || _strnicmp(n.c_str(), "COM", 3) != 0 || n.find_first_not_of("0123456789", 3) != std::string::npos)
        return "";
    return "COM" + n.substr(3);
}

// A folder given as a Unix path (as under Wine, where the tests give their pseudo-terminals
// this way) is reached through Wine's drive Z:, which is the Unix root.
std::string windowsFolder(std::string dir) {
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
    for (char& ch : dir)
        if (ch == '/') ch = '\\';
    return dir;
}

bool setTimeouts(HANDLE h, const timespec& deadline, bool forWrite) {
    COMMTIMEOUTS t{};
    long ms = MillisecondsLeft(deadline);
    if (forWrite) {
        t.WriteTotalTimeoutConstant = static_cast<DWORD>(ms > 0 ? ms : 1);
    } else if (ms <= 0) {
        t.ReadIntervalTimeout = MAXDWORD;  // return at once with what is there
    } else {
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(ms);
    }
    return SetCommTimeouts(h, &t) != 0;
}

}  // namespace

std::string ResolveComDevice(const std::string& name) {
    if (name.find_first_of("\\/") != std::string::npos) return name;
    std::string com = comName(name);
    const char* dir = std::getenv("STEPTOOLS_PORT_DIR");
    if (dir != nullptr && *dir != '\0') {
        // Looked up by its plain name, opened through \\?\ (Wine opens a device file only so).
        // (also the look-up: without \\?\ a name such as COM7 is the device, wherever it is).
        std::string path = "\\\\?\\" + windowsFolder(dir) + "\\" + (com.empty() ? name : com);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path.c_str(), &found);  // Wine gives a pty link no attributes
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            return path;
        }
    }
    if (!com.empty()) return "\\\\.\\" + com;  // COM10 and above need the device namespace
    return name;
}

int OpenDevice(const std::string& path, long baudRate, int parity, int dataBits, int stopBits, DeviceHandle& device) {
    // Sharing mode 0: the port is exclusive, as COM ports are.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return ComFail(kComPortInUse, path + " is in use by another program");
        return failLastError(kComCannotOpen, "cannot open " + path);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        int code = failLastError(kComCannotOpen, path + " is not a serial device");
        CloseHandle(h);
        return code;
    }
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.Parity = parity == 1 ? ODDPARITY : parity == 2 ? EVENPARITY : NOPARITY;
    dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = parity != 0;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    DCB check{};
    check.DCBlength = sizeof check;
    if (!SetCommState(h, &dcb) || !GetCommState(h, &check) ||
        std::labs(static_cast<long>(check.BaudRate) - baudRate) * 50 > baudRate) {
        CloseHandle(h);
        return ComFail(kComBadSettings, path + " refuses " + std::to_string(baudRate) + " baud");
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_RXABORT);
    device = reinterpret_cast<DeviceHandle>(h);
    return 0;
}

int ReceiveFromDevice(DeviceHandle device, std::string& into, const timespec& deadline) {
    HANDLE h = handleOf(device);
    for (;;) {
        if (!setTimeouts(h, deadline, false)) return failLastError(kComIoError, "setting the read timeout");
        char byte;
        DWORD got = 0;
        if (!ReadFile(h, &byte, 1, &got, nullptr)) return failLastError(kComIoError, "the device failed during the read");
        DWORD errors = 0;
        if (ClearCommError(h, &errors, nullptr) && (errors & (CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_RXPARITY)))
            return ComFail(kComIoError, "the device reported a line error during the read");
        if (got == 1) {
            into += byte;
            return 1;
        }
        if (MillisecondsLeft(deadline) <= 0) return 0;  // a timeout that ended early is waited out
    }
}

int SendToDevice(DeviceHandle device, const char* data, int count, const timespec& deadline) {
    HANDLE h = handleOf(device);
    if (!setTimeouts(h, deadline, true)) return failLastError(kComIoError, "setting the write timeout");
    DWORD written = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(count), &written, nullptr))
        return failLastError(kComIoError, "writing to the device");
    if (written < static_cast<DWORD>(count)) return ComFail(kComWriteTimeout, "the device took no more bytes within the timeout");
    return static_cast<int>(written);
}

void CloseDevice(DeviceHandle device) {
    CloseHandle(handleOf(device));
}
