#!/usr/bin/env bash
# Installs what Morvane needs on Debian 12, builds it (Release) and starts it from the build's
# application folder, Morvane.app. Run from a desktop session, as a user who may use sudo (or root).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

source scripts/packages.sh
install_missing_packages "${build_packages[@]}"

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=OFF >/dev/null
ninja -C build/run morvane_bundle
exec build/run/Morvane.app/bin/morvane "$@"
