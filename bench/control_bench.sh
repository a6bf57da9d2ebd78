#!/usr/bin/env bash
# Measures the command-line client against a running Morvane: `morvane --status`, from exec to
# exit, on a private X server and session bus (the goal is 30 ms or less). Also times --toggle,
# --diagnose (goal: 100 ms or less) and the answer when no Morvane runs.
# Usage: bash bench/control_bench.sh [BUILD_DIR] [RUNS]   (default build/release, 20 runs)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
runs=${2:-20}
app="$build/Morvane.app/bin/morvane"
[ -x "$app" ] || { echo "missing $app (build the tree first)" >&2; exit 1; }

source "$here/bench/session.sh"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/morvane"
printf '[General]\nonboarded=true\nprefs.v1="{\\"autoCheckUpdates\\":false}"\n' >"$XDG_CONFIG_HOME/morvane/morvane.conf"

# Milliseconds (three decimals) from exec to exit of one client run; its output is dropped.
timed() {
    local start end
    start=$EPOCHREALTIME
    "$app" "$@" >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" 'BEGIN{printf "%.1f", (e - s) * 1000}'
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
series() { # label args… → one table row over $runs runs
    local label=$1 t=()
    shift
    for _ in $(seq "$runs"); do t+=("$(timed "$@")"); done
    local sorted
    sorted=$(printf '%s\n' "${t[@]}" | sort -n)
    printf '| %s | %s ms | %s ms | %s ms |\n' "$label" "$(median "${t[@]}")" \
        "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")"
}

echo "| morvane … ($runs runs, exec → exit) | median | min | max |"
echo "|---|---|---|---|"
series "--status, no Morvane running" --status

"$app" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do "$app" --status >/dev/null 2>&1 && break; sleep 0.05; done
"$app" --for 30m
series "--status (timer running)" --status
series "--toggle" --toggle
series "--diagnose" --diagnose
"$app" --quit
