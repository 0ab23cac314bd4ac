#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through ctest: on the
# normal build (build/), the package test, the Windows programs under Wine, a short run of
# the fuzz targets, then the suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb xdotool openbox wmctrl x11-utils x11-xserver-utils imagemagick \
  ser2net inetutils-telnetd socat mutter xwayland dbus-daemon xterm
bash scripts/build.sh
# (the suite labelled windows drives the Windows programs: tests/windows_test.sh runs it)
(cd build && ctest --output-on-failure -j2 -LE windows)
# The Debian package: lintian, unpacked and run from elsewhere, manual pages.
bash tests/package_test.sh
# The Windows programs, cross-built, under Wine: unit tests and the end-to-end suites.
bash tests/windows_test.sh
# Each fuzz target briefly on its seed corpus (fuzz/run.sh runs them longer).
FUZZ_SECONDS=${FUZZ_SECONDS:-10} bash fuzz/run.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTEPTOOLS_SANITIZE=ON >/dev/null
cmake --build build-asan
(cd build-asan && ctest --output-on-failure -j2 -LE windows)
