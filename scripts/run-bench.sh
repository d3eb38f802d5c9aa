#!/usr/bin/env bash
# Runs the station's benchmark: the real station on the demo LIMS, with the demo report
# server as a separate process and pages printed into PDF files, on an offscreen display.
# Prints a table of the figures against their targets (the station's log goes to a file).
#   scripts/run-bench.sh [BUILD_DIR] [station_bench options, e.g. --keep --requests 500]
set -euo pipefail
BUILD_DIR="${1:-build}"
HERE="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=station-env.sh
. "$HERE/station-env.sh"
export QT_QPA_PLATFORM=offscreen

BIN="$BUILD_DIR/bench/station_bench"
SERVER="$BUILD_DIR/demo/hardcopy-demo-server"
for program in "$BIN" "$SERVER"; do
    if [ ! -x "$program" ]; then
        echo "$program is missing: build it first (cmake --build $BUILD_DIR --target station_bench hardcopy-demo-server)" >&2
        exit 1
    fi
done

LOG="$BUILD_DIR/bench/station_bench.stderr.log"
# The printing figure prints on the cups-pdf queue PDF of the system's cupsd.
bash "$HERE/start-cups.sh"
echo "Running the station benchmark (three to four minutes); other load on the machine skews the figures."
echo "uptime: $(uptime)"
status=0
"$BIN" --server "$SERVER" "${@:2}" 2>"$LOG" || status=$?
echo "Station output (log lines, warnings): $LOG"
exit "$status"
