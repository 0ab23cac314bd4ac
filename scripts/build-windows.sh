#!/usr/bin/env bash
# Cross-builds the Windows programs into build-win/bin/ with Debian's mingw-w64: the four
# programs as .exe, stepinet.dll and the gui popup module steppopup_gui.dll, the C++
# run-time linked in. Also builds the unit tests, which run through Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh g++-mingw-w64-x86-64-posix
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-win
