#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "popup/popup.h"
#include "popup/terminal.h"

Terminal::Terminal() : in_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)), out_(in_) {
    if (in_ >= 0) tcflush(static_cast<int>(in_), TCIFLUSH);
}

Terminal::~Terminal() {
    if (in_ >= 0) close(static_cast<int>(in_));
}

bool Terminal::open() const {
    return in_ >= 0;
}

const std::string& Terminal::unavailableReason() const {
    return unavailable_;
}

void Terminal::write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(static_cast<int>(out_), text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool Terminal::readLine(std::string& line) {
    line.clear();
    char ch;
    for (;;) {
        ssize_t n = read(static_cast<int>(in_), &ch, 1);
        if (n <= 0) return false;
        if (ch == '\n' || ch == '\r') return true;
        if (line.size() < 64) line += ch;
    }
}

bool DesktopAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}
