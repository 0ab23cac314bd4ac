// The argument vector of a Windows program, split from its raw command line by the rules
// that the programs it replaces were started with (not the C run-time's): the line splits
// at blanks and tabs outside double quotes, the quotes are removed, and backslashes stay,
// except that a quote directly after an odd number of backslashes is a literal quote in
// place of the last backslash. Pure, so that it is tested on both systems.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The arguments after the first token (the program, quoted or not, which is skipped).
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);
