#!/usr/bin/env bash
# Builds the Debian package in the build folder and checks it with lintian.
#   scripts/build-package.sh [BUILD_DIR]
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
EXTRA_PACKAGES="dpkg-dev lintian systemd" bash "$HERE/install-deps.sh"
cmake --build "$BUILD_DIR" -j "$(nproc)"
(cd "$BUILD_DIR" && rm -f hardcopy-station_*.deb && cpack -G DEB)
deb="$(ls "$BUILD_DIR"/hardcopy-station_*.deb)"
echo "Package: $deb"
# The user unit as the package installs it, verified by systemd: its ExecStart pointed at
# the packaged binary, since nothing is installed here (the manual page is checked apart).
staged="$(mktemp -d)"
trap 'rm -rf "$staged"' EXIT
dpkg-deb -x "$deb" "$staged/root"
unit="$staged/root/usr/lib/systemd/user/hardcopy-station.service"
test -f "$staged/root/usr/share/man/man1/hardcopy-station.1.gz"
test -x "$staged/root/usr/libexec/hardcopy-station/hardcopy-station-session"
sed "s|^ExecStart=/usr/bin/|ExecStart=$staged/root/usr/bin/|" "$unit" > "$staged/hardcopy-station.service"
mkdir -m 700 "$staged/runtime"
XDG_RUNTIME_DIR="$staged/runtime" systemd-analyze verify --user --man=no "$staged/hardcopy-station.service"
echo "systemd-analyze verify: hardcopy-station.service passes"
# lintian exits non-zero on errors; warnings and notes are shown, not fatal.
lintian --tag-display-limit 0 --fail-on error "$deb"
