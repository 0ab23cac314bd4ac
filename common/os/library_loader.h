// Loads the project's run-time modules (the Telnet library, the gui popups) by full path,
// relative to the running program. On Linux: beside it, in ../lib (the build tree), or in
// the private folder ../lib/<multiarch>/steptools (an installed or unpacked package,
// wherever it was put). On Windows: beside it only.
// library_loader_posix.cpp and library_loader_win32.cpp implement it.
#pragma once

// Loads module `name` ("stepinet": libstepinet.so on Linux, stepinet.dll on Windows). The
// module's handle, or null when it is in none of these places or does not load.
void* LoadModule(const char* name);

// The address of the function `name` in a loaded module, or null.
void* FindFunction(void* module, const char* name);
