#include <windows.h>

#include "popup/popup.h"
#include "popup/terminal.h"

namespace {

HANDLE openConsole(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

HANDLE handle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace

// The console is the operator's only where a person can see it: a process started with
// CREATE_NO_WINDOW has a console without a window, and a service's window station has no
// desktop. A prompt there would wait for nobody, so the popup fails at once.
Terminal::Terminal() : in_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)), out_(in_) {
    if (!DesktopAvailable()) {
        unavailable_ = "the window station is not interactive: no operator can see the console";
        return;
    }
    if (GetConsoleWindow() == nullptr) {
        unavailable_ = "the console has no window: no operator can see it";
        return;
    }
    in_ = reinterpret_cast<std::intptr_t>(openConsole("CONIN$"));
    out_ = reinterpret_cast<std::intptr_t>(openConsole("CONOUT$"));
    if (handle(in_) != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(handle(in_));
}

Terminal::~Terminal() {
    if (handle(in_) != INVALID_HANDLE_VALUE) CloseHandle(handle(in_));
    if (handle(out_) != INVALID_HANDLE_VALUE) CloseHandle(handle(out_));
}

bool Terminal::open() const {
    return handle(in_) != INVALID_HANDLE_VALUE && handle(out_) != INVALID_HANDLE_VALUE;
}

const std::string& Terminal::unavailableReason() const {
    return unavailable_;
}

// In UTF-16 through the console itself: the console's code page, which is the caller's,
// stays as it was.
void Terminal::write(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    DWORD written = 0;
    if (!WriteConsoleW(handle(out_), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
        WriteFile(handle(out_), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool Terminal::readLine(std::string& line) {
    line.clear();
    for (;;) {
        wchar_t ch;
        DWORD n = 0;
        if (!ReadConsoleW(handle(in_), &ch, 1, &n, nullptr)) {
            char byte;
            if (!ReadFile(handle(in_), &byte, 1, &n, nullptr) || n == 0) return false;
            ch = static_cast<unsigned char>(byte);
        }
        if (n == 0) return false;
        if (ch == L'\n') return true;
        if (ch == L'\r' || line.size() >= 64) continue;
        char utf8[4];
        int k = WideCharToMultiByte(CP_UTF8, 0, &ch, 1, utf8, sizeof utf8, nullptr, nullptr);
        if (k > 0) line.append(utf8, static_cast<size_t>(k));
    }
}

// An interactive window station (not a service's). user32 is loaded here, at the first
// popup, not at every start.
bool DesktopAvailable() {
    HMODULE user32 = LoadLibraryA("user32.dll");
    if (user32 == nullptr) return false;
    auto station = reinterpret_cast<HWINSTA(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetProcessWindowStation")));
    auto info = reinterpret_cast<BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetUserObjectInformationA")));
    if (station == nullptr || info == nullptr) return false;
    USEROBJECTFLAGS flags{};
    return info(station(), UOI_FLAGS, &flags, sizeof flags, nullptr) && (flags.dwFlags & WSF_VISIBLE);
}
