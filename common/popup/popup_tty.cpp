// Popups as prompts on the operator's terminal (terminal.h).
#include <cctype>
#include <cstdio>
#include <string>

#include "popup/popup.h"
#include "popup/terminal.h"

namespace {

std::string trimmedLower(const std::string& text) {
    std::string out;
    for (unsigned char ch : text)
        if (!std::isspace(ch)) out += static_cast<char>(std::tolower(ch));
    return out;
}

// A terminal that no one can see fails the popup at once, and says why.
bool opened(const Terminal& tty) {
    if (tty.open()) return true;
    static bool told = false;
    if (!tty.unavailableReason().empty() && !told) {
        std::fprintf(stderr, "popups: %s\n", tty.unavailableReason().c_str());
        told = true;
    }
    return false;
}

class TtyBackend : public PopupBackend {
public:
    int message(const char* title, const char* text) override {
        Terminal tty;
        if (!opened(tty)) return kPopupNoTerminal;
        tty.write(std::string("\n[") + title + "]\n" + text + "\nPress Enter to continue: ");
        std::string line;
        return tty.readLine(line) ? 0 : kPopupEndOfInput;
    }

    int confirm(const char* title, const char* text) override {
        Terminal tty;
        if (!opened(tty)) return kPopupNoTerminal;
        tty.write(std::string("\n[") + title + "]\n" + text + "\n");
        for (;;) {
            tty.write("Answer y (yes) or n (no): ");
            std::string line;
            if (!tty.readLine(line)) return kPopupEndOfInput;
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
