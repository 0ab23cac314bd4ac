#include "mac_convert.h"

#include <cstring>
#include <string>

#include "program_output.h"

namespace {

// Character classes of the POSIX locale, whatever the process's locale is.
bool isAlnum(unsigned char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

bool isSpace(unsigned char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

unsigned char toUpper(unsigned char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<unsigned char>(ch - 'a' + 'A') : ch;
}

bool isSeparator(unsigned char ch) {
    return !isAlnum(ch) && !isSpace(ch);
}

constexpr int kMacSeparators = 5;

}  // namespace

void stringToUpper(char* sPtr) {
    for (; *sPtr != '\0'; ++sPtr) *sPtr = static_cast<char>(toUpper(static_cast<unsigned char>(*sPtr)));
}

int MACConvert(const char* in, char* out) {
    const auto* text = reinterpret_cast<const unsigned char*>(in);
    size_t length = std::strlen(in);

    // Detection: a MAC address written as six pairs has its separators at 2, 5, 8, 11, 14.
    const char* blank = std::strchr(in, ' ');
    const auto* t = reinterpret_cast<const unsigned char*>(blank != nullptr ? blank + 1 : in);
    int separators = 0;
    for (size_t i = 0; t[i] != '\0'; ++i) {
        if ((i + 1) % 3 != 0) continue;
        PrintOutput(std::string("Checking ") + static_cast<char>(t[i]) + "\n");
        if (isSeparator(t[i]) && ++separators == kMacSeparators) break;
    }

    if (separators < kMacSeparators) {
        std::memmove(out, in, length + 1);
        return static_cast<int>(length);
    }
    // Conversion: from the first whitespace on, separators become "-" and letters upper case.
    bool afterWhitespace = false;
    for (size_t i = 0; i <= length; ++i) {
        unsigned char ch = text[i];  // read before the same position of `out` is written
        if (!afterWhitespace || ch == '\0') {
            out[i] = static_cast<char>(ch);
            afterWhitespace = afterWhitespace || isSpace(ch);
        } else {
            out[i] = static_cast<char>(isSeparator(ch) ? '-' : toUpper(ch));
        }
    }
    return static_cast<int>(length);
}
