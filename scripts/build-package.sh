#!/usr/bin/env bash
# Builds the Debian package in the build folder and checks it with lintian.
#   scripts/build-package.sh [BUILD_DIR]
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
EXTRA_PACKAGES="dpkg-dev lintian" bash "$HERE/install-deps.sh"
cmake --build "$BUILD_DIR" -j "$(nproc)"
(cd "$BUILD_DIR" && rm -f hardcopy-station_*.deb && cpack -G DEB)
deb="$(ls "$BUILD_DIR"/hardcopy-station_*.deb)"
echo "Package: $deb"
# lintian exits non-zero on errors; warnings and notes are shown, not fatal.
lintian --tag-display-limit 0 --fail-on error "$deb"
