#!/usr/bin/env bash
# Starts the station on the embedded demo LIMS and demo report server.
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=station-env.sh
. "$HERE/station-env.sh"
BIN="$BUILD_DIR/src/hardcopy-station"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    # The register window of this build in the desktop's application menu, as the
    # package's entry puts the installed one there.
    MENU="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
    mkdir -p "$MENU"
    sed "s|^Exec=hardcopy-station |Exec=$(cd "$(dirname "$BIN")" && pwd)/hardcopy-station |" \
        "$HERE/../packaging/hardcopy-register.desktop" >"$MENU/hardcopy-register-demo.desktop"
    echo "The register window: \"HardCopy register\" in the application menu ($MENU/hardcopy-register-demo.desktop)." >&2
    exec "$BIN" --demo "${@:2}"
fi
# Without a display nobody could log in: the station runs one unattended demo cycle under
# a virtual display instead, saves a picture of its window and says where everything is.
SHOT="${HARDCOPY_DEMO_SCREENSHOT:-$PWD/$BUILD_DIR/demo-window.png}"
echo "No display found: running one unattended demo cycle under a virtual display (xvfb-run)." >&2
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN" --demo --unattended-demo "$SHOT" "${@:2}"
