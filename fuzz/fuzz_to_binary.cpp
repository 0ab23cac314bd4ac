// ToBinary on any text, into a buffer of exactly the size it promises to need.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link_functions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    std::vector<unsigned char> output((text.size() + 1) / 2);
    int n = ToBinary(text.data(), output.data());
    if (static_cast<size_t>(n) != output.size()) std::abort();
    return 0;
}
