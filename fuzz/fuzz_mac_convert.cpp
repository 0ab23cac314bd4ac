// MACConvert on any text, in place and into a separate buffer of the promised size.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mac_convert.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dup2(open("/dev/null", O_WRONLY), 1);  // the "Checking" lines
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::strlen(text.c_str()));
    std::vector<char> out(text.size() + 1);
    int length = MACConvert(text.c_str(), out.data());
    std::string inPlace = text;
    MACConvert(inPlace.data(), inPlace.data());
    if (length != static_cast<int>(text.size()) || std::strlen(out.data()) != text.size() || inPlace != out.data())
        std::abort();
    std::string upper = text;
    stringToUpper(upper.data());
    return 0;
}
