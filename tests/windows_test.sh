#!/usr/bin/env bash
# The Windows programs under Wine: the cross-built unit tests through ctest, then the
# Linux end-to-end suites a second time, driving the .exe programs through Wine against
# the Linux device simulator (ptys reached through STEPTOOLS_PORT_DIR, Telnet on loopback).
# Cases that Wine cannot show skip themselves and say why. Needs build/ (the Linux build)
# and builds build-win/.
set -uo pipefail
cd "$(dirname "$0")/.."
source tests/desktop.sh
bash scripts/setup.sh wine wine64 >/dev/null
bash scripts/build-windows.sh >/dev/null || { echo "windows: the cross-build failed"; exit 1; }

export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A new prefix: wineboot returns while its services still set the prefix up; let them end
# before the first test, which would otherwise share the machine with them.
if [ ! -d "$WINEPREFIX" ]; then
  DISPLAY= wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# A wineserver that outlives each program, started (with one throwaway program) before any
# test: Wine's first process would otherwise leave services holding the tests' pipes.
wineserver -p >/dev/null 2>&1
wine build-win/tests/telnet_codec_test.exe >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1' EXIT
# Warm what a first run pays for: each program once (its usage path asks on the console,
# which loads user32 to see whether anyone can see it) and the launcher. The first runs on a fresh
# machine took up to 9 s each, against 0.3 s warm; the tests' waits allow a cold Wine too
# (kColdWineSeconds in tests/test_support.h).
for program in opquery_multi opquery opquery_multi_responses serial; do
  STEPTOOLS_POPUP=tty wine "build-win/bin/$program.exe" >/dev/null 2>&1 </dev/null
done
wine build-win/tests/launcher.exe >/dev/null 2>&1

mkdir -p build-win/test-logs
summary() {  # the failed and total counts of a ctest log
  sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1"
}
(cd build-win && ctest --output-on-failure -j2 >test-logs/unit.log 2>&1)
(cd build && STEPTOOLS_TEST_WINDOWS_BIN="$PWD/../build-win/bin" ctest -L 'programs|windows' -j2 --output-on-failure \
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

# The popup dialog on Xvfb under openbox, answered with xdotool as an operator would.
check() {  # check NAME EXPECTED ACTUAL
  total=$((total + 1))
  if [ "$2" != "$3" ]; then
    failed=$((failed + 1))
    printf 'FAILED: %s: expected %q, got %q\n' "$1" "$2" "$3"
  fi
}
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v openbox >/dev/null; then
  work=$(mktemp -d)
  start_desktop "$work"
  export STEPTOOLS_PORT_DIR="$work" STEPTOOLS_POPUP=gui
  build/bin/devsim --pty COM7 >/dev/null 2>&1 &
  sim=$!
  sleep 0.5
  window() {  # waits for the window titled $1; prints its id
    for _ in $(seq 150); do xdotool search --name "^$1\$" 2>/dev/null | head -1 | grep . && return; sleep 0.1; done
  }
  popup() {  # popup OUTFILE ARGS...: a step whose verdict is the operator's answer, in the background
    local out=$1
    shift
    wine build-win/bin/opquery_multi.exe "$@" COM7 0.1 0 >"$out" 2>/dev/null &
  }
  mkdir -p build-win/screenshots
  popup "$work/q1" 'Is the lamp lit? Czy lampka świeci?' '!' ''
  w=$(window Question)
  sleep 0.8  # past the input guard
  import -window "$w" -frame build-win/screenshots/question.png 2>/dev/null
  xdotool key Return space
  sleep 0.5
  check "Enter and Space answer no question" 1 "$(xdotool search --name '^Question$' 2>/dev/null | grep -c .)"
  xdotool key y
  wait $!
  check "y answers Yes" "1" "$(tr -d '\r' <"$work/q1")"
  popup "$work/q2" 'Lamp lit?' '!' ''
  window Question >/dev/null
  sleep 0.8
  xdotool key Escape
  wait $!
  check "Escape answers No" "0" "$(tr -d '\r' <"$work/q2")"
  # Typing that began before the popup appeared does not answer it.
  popup "$work/q3" 'Lamp lit?' '!' ''
  xdotool type --delay 60 'yyyyyyyyyyyyyyyyyyyyyyyyyyyyyy'
  window Question >/dev/null
  sleep 0.3
  check "type-ahead does not answer" 1 "$(xdotool search --name '^Question$' 2>/dev/null | grep -c .)"
  sleep 0.8
  xdotool key n
  wait $!
  check "after the guard n answers No" "0" "$(tr -d '\r' <"$work/q3")"
  popup "$work/m1" '!' 'Look at the lamp, then close this message.' ''
  w=$(window Message)
  sleep 0.8
  import -window "$w" -frame build-win/screenshots/message.png 2>/dev/null
  xdotool key Return
  wait $!
  check "Enter closes the message" "1" "$(tr -d '\r' <"$work/m1")"
  kill $sim $wm $xvfb 2>/dev/null
  unset DISPLAY
  rm -rf "$work"
fi
echo "windows: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
