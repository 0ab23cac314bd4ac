#!/usr/bin/env bash
# Builds the Debian package into build/packages/ and checks it with lintian, and the zip of
# the Windows programs into build-win/packages/ (cross-built with scripts/build-windows.sh).
# The Debian package's dependencies come from the binaries (dpkg-shlibdeps); the gui
# module's libraries and the fonts are only recommended, since the programs load the module
# at the first gui popup and work without it (terminal popups).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh scdoc dpkg-dev lintian file
bash scripts/build.sh >/dev/null

# dpkg-shlibdeps wants a debian/control to stand in; it reads nothing else from it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debian"
printf 'Source: steptools\n\nPackage: steptools\nArchitecture: any\n' >"$work/debian/control"
shlibdeps() {
  (cd "$work" && dpkg-shlibdeps -O "$@" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
}
root=$PWD
depends=$(shlibdeps "$root"/build/bin/{opquery_multi,opquery,opquery_multi_responses,serial,devsim} \
                    "$root/build/lib/libstepinet.so")
gui=$(shlibdeps "$root/build/lib/libsteppopup_gui.so")
# Recommend what the gui module needs beyond the packages the programs depend on.
depend_names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
recommends=$(tr ',' '\n' <<<"$gui" | sed 's/^ *//' | while read -r dep; do
               grep -qxF "${dep%% *}" <<<"$depend_names" || echo "$dep"
             done | paste -sd, | sed 's/,/, /g')
recommends="$recommends, fonts-noto-core, fonts-noto-cjk"

rm -rf build/packages
cpack --config build/CPackConfig.cmake -G DEB \
  -D CPACK_DEBIAN_PACKAGE_DEPENDS="$depends" \
  -D CPACK_DEBIAN_PACKAGE_RECOMMENDS="$recommends" >/dev/null
deb=$(ls build/packages/*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Depends Recommends
lintian --fail-on error "$deb"

# The Windows programs: the four .exe, the two DLLs beside them, and the README.
bash scripts/setup.sh zip unzip >/dev/null
bash scripts/build-windows.sh >/dev/null
rm -rf build-win/packages
mkdir -p build-win/packages/steptools
cp build-win/bin/{opquery_multi,opquery,opquery_multi_responses,serial}.exe build-win/bin/{stepinet,steppopup_gui}.dll \
   README.md build-win/packages/steptools/
(cd build-win/packages && zip -qr steptools-1.0.0-windows-x64.zip steptools && rm -rf steptools)
echo "package: build-win/packages/steptools-1.0.0-windows-x64.zip"
