// Loads the project's run-time modules (the Telnet library, the gui popups) from beside
// the running program, or from ../lib next to it, as the build and an install lay them out.
#pragma once

// dlopen's handle, or null when the library is in neither place.
void* LoadBesideExecutable(const char* fileName);
