#!/usr/bin/env bash
# The Windows programs under Wine: the cross-built unit tests through ctest, then the
# Linux end-to-end suites a second time, driving the .exe programs through Wine against
# the Linux device simulator (ptys reached through STEPTOOLS_PORT_DIR, Telnet on loopback).
# Cases that Wine cannot show skip themselves and say why. Needs build/ (the Linux build)
# and builds build-win/.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh wine wine64 >/dev/null
bash scripts/build-windows.sh >/dev/null || { echo "windows: the cross-build failed"; exit 1; }

export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || DISPLAY= wineboot -i >/dev/null 2>&1
# A wineserver that outlives each program, started (with one throwaway program) before any
# test: Wine's first process would otherwise leave services holding the tests' pipes.
wineserver -p >/dev/null 2>&1
wine build-win/tests/telnet_codec_test.exe >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1' EXIT

mkdir -p build-win/test-logs
summary() {  # the failed and total counts of a ctest log
  sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1"
}
(cd build-win && ctest --output-on-failure -j2 >test-logs/unit.log 2>&1)
(cd build && STEPTOOLS_TEST_WINDOWS_BIN="$PWD/../build-win/bin" ctest -L programs -j2 --output-on-failure \
   >../build-win/test-logs/programs.log 2>&1)
failed=0
total=0
for log in build-win/test-logs/unit.log build-win/test-logs/programs.log; do
  read -r f t <<<"$(summary "$log")"
  [ -n "${t:-}" ] || { f=1; t=1; echo "windows: no result in $log"; }
  failed=$((failed + f))
  total=$((total + t))
  [ "$f" -eq 0 ] || grep -A3 -E '\*\*\*Failed|FAILED' "$log" | head -60
done
skipped=$(grep -c 'Test *#.*Skipped' build-win/test-logs/programs.log)
echo "windows: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
