#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine, builds Morvane three ways and runs every test:
#   1. the sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) and its tests,
#   2. the settings fuzzer for a bounded minute,
#   3. the release build with the benchmarks, and its tests (the summary printed last).
# Run as root, or as a user who may use sudo.
#
# MORVANE_STAGES picks stages (default "sanitizer,fuzz,release"); a fourth, "package", builds the .deb
# from the release build, installs it with apt and starts the installed program. MORVANE_RELEASE_LABELS
# limits the release stage's tests to the CTest labels it matches (a regular expression).
# scripts/test-in-root.sh runs this in fresh Debian roots.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

source scripts/packages.sh
# Beyond building: the real X server, window manager, buses, sound server, panels, compositors and shell the
# tests run against; the screenshots that find the tray icon; the checkers of the installed files.
install_missing_packages "${build_packages[@]}" \
    libbenchmark-dev clang "$(clang_runtime_package)" \
    xvfb openbox xdotool x11-utils x11-xserver-utils \
    dbus-daemon python3-dbusmock python3-pyatspi at-spi2-core \
    pulseaudio pulseaudio-utils \
    openssl zip libarchive-tools \
    libglib2.0-bin \
    xfce4-panel xfconf trayer imagemagick \
    mutter sway xwayland foot kwin-wayland \
    desktop-file-utils appstream lintian dpkg-dev fakeroot

# LXQt's panel alone: the session it recommends would bring its own services onto the test buses.
# GNOME Shell for the extension's tests, without the desktop it recommends; on GNOME 43 its notifications
# come from a gjs service of its own, so gjs too.
install_missing_packages --no-install-recommends lxqt-panel gnome-shell gjs

jobs=$(nproc)
fuzz_seconds=${MORVANE_FUZZ_SECONDS:-60}
stages=,${MORVANE_STAGES:-sanitizer,fuzz,release},
release_labels=${MORVANE_RELEASE_LABELS:-}

if [[ $stages == *,sanitizer,* ]]; then
echo "== sanitizer build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_BENCH=OFF >/dev/null
ninja -C build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs"
fi

if [[ $stages == *,fuzz,* ]]; then
echo "== fuzzing the settings and run-state readers for ${fuzz_seconds} s"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DMORVANE_FUZZ=ON -DMORVANE_BENCH=OFF >/dev/null
ninja -C build/fuzz -j "$jobs" settings_fuzz
mkdir -p build/fuzz/corpus
cp -n fuzz/corpus/settings/* build/fuzz/corpus/ 2>/dev/null || true
build/fuzz/fuzz/settings_fuzz -max_total_time="$fuzz_seconds" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 build/fuzz/corpus 2>&1 | tail -n 15
fi

if [[ $stages == *,release,* || $stages == *,package,* ]]; then
echo "== release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/release -j "$jobs"
fi

if [[ $stages == *,package,* ]]; then
echo "== the .deb, installed with apt and started"
bash scripts/try-package.sh build/release
fi

if [[ $stages == *,release,* ]]; then
echo "== release tests${release_labels:+ (labels: $release_labels)}"
ctest --test-dir build/release --output-on-failure -j "$jobs" ${release_labels:+-L "$release_labels"}
fi
