#!/usr/bin/env bash
# Installs what the comparison needs (ppp's chat, pyserial, ser2net), builds, and prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh ppp python3-serial ser2net
bash scripts/build.sh >/dev/null
exec /usr/bin/python3 bench/bench.py
