// Popups as prompts on the console (CONIN$ and CONOUT$), never on standard output; and
// whether the session has a desktop for gui popups.
#include <windows.h>

#include <cctype>
#include <string>

#include "popup.h"

namespace {

class Console {
public:
    Console() {
        in_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        out_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        // Answers typed before the popup appeared must not answer it.
        if (in_ != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(in_);
        SetConsoleOutputCP(CP_UTF8);  // the texts are UTF-8
    }
    ~Console() {
        if (in_ != INVALID_HANDLE_VALUE) CloseHandle(in_);
        if (out_ != INVALID_HANDLE_VALUE) CloseHandle(out_);
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    bool open() const { return in_ != INVALID_HANDLE_VALUE && out_ != INVALID_HANDLE_VALUE; }
    void write(const std::string& text) {
        DWORD n = 0;
        WriteFile(out_, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    }
    // Reads one line. False at end of input or on an error.
    bool readLine(std::string& line) {
        line.clear();
        for (;;) {
            char ch;
            DWORD n = 0;
            if (!ReadFile(in_, &ch, 1, &n, nullptr) || n == 0) return false;
            if (ch == '\n') return true;
            if (ch != '\r' && line.size() < 64) line += ch;  // an answer is short
        }
    }

private:
    HANDLE in_;
    HANDLE out_;
};

std::string trimmedLower(const std::string& text) {
    std::string out;
    for (unsigned char ch : text)
        if (!std::isspace(ch)) out += static_cast<char>(std::tolower(ch));
    return out;
}

class ConsoleBackend : public PopupBackend {
public:
    int message(const char* title, const char* text) override {
        Console console;
        if (!console.open()) return kPopupNoTerminal;
        console.write(std::string("\r\n[") + title + "]\r\n" + text + "\r\nPress Enter to continue: ");
        std::string line;
        return console.readLine(line) ? 0 : kPopupEndOfInput;
    }

    int confirm(const char* title, const char* text) override {
        Console console;
        if (!console.open()) return kPopupNoTerminal;
        console.write(std::string("\r\n[") + title + "]\r\n" + text + "\r\n");
        for (;;) {
            console.write("Answer y (yes) or n (no): ");
            std::string line;
            if (!console.readLine(line)) return kPopupEndOfInput;
            std::string answer = trimmedLower(line);
            if (answer == "y" || answer == "yes") return 1;
            if (answer == "n" || answer == "no") return 0;
        }
    }
};

}  // namespace

PopupBackend& TtyPopupBackend() {
    static ConsoleBackend backend;
    return backend;
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
