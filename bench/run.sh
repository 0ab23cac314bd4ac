#!/usr/bin/env bash
# Installs what the comparisons need (ppp's chat, pyserial, ser2net; zenity and the two
# desktops for the popups), builds, and prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh ppp python3-serial ser2net zenity xvfb openbox xdotool x11-utils mutter xwayland dbus-daemon
bash scripts/build.sh >/dev/null
/usr/bin/python3 bench/bench.py
/usr/bin/python3 bench/popup.py
