// The operator's terminal for the tty popups: the controlling terminal (/dev/tty) on Linux,
// the console (CONIN$, CONOUT$) on Windows; never standard output. terminal_posix.cpp and
// terminal_win32.cpp implement it, with the check for a desktop that gui popups need.
#pragma once

#include <cstdint>
#include <string>

class Terminal {
public:
    // Opens the terminal and discards what was typed before: type-ahead answers nothing.
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool open() const;
    // Why the terminal is not the operator's, where the system can tell (empty otherwise).
    const std::string& unavailableReason() const;
    void write(const std::string& text);
    // Reads one line, without its line end, keeping at most 64 characters of it (an answer
    // is short). False at end of input or on an error.
    bool readLine(std::string& line);

private:
    std::intptr_t in_;
    std::intptr_t out_;
    std::string unavailable_;
};
