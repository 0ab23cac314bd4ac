// Popups as prompts on the controlling terminal (/dev/tty), never on standard output; and
// whether a desktop is there for gui popups.
#include "popup.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Reads one line from the terminal. False at end of input or on an error.
bool readLine(int fd, std::string& line) {
    line.clear();
    char ch;
    for (;;) {
        ssize_t n = read(fd, &ch, 1);
        if (n <= 0) return false;
        if (ch == '\n' || ch == '\r') return true;
        if (line.size() < 64) line += ch;  // an answer is short; ignore the rest of a long line
    }
}

std::string trimmedLower(const std::string& text) {
    std::string out;
    for (unsigned char ch : text)
        if (!std::isspace(ch)) out += static_cast<char>(std::tolower(ch));
    return out;
}

class Terminal {
public:
    Terminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        // Answers typed before the popup appeared must not answer it.
        if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
    }
    ~Terminal() {
        if (fd_ >= 0) close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

class TtyBackend : public PopupBackend {
public:
    int message(const char* title, const char* text) override {
        Terminal tty;
        if (tty.fd() < 0) return kPopupNoTerminal;
        writeAll(tty.fd(), std::string("\n[") + title + "]\n" + text + "\nPress Enter to continue: ");
        std::string line;
        return readLine(tty.fd(), line) ? 0 : kPopupEndOfInput;
    }

    int confirm(const char* title, const char* text) override {
        Terminal tty;
        if (tty.fd() < 0) return kPopupNoTerminal;
        writeAll(tty.fd(), std::string("\n[") + title + "]\n" + text + "\n");
        for (;;) {
            writeAll(tty.fd(), "Answer y (yes) or n (no): ");
            std::string line;
            if (!readLine(tty.fd(), line)) return kPopupEndOfInput;
            std::string answer = trimmedLower(line);
            if (answer == "y" || answer == "yes") return 1;
            if (answer == "n" || answer == "no") return 0;
        }
    }
};

}  // namespace

PopupBackend& TtyPopupBackend() {
    static TtyBackend backend;
    return backend;
}

bool DesktopAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}
