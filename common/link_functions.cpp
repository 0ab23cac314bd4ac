#include "link_functions.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Digit value of a hex digit "0"-"9" or "A"-"F" (upper case only), or -1.
int hexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

}  // namespace

int ToBinary(char* str, unsigned char* output) {
    int i = 0;
    unsigned int tmp = 0;  // kept between pairs: a non-digit high character reuses it
    while (*str != '\0') {
        if (*str >= 'a' && *str <= 'z') *str = static_cast<char>(*str - 'a' + 'A');
        int high = hexDigitValue(*str);
        if (high >= 0) tmp = static_cast<unsigned int>(high);
        tmp <<= 4;
        ++str;
        // An odd-length text pairs its last character with the terminator: stop there.
        if (*str != '\0') {
            int low = hexDigitValue(*str);
            if (low >= 0) tmp += static_cast<unsigned int>(low);
            ++str;
        }
        output[i++] = static_cast<unsigned char>(tmp & 0xFF);
    }
    return i;
}

int GetBaud(char* comport) {
    char* t = std::strchr(comport, ',');
    if (t == nullptr) return 9600;
    *t = '\0';
    // atoi's reading, clamped instead of overflowing on absurdly long numbers.
    long number = std::strtol(t + 1, nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

std::vector<unsigned char> DecodeHex(std::string hex) {
    std::vector<unsigned char> bytes(hex.size() / 2 + 1);
    bytes.resize(static_cast<size_t>(ToBinary(hex.data(), bytes.data())));
    return bytes;
}

PortSpec SplitPortSpec(const char* text) {
    std::string name = text;
    int number = GetBaud(name.data());
    name.resize(std::strlen(name.c_str()));
    return {name, number};
}

std::string ProgramFileName(const char* argv0) {
    std::string name = argv0 != nullptr ? argv0 : "";
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    return name;
}

std::string ProgramName(const char* argv0) {
    std::string name = ProgramFileName(argv0);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
    return name;
}
