// The program's arguments as its callers have always handed them over, and their texts as
// the operator and the record see them. program_args_posix.cpp and program_args_win32.cpp
// implement it.
#pragma once

#include <string>

// Replaces argc and argv with the arguments that main works with. On Linux they stay as
// the system gave them. On Windows they are split from the wide command line by the
// system's own rules (os/command_line.h), argv[0] is the executable's file name, and each
// argument is in the ANSI code page, as a narrow main had it: those are the bytes that go
// to the device and are compared with its reply. A vector that cannot be built ends the
// process with status -1.
void TakeArguments(int& argc, char**& argv);

// `text` in UTF-8 for a popup or the record. One of main's arguments (the same pointer)
// gives what the caller wrote (on Windows its Unicode text, which the code page may have
// lost); any other text is returned as it is.
std::string ArgumentText(const char* text);
