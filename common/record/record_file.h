// Appends a step record to its file in one piece: under an exclusive lock and in a single
// write, so that programs running at once never interleave or lose a line.
// record_file_posix.cpp and record_file_win32.cpp implement it.
#pragma once

#include <string>

// Appends `line` to the file at `path`, creating it. False, with the reason in `error`,
// when it could not be written whole (nothing of it stays in the file).
bool AppendWhole(const std::string& path, const std::string& line, std::string& error);
