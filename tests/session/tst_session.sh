#!/bin/sh
# What the autostart entry runs: with a user manager it starts the unit and no station of
# its own; without one it runs the station and starts it again until the operator's Exit.
set -eu
script="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
printf '#!/bin/sh\necho "systemctl $*" >> %s/calls\n[ "$MANAGER" = yes ]\n' "$dir" > "$dir/bin/systemctl"
printf '#!/bin/sh\nn=$(($(cat %s/runs 2>/dev/null || echo 0) + 1)); echo $n > %s/runs; [ $n -ge 2 ]\n' "$dir" "$dir" > "$dir/station"
chmod +x "$dir/bin/systemctl" "$dir/station"
export PATH="$dir/bin:$PATH" HARDCOPY_STATION="$dir/station" HARDCOPY_RESTART_PAUSE=0

MANAGER=yes sh "$script"
grep -q -- "--user import-environment DISPLAY" "$dir/calls"
grep -q -- "--user --no-block start hardcopy-station.service" "$dir/calls"
[ ! -e "$dir/runs" ] || { echo "FAIL: a station started beside the unit"; exit 1; }

: > "$dir/calls"
MANAGER=no sh "$script" 2>/dev/null
[ "$(cat "$dir/runs")" = 2 ] || { echo "FAIL: the station was not started again after exit code 1"; exit 1; }
! grep -q -- " start " "$dir/calls" || { echo "FAIL: the unit was started without a user manager"; exit 1; }
echo "PASS: the unit started with a user manager; the station looped without one"
