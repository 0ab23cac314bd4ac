#!/usr/bin/env bash
# The Debian package as a station gets it: built, checked by lintian, unpacked into a
# temporary folder (and moved elsewhere), and run from there against the packaged device
# simulator: every program, a Telnet step and a gui popup on Xvfb, so that the library
# lookup of the installed layout is proven. Each manual page must render without warnings.
set -uo pipefail
cd "$(dirname "$0")/.."
source tests/desktop.sh
passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s: expected %q, got %q\n' "$1" "$2" "$3"
  fi
}

bash scripts/package.sh >/tmp/steptools-package.log 2>&1
check "package builds and passes lintian" 0 $?
deb=$(ls build/packages/steptools_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "0 passed, 1 failed"; exit 1; }

work=$(mktemp -d)
sim=""
xvfb=""
wm=""
cleanup() {
  for pid in $sim $wm $xvfb; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$work/root"
# Unpacked somewhere else than /usr: the lookup is relative to the program.
mkdir -p "$work/moved"
mv "$work/root/usr" "$work/moved/steptools"
bin="$work/moved/steptools/bin"

export STEPTOOLS_PORT_DIR="$work/ports"
mkdir -p "$STEPTOOLS_PORT_DIR"
"$bin/steptools-devsim" --pty COM7 --telnet 0 --eol crlf 'ID?=>say:DEV 7' 'TWO?=>say:ONE;say:TWO' \
  'hex:0D0A=>hex:01020304;raw:\r' >"$work/ready" 2>/dev/null &
sim=$!
for _ in $(seq 50); do grep -q ready "$work/ready" && break; sleep 0.1; done
telnet="127.0.0.1,$(sed -n 's/.*telnet=\([0-9]*\).*/\1/p' "$work/ready")"

export STEPTOOLS_POPUP=tty
unset DISPLAY WAYLAND_DISPLAY
check "opquery_multi, serial" 1 "$("$bin/opquery_multi" '!' '!' DEV 'ID?' COM7,115200 </dev/null 2>&1)"
check "opquery_multi, Telnet" 1 "$("$bin/opquery_multi" '!' '!' DEV 'ID?' "$telnet" </dev/null 2>&1)"
check "opquery, Telnet hex" 1 "$("$bin/opquery" '!' '!' H01020304 H0D0A "$telnet" </dev/null 2>&1)"
check "opquery_multi_responses" 1 "$("$bin/opquery_multi_responses" T '!' 'ONE_TWO_' 'TWO?' COM7,115200 </dev/null 2>&1)"
check "serial" 1 "$("$bin/serial" COM7,115200 'ID?' '!' 2>&1)"

# A gui popup from the packaged module, answered on Xvfb under openbox.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v openbox >/dev/null; then
  start_desktop "$work"
  STEPTOOLS_POPUP=gui "$bin/opquery_multi" 'Is the lamp lit?' '!' '' '!' COM7 0.1 0 >"$work/gui.out" 2>"$work/gui.err" &
  step=$!
  for _ in $(seq 100); do xdotool search --name '^Question$' >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 0.8  # past the popup's input guard
  xdotool key y
  wait "$step"
  check "gui popup from the packaged module" 1 "$(cat "$work/gui.out")"
  unset DISPLAY
else
  failed=$((failed + 1))
  echo "FAILED: gui popup: needs Xvfb, xdotool and openbox"
fi

# The Windows zip: the programs and their DLLs side by side, and the README.
zip="build-win/packages/steptools-1.0.0-windows-x64.zip"
check "the Windows zip holds the programs, the DLLs and the README" \
  "README.md opquery.exe opquery_multi.exe opquery_multi_responses.exe serial.exe stepinet.dll steppopup_gui.dll" \
  "$(unzip -Z1 "$zip" 2>/dev/null | sed -n 's|^steptools/||p' | grep . | sort | paste -sd' ')"

for page in "$work"/moved/steptools/share/man/man*/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  check "man page $(basename "$page") renders without warnings" "" "$warnings"
done

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
