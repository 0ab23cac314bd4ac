// Loads the project's run-time modules (the Telnet library, the gui popups), found relative
// to the running program: beside it, in ../lib (the build tree), or in the private folder
// ../lib/<multiarch>/steptools (an installed or unpacked package, wherever it was put).
#pragma once

// dlopen's handle, or null when the library is in none of these places.
void* LoadBesideExecutable(const char* fileName);
