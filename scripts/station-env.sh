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
