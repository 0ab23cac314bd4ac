#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtk-3-dev
  fonts-noto-core fonts-noto-cjk googletest libgtest-dev nlohmann-json3-dev scdoc "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
fi
