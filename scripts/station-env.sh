# Environment for Qt WebEngine on this machine; sourced by the run scripts.
# Chromium refuses to start as root with its sandbox on; only then is it turned off.
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "${XDG_RUNTIME_DIR}" ]; then
    XDG_RUNTIME_DIR="$(mktemp -d /tmp/hardcopy-runtime.XXXXXX)"
    export XDG_RUNTIME_DIR
fi
chmod 0700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"

# Starts a virtual display on a number nobody uses, as Xvfb itself finds it: a lock file
# in /tmp does not tell, since a display of another root (a suite run in a chroot beside
# this one) holds its number through the abstract socket. Sets HARDCOPY_TEST_DISPLAY and
# XVFB_PID once the display answers; returns 1 when none could be started.
start_virtual_display() {
    local number_file number
    number_file="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$number_file" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    number="$(head -n1 "$number_file")"
    rm -f "$number_file"
    if [ -z "$number" ]; then
        XVFB_PID=""
        return 1
    fi
    export HARDCOPY_TEST_DISPLAY=":${number}"
}
