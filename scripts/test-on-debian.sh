#!/usr/bin/env bash
# Runs the README's commands in a fresh root file system of a Debian release, made here
# from Debian's archive: what a new user on that release meets.
#   scripts/test-on-debian.sh [--keep] [--root DIR] SUITE [TARGET...]
# SUITE: bookworm (Debian 12) or trixie (Debian 13). TARGET: make targets, "test" when none
# is given; "install-check" installs the package that "package" built (or, without make
# targets, the one in the working tree's build folder) into another fresh root of the
# release, as a new user would, and runs it there (--version, --check --demo).
# The working tree (tracked files and untracked ones git does not ignore) is copied in, so
# uncommitted work is tried too. Needs root (chroot, mounts). --root DIR uses DIR as the
# root, made only where it does not hold one yet, and keeps it (a developer's faster second
# try); --keep leaves every root behind. Every mount is undone on every way out.
set -euo pipefail

keep=0
root=""
while [ $# -gt 0 ]; do
    case "$1" in
        --keep) keep=1; shift ;;
        --root) root="$2"; shift 2 ;;
        *) break ;;
    esac
done
suite="${1:?usage: scripts/test-on-debian.sh [--keep] [--root DIR] SUITE [TARGET...]}"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(test)
[ "$(id -u)" -eq 0 ] || { echo "test-on-debian.sh: needs root (chroot and mounts)" >&2; exit 2; }
case "$suite" in
    bookworm|trixie) ;;
    *) echo "test-on-debian.sh: unknown suite $suite (bookworm or trixie)" >&2; exit 2 ;;
esac

HERE="$(cd "$(dirname "$0")" && pwd)"
SOURCE="$(cd "$HERE/.." && pwd)"
MIRROR="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"
SECURITY_MIRROR="${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}"
INSIDE=/src/hardcopy-station
CACHE="${HARDCOPY_ROOT_CACHE:-/var/cache/hardcopy-station/$suite}"
CCACHE_INSIDE=/var/cache/ccache
started=$SECONDS

say() { printf '[%s %4ds] %s\n' "$suite" $((SECONDS - started)) "$*"; }

need_tool() {
    command -v "$1" >/dev/null 2>&1 && return 0
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" >/dev/null
}
need_tool mmdebstrap mmdebstrap

