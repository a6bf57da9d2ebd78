#!/usr/bin/env bash
# Installs what Morvane needs on Debian 12, builds it (Release) and starts it from the build's
# application folder, Morvane.app. Run from a desktop session, as a user who may use sudo (or root).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-qpa-plugins
    libx11-dev libxtst-dev libxss-dev libxcb1-dev libpulse-dev
    libarchive-dev libssl-dev
    libgtest-dev libgmock-dev
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=OFF >/dev/null
ninja -C build/run morvane_bundle
exec build/run/Morvane.app/bin/morvane "$@"
