#!/usr/bin/env bash
# Runs the whole test suite through CTest, with the services the tests need: a virtual
# display for the end-to-end tests. The printing tests start a cupsd of their own.
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=station-env.sh
. "$HERE/station-env.sh"

XVFB_PID=""
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
    start_virtual_display || echo "run-tests.sh: no virtual display could be started" >&2
elif [ -n "${DISPLAY:-}" ]; then
    export HARDCOPY_TEST_DISPLAY="$DISPLAY"
fi
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT

cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 -j 2
