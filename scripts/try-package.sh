#!/usr/bin/env bash
# Builds the Debian package from a release build, installs it with apt as a user would, starts the
# installed program in a session of its own (Xvfb, a private session bus), asks it for its status and
# quits it, then removes the package. Run as root, or as a user who may use sudo.
#
#   scripts/try-package.sh BUILD-DIR
set -euo pipefail

build=${1:?usage: try-package.sh BUILD-DIR}
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/scripts/packages.sh"
install_missing_packages xvfb dbus-daemon dpkg-dev

out=$(mktemp -d)
work=$(mktemp -d)
xvfb=
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$out" "$work"
}
trap cleanup EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/*.deb)
echo "built $(basename "$deb")"
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null
dpkg-query -W -f='installed ${Package} ${Version}\n' morvane

# A session of its own, so that nothing of this machine's desktop answers for it.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
dbus-run-session -- bash -euc '
    morvane >"$HOME/morvane.log" 2>&1 &
    for _ in $(seq 100); do
        if status=$(morvane --status 2>/dev/null); then break; fi
        sleep 0.2
    done
    [ -n "${status:-}" ] || { echo "the installed morvane never answered:"; cat "$HOME/morvane.log"; exit 1; }
    echo "the installed morvane answers --status:"
    echo "$status" | sed "s/^/    /"
    morvane --quit
    wait
'
as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q morvane >/dev/null
echo "package installed, started, quit and removed"
