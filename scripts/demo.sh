#!/usr/bin/env bash
# Builds the programs and runs a few test steps against the bundled device simulator,
# on a pseudo-terminal (as COM7) and on a Telnet port on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null

export STEPTOOLS_PORT_DIR=$(mktemp -d)
ready=$(mktemp)
build/bin/devsim --pty COM7 --telnet 0 --negotiate --eol crlf --rules devsim/demo.rules >"$ready" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$STEPTOOLS_PORT_DIR" "$ready"' EXIT
for _ in $(seq 50); do grep -q ready "$ready" && break; sleep 0.1; done
telnet="127.0.0.1,$(sed -n 's/.*telnet=\([0-9]*\).*/\1/p' "$ready")"
echo "device simulator: $(cat "$ready")"

# Prints a command line as a station script would write it.
show() {
  printf '$'
  for a in "$@"; do
    if [[ $a =~ ^[A-Za-z0-9_./,:=-]+$ ]]; then printf ' %s' "$a"; else printf " '%s'" "${a//\'/\'\\\'\'}"; fi
  done
}

step() {
  echo
  show "$@"; echo
  set +e; out=$("$@"); status=$?; set -e
  printf 'output: %s\nexit status: %d\n' "${out//$'\n'/\\n}" "$status"
}

# With the popups shown at a terminal: the operator answers here, or the demo answers
# "y" itself when it runs without one.
asked() {
  if [ -t 0 ]; then
    step "$@"
  else
    echo
    show "$@"; echo "   (no terminal here: the demo types y at the question)"
    (sleep 0.5; printf 'y\n') | script -qfec "$(printf '%q ' "$@"); echo \"exit status: \$?\"" /dev/null | tr -d '\r'
  fi
}

echo; echo "== opquery_multi =="
step build/bin/opquery_multi '!Lamp lit?' '!Look at the lamp' 'LAMP ON' 'LAMP?' COM7,115200
step build/bin/opquery_multi '!Lamp lit?' '!Look at the lamp' 'LAMP OFF' 'LAMP?' COM7,115200
step build/bin/opquery_multi '!q' '!m' 'TEMP' 'TEMP?' COM7,115200 0.5
step build/bin/opquery_multi '!q' '!m' 'SELFTEST OK' 'STATUS?' COM7,115200 2 2
step build/bin/opquery_multi '!q' '!m' 'DEV 7' 'ID?' "$telnet"
step build/bin/opquery_multi '!q' '!m' 'X' 'SLEEP?' "$telnet" 0.5
step build/bin/opquery_multi '!q' '!m' 'X' 'ID?' 127.0.0.1,1
asked build/bin/opquery_multi 'Is the lamp lit?' '!m' 'LAMP ON' 'LAMP?' COM7,115200

echo; echo "== opquery =="
step build/bin/opquery '!Display ok?' '!Check the display' H03040506 H0102 COM7,115200
step build/bin/opquery '!Display ok?' '!Check the display' H03040506 H0102 "$telnet"
step build/bin/opquery '!Display ok?' '!Check the display' 'DEV' 'ID?' COM7,115200

echo; echo "== opquery_multi_responses =="
step build/bin/opquery_multi_responses 'Boot test' '!Power the board' 'BOOT OK_SELFTEST OK_' 'STATUS?' COM7,115200 2 2 1
step build/bin/opquery_multi_responses 'Boot test' '!Power the board' 'BOOT OK_SELFTEST OK_' 'STATUS?' "$telnet"
step build/bin/opquery_multi_responses 'Boot test' '!Power the board' 'BOOT OK_SELFTEST FAILED_' 'STATUS?' COM7,115200 2 1 2

echo; echo "== serial =="
step build/bin/serial COM7,115200 'ID?' Dev x 0.3
step build/bin/serial COM7 getmac 'MAC 00:1a:2b:3c:4d:5e' x 0.3
step build/bin/serial COM7 0102 0304 binary 0.3
step build/bin/serial COM7 GETSN SN x 0.3 8
step build/bin/serial COM7 'ID?' '?' x 0.3
step build/bin/serial COM7 'SLEEP?' Dev x 0.3
