#!/usr/bin/env bash
# Runs Morvane's tests in a brand-new Debian root, so that nothing this machine has gathered (packages,
# caches, fonts, a build) can make them pass where a new machine would fail:
#
#   scripts/test-in-root.sh bookworm     Debian 12: scripts/test.sh (sanitizer build with every test,
#                                        the settings fuzzer)
#   scripts/test-in-root.sh trixie       Debian 13: scripts/test.sh's release build, the .deb built,
#                                        installed with apt and started, and the unit, offscreen and
#                                        Wayland tests
#   scripts/test-in-root.sh SUITE -- CMD ...   runs CMD in the root's copy of the source instead
#
# Needs root and debootstrap. The bare root (debootstrap --variant=minbase) is kept as a tarball and the
# downloaded packages in a cache (both under $MORVANE_ROOT_CACHE, default ~/.cache/morvane-roots), so a
# second run downloads nothing; the root itself is made afresh from the tarball every run and removed
# at the end. The source copied in is the working tree's tracked and untracked files, not build/.
set -euo pipefail

die() {
    echo "test-in-root.sh: $*" >&2
    exit 2
}

suite=${1:-}
case "$suite" in
bookworm | trixie) shift ;;
*) die "usage: test-in-root.sh bookworm|trixie [-- COMMAND ...]" ;;
esac
command=()
if [ "${1:-}" = -- ]; then
    shift
    command=("$@")
fi
[ "$(id -u)" -eq 0 ] || die "must run as root (it mounts and chroots)"
command -v debootstrap >/dev/null || {
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap
}

here=$(cd "$(dirname "$0")/.." && pwd)
mirror=${MORVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${MORVANE_ROOT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/morvane-roots}
tarball=$cache/$suite-minbase.tar
mkdir -p "$cache/$suite/archives/partial" "$cache/$suite/lists/partial"

if [ ! -s "$tarball" ]; then
    echo "== making a bare $suite root (kept as $tarball)"
    bare=$(mktemp -d /var/tmp/morvane-bare.XXXXXX)
    debootstrap --variant=minbase --cache-dir="$cache/$suite/archives" "$suite" "$bare" "$mirror" >/dev/null
    tar -C "$bare" -cf "$tarball.part" .
    rm -rf --one-file-system "$bare"
    mv "$tarball.part" "$tarball"
fi

root=$(mktemp -d /var/tmp/morvane-root-$suite.XXXXXX)
run=
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    # The mounts live in the run's own mount namespace, and its processes in their own PID namespace:
    # both end when the namespace's first process does, so only the files are left to remove.
    if [ -n "$run" ]; then
        # unshare ignores SIGTERM while its child runs; killed, it takes the child (and so the
        # namespace's every process) with it.
        kill -KILL "$run" 2>/dev/null || true
        wait "$run" 2>/dev/null || true
    fi
    rm -rf --one-file-system "$root"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "== unpacking a fresh $suite root in $root"
tar -C "$root" -xf "$tarball"
# It becomes /, which the tests' unprivileged servers (sway) must be able to walk; tar gave it the
# mode of the folder the bare root was made in.
chmod 0755 "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
{
    echo "deb $mirror $suite main"
    echo "deb $mirror $suite-updates main"
    echo "deb ${mirror%/debian}/debian-security $suite-security main"
} >"$root/etc/apt/sources.list"
# Keep what apt downloads, so the cache fills for the next run.
echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$root/etc/apt/apt.conf.d/01keep-debs"
# Services started by package scripts would run inside the root and outlive the command.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

echo "== copying the source in"
mkdir -p "$root/src/morvane"
git -C "$here" ls-files -z --cached --others --exclude-standard |
    (cd "$here" && tar --null --ignore-failed-read -T - -cf -) | tar -C "$root/src/morvane" -xf -

if [ ${#command[@]} -eq 0 ]; then
    case "$suite" in
    bookworm) command=(env MORVANE_STAGES=sanitizer,fuzz bash scripts/test.sh) ;;
    trixie) command=(env MORVANE_STAGES=release,package MORVANE_RELEASE_LABELS='unit|gui|wayland' bash scripts/test.sh) ;;
    esac
fi

echo "== running in the $suite root: ${command[*]}"
# A private mount namespace keeps every mount away from this machine's own (a bind of /dev would
# otherwise propagate what is mounted on it back to the host), and a PID namespace of its own makes
# sure no server a test started outlives the run.
unshare --mount --propagation private --pid --fork --kill-child=SIGKILL /bin/bash -euc '
root=$1 cache=$2
shift 2
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mount --bind "$cache/lists" "$root/var/lib/apt/lists"
exec chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
' bash "$root" "$cache/$suite" ${MORVANE_FUZZ_SECONDS:+MORVANE_FUZZ_SECONDS=$MORVANE_FUZZ_SECONDS} \
    /bin/bash -c 'cd /src/morvane && exec "$@"' bash "${command[@]}" &
# In the background, so that a signal reaches the traps at once rather than when the command ends.
run=$!
wait "$run"
