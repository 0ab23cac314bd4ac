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

Terminal::Terminal()
    : in_(reinterpret_cast<std::intptr_t>(openConsole("CONIN$"))),
      out_(reinterpret_cast<std::intptr_t>(openConsole("CONOUT$"))) {
    if (handle(in_) != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(handle(in_));
    SetConsoleOutputCP(CP_UTF8);  // the texts are UTF-8
}

Terminal::~Terminal() {
    if (handle(in_) != INVALID_HANDLE_VALUE) CloseHandle(handle(in_));
    if (handle(out_) != INVALID_HANDLE_VALUE) CloseHandle(handle(out_));
}

bool Terminal::open() const {
    return handle(in_) != INVALID_HANDLE_VALUE && handle(out_) != INVALID_HANDLE_VALUE;
}

void Terminal::write(const std::string& text) {
    DWORD n = 0;
    WriteFile(handle(out_), text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
}

bool Terminal::readLine(std::string& line) {
    line.clear();
    for (;;) {
        char ch;
        DWORD n = 0;
        if (!ReadFile(handle(in_), &ch, 1, &n, nullptr) || n == 0) return false;
        if (ch == '\n') return true;
        if (ch != '\r' && line.size() < 64) line += ch;
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