mounted=()
roots=()
cleanup() {
    local rc=$?
    local dir
    for dir in "${roots[@]}"; do
        # A process left running inside (a display, a spooler) keeps its mounts busy.
        local link pid
        for link in /proc/[0-9]*/root; do
            pid="${link#/proc/}"; pid="${pid%/root}"
            [ "$(readlink "$link" 2>/dev/null)" = "$dir" ] && kill -9 "$pid" 2>/dev/null || true
        done
    done
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R "${mounted[i]}" 2>/dev/null || umount -lR "${mounted[i]}" 2>/dev/null || true
    done
    if [ "$keep" -eq 0 ]; then
        for dir in "${roots[@]}"; do
            # The root named by --root stays; only a root with nothing mounted in it any
            # more is removed.
            [ -n "$root" ] && [ "$dir" = "$(cd "$root" 2>/dev/null && pwd)" ] && continue
            if ! grep -q " $dir/" /proc/mounts; then rm -rf --one-file-system "$dir"; fi
        done
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A fresh root of the release: Debian's minimal base with what cloning and make need.
make_root() {
    local dir="$1"
    shift
    if [ -x "$dir/usr/bin/apt-get" ]; then
        say "using the root in $dir"
        return
    fi
    say "making a fresh $suite root in $dir"
    mmdebstrap --quiet --variant=minbase --include="ca-certificates,make,$(IFS=,; echo "$*")" "$suite" "$dir" \
        "deb $MIRROR $suite main" "deb $MIRROR $suite-updates main" \
        "deb $SECURITY_MIRROR $suite-security main"
    cp /etc/resolv.conf "$dir/etc/resolv.conf"
}

mount_inside() {
    local dir="$1"
    # A root used again may still have them from a run that was cut short.
    umount -R "$dir/proc" "$dir/sys" "$dir/dev" "$dir/var/cache/apt/archives" "$dir$CCACHE_INSIDE" 2>/dev/null || true
    mount -t proc proc "$dir/proc"; mounted+=("$dir/proc")
    mount -t sysfs sysfs "$dir/sys"; mounted+=("$dir/sys")
    mount --rbind /dev "$dir/dev"; mount --make-rslave "$dir/dev"; mounted+=("$dir/dev")
    # The release's downloaded packages and compiled objects are kept on this machine
    # between roots: a later root on it downloads and compiles only what changed. The
    # root itself stays fresh; a machine without them fills them.
    mkdir -p "$CACHE/apt/partial" "$CACHE/ccache" "$dir/var/cache/apt/archives" "$dir$CCACHE_INSIDE"
    mount --bind "$CACHE/apt" "$dir/var/cache/apt/archives"; mounted+=("$dir/var/cache/apt/archives")
    mount --bind "$CACHE/ccache" "$dir$CCACHE_INSIDE"; mounted+=("$dir$CCACHE_INSIDE")
}

run_inside() {
    local dir="$1"
    shift
    chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" CCACHE_DIR="$CCACHE_INSIDE" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$*"
}

# Sets the_root to a new folder for a root (or to DIR), cleaned up on the way out.
new_root() {
    local dir="${1:-}"
    [ -n "$dir" ] || dir="$(mktemp -d "/var/tmp/hardcopy-$suite.XXXXXX")"
    mkdir -p "$dir"
    the_root="$(cd "$dir" && pwd)"
    roots+=("$the_root")
}

copy_source() {
    local dir="$1"
    # A root used again keeps its build folder; the files keep their times, so only what
    # changed is built again.
    mkdir -p "$dir$INSIDE"
    find "$dir$INSIDE" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    (cd "$SOURCE" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null -T - -cf -) | tar -xf - -C "$dir$INSIDE"
}

make_targets=()
check_install=0
for t in "${targets[@]}"; do
    if [ "$t" = install-check ]; then check_install=1; else make_targets+=("$t"); fi
done

# The package to install: the one built in the root, or else the working tree's own
# (make package on a host of the same release).
package="$SOURCE/build"
if [ ${#make_targets[@]} -gt 0 ]; then
    new_root "$root"
    build_root="$the_root"
    make_root "$build_root" git
    mount_inside "$build_root"
    copy_source "$build_root"
    say "source copied to $INSIDE; make ${make_targets[*]}"
    run_inside "$build_root" "cd $INSIDE && make ${make_targets[*]}"
    say "make ${make_targets[*]}: done"
    package="$build_root$INSIDE/build"
fi

if [ "$check_install" -eq 1 ]; then
    deb="$(ls "$package"/hardcopy-station_*.deb 2>/dev/null | head -n 1)"
    [ -n "$deb" ] || { say "no package in $package: make package first"; exit 1; }
    new_root
    install_root="$the_root"
    make_root "$install_root" apt
    mount_inside "$install_root"
    cp "$deb" "$install_root/tmp/"
    name="$(basename "$deb")"
    say "apt-get install ./$name in a fresh $suite root"
    # As a new user installs it: with what it recommends (FreeTDS, CUPS).
    run_inside "$install_root" "export DEBIAN_FRONTEND=noninteractive; apt-get update -qq &&
        apt-get install -y -qq -o APT::Install-Recommends=true ./tmp/$name >/dev/null &&
        dpkg -s hardcopy-station | grep -E '^(Version|Depends):'"
    run_inside "$install_root" "hardcopy-station --version"
    run_inside "$install_root" "hardcopy-station --check --demo"
    say "the package installs and checks out on $suite"
fi
say "done in $((SECONDS - started)) s"
