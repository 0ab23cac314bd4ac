// The program's arguments as UTF-8 bytes, whatever the system hands to main.
// program_args_posix.cpp and program_args_win32.cpp implement it.
#pragma once

// Replaces argc and argv with the arguments as the station gave them, in UTF-8: on Linux
// they already are; on Windows main's char arguments come through the ANSI code page,
// which loses every character outside it, so they are taken from the wide command line.
void TakeUtf8Arguments(int& argc, char**& argv);
