// The expected-reply list of opquery_multi_responses: entries each followed by "_".
#pragma once

#include <string>
#include <vector>

// The "_"-terminated entries of `list`, in order ("A_B_" gives A and B). Text after the
// last "_" is no entry: it is never compared.
std::vector<std::string> ExpectedReplies(const std::string& list);
