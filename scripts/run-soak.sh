#!/usr/bin/env bash
# Soaks the station: its own executable, logged in and running every minute, against the
# demo LIMS's wire front end and the demo report server (processes of their own) and a
# private cupsd, under a seeded fault schedule; prints its promises as a table.
#   scripts/run-soak.sh [BUILD_DIR] [--minutes N] [--seed S] [--sample-seconds T] [--memory] [--keep]
# Needs root (the private cupsd) and an X display: without one it starts Xvfb.
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=station-env.sh
. "$HERE/station-env.sh"
BIN="$BUILD_DIR/soak/hardcopy-soak"
if [ ! -x "$BIN" ]; then
    echo "$BIN is missing: build it first (cmake --build $BUILD_DIR --target hardcopy-soak)" >&2
    exit 2
fi
export HARDCOPY_BINARY_DIR="$(cd "$BUILD_DIR" && pwd)"
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-qt.webenginecontext.info=false}"

XVFB_PID=""
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${HARDCOPY_TEST_DISPLAY:-}" ]; then
    if [ -n "${DISPLAY:-}" ]; then
        export HARDCOPY_TEST_DISPLAY="$DISPLAY"
    else
        start_virtual_display || echo "run-soak.sh: no virtual display could be started" >&2
    fi
fi
echo "uptime: $(uptime)"
"$BIN" "${@:2}"
