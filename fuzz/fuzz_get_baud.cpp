// GetBaud on any port specification.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link_functions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string portText(reinterpret_cast<const char*>(data), size);
    std::string before = portText.c_str();
    GetBaud(portText.data());
    // The name is what came before the first comma, never more.
    if (before.compare(0, std::strlen(portText.c_str()), portText.c_str()) != 0) std::abort();
    return 0;
}
