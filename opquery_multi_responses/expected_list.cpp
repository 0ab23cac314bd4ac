#include "expected_list.h"

std::vector<std::string> ExpectedReplies(const std::string& list) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (size_t end = list.find('_'); end != std::string::npos; end = list.find('_', start)) {
        entries.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}
