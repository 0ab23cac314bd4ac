// The expected-reply list scanning of opquery_multi_responses.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "expected_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string list(reinterpret_cast<const char*>(data), size);
    std::string joined;
    for (const std::string& entry : ExpectedReplies(list)) {
        if (entry.find('_') != std::string::npos) std::abort();
        joined += entry + "_";
    }
    if (list.compare(0, joined.size(), joined) != 0) std::abort();  // entries are the list's own text
    if (list.find('_', joined.size()) != std::string::npos) std::abort();  // no entry left out
    return 0;
}
