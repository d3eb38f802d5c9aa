#!/usr/bin/env bash
# Starts the station on the embedded demo LIMS and demo report server.
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=station-env.sh
. "$HERE/station-env.sh"
BIN="$BUILD_DIR/src/hardcopy-station"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$BIN" --demo "${@:2}"
fi
# Without a display nobody could log in: the station runs one unattended demo cycle under
# a virtual display instead, saves a picture of its window and says where everything is.
SHOT="${HARDCOPY_DEMO_SCREENSHOT:-$PWD/$BUILD_DIR/demo-window.png}"
echo "No display found: running one unattended demo cycle under a virtual display (xvfb-run)." >&2
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN" --demo --unattended-demo "$SHOT" "${@:2}"
