// How the device simulator writes bytes into its log: printable ASCII as it is, CR, LF and
// backslash as \r, \n and \\, every other byte as \xHH. Tests read the log with it too.
#pragma once

#include <cstdio>
#include <string>

inline std::string LogEscaped(const std::string& bytes) {
    std::string out;
    char buf[8];
    for (unsigned char ch : bytes) {
        if (ch == '\r') out += "\\r";
        else if (ch == '\n') out += "\\n";
        else if (ch == '\\') out += "\\\\";
        else if (ch < 0x20 || ch >= 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", ch);
            out += buf;
        } else out += static_cast<char>(ch);
    }
    return out;
}
