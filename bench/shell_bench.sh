#!/usr/bin/env bash
# Measures the running application against a floor (bench/TrayFloor.cpp: a bare Qt tray program
# with a one-second timer), side by side on one private X server and bus:
#   start → item registered with a StatusNotifierWatcher, start → icon docked in trayer,
#   RSS, PSS and anonymous memory after 30 s, threads, CPU milliseconds a minute and context
#   switches a second with the engine off, off after the settings window and the popover were
#   opened and closed, and on (zen, every 60 s), left click → popover shown, and in when-idle mode
#   the delay of the first movement after the idle threshold.
# Usage: bash bench/shell_bench.sh [BUILD_DIR]   (default build/release; needs the release build)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
app="$build/Morvane.app/bin/morvane"
floor="$build/bench/morvane_tray_floor"
clicker="$build/bench/morvane_click_to_map"
watcher="$here/tests/shell/sni_watcher.py"
for f in "$app" "$floor" "$clicker"; do [ -x "$f" ] || { echo "missing $f (build the release tree first)" >&2; exit 1; }; done

now_ms() { date +%s%3N; }

# A private X server with a window manager, and a private session bus.
with_window_manager=1
source "$here/bench/session.sh"

# A settings file for each program run: not a first launch; `on` switches the engine on in zen mode.
config() { # dir on|idle|off
    mkdir -p "$1/morvane"
    {
        echo "[General]"
        echo "onboarded=true"
        if [ "$2" = idle ]; then
            echo "prefs.v1=\"{\\\"mode\\\":\\\"zen\\\",\\\"interval\\\":10,\\\"policy\\\":\\\"whenIdle\\\",\\\"restoreState\\\":true,\\\"autoCheckUpdates\\\":false}\""
            echo "state.v1=1, 0, 0, 0, 0, 0, 0, 0"
        elif [ "$2" = on ]; then
            echo "prefs.v1=\"{\\\"mode\\\":\\\"zen\\\",\\\"interval\\\":60,\\\"policy\\\":\\\"always\\\",\\\"restoreState\\\":true,\\\"autoCheckUpdates\\\":false}\""
            echo "state.v1=1, 0, 0, 0, 0, 0, 0, 0"
        else
            echo "prefs.v1=\"{\\\"autoCheckUpdates\\\":false}\""
        fi
    } >"$1/morvane/morvane.conf"
}

# --- start → item registered (StatusNotifierWatcher) -------------------------------------------
/usr/bin/python3 -m dbusmock --template "$watcher" >"$work/watcher.log" 2>&1 &
wpid=$!
pids+=($wpid)
for _ in $(seq 200); do grep -q "^" "$work/watcher.log" 2>/dev/null && break; sleep 0.05; done
sleep 1
registered() { # program → milliseconds from exec to its registration
    local before after start pid
    before=$(grep -c RegisterStatusNotifierItem "$work/watcher.log" || true)
    config "$work/sni" off
    start=$(now_ms)
    XDG_CONFIG_HOME="$work/sni" "$1" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 2000); do
        after=$(grep -c RegisterStatusNotifierItem "$work/watcher.log" || true)
        [ "$after" -gt "$before" ] && break
        sleep 0.002
    done
    local stamp
    stamp=$(grep RegisterStatusNotifierItem "$work/watcher.log" | tail -1 | awk '{print $1}')
    kill $pid; wait $pid 2>/dev/null || true
    awk -v s="$stamp" -v t="$start" 'BEGIN{printf "%d", s*1000 - t}'
}
sni_app=(); sni_floor=()
for _ in 1 2 3; do
    sni_app+=("$(registered "$app")"); sni_floor+=("$(registered "$floor")")
done
kill $wpid; wait $wpid 2>/dev/null || true

# --- start → icon docked (trayer) ----------------------------------------------------------------
spawn trayer --edge top --align right --widthtype request --height 28 --transparent false --tint 0xdddddd
sleep 1
# The first window inside trayer's panel (the docked icon): "WxH+X+Y" in root coordinates.
icon_window() {
    xwininfo -root -tree 2>/dev/null | grep -A4 '"panel": ("panel" "trayer")' | tail -n +2 | grep '^ *0x' |
        head -1 | awk '{split($(NF-1), s, "+"); print s[1] $NF}' | grep .
}
docked() { # program → milliseconds from exec to a window of its own inside trayer's panel
    local start pid
    config "$work/xembed" off
    start=$(now_ms)
    XDG_CONFIG_HOME="$work/xembed" "$1" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 5000); do
        icon_window >/dev/null && break
        sleep 0.002
    done
    echo $(($(now_ms) - start))
    kill $pid; wait $pid 2>/dev/null || true
    sleep 0.5
}
dock_app=(); dock_floor=()
for _ in 1 2 3; do
    dock_app+=("$(docked "$app")"); dock_floor+=("$(docked "$floor")")
done

# --- steady state: memory, threads, CPU, context switches ---------------------------------------
status_field() { awk -v k="$2:" '$1==k{print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14+$15}' "/proc/$1/stat"; }
switches() { echo $(($(status_field "$1" voluntary_ctxt_switches) + $(status_field "$1" nonvoluntary_ctxt_switches))); }
hz=$(getconf CLK_TCK)

# Opens the settings window of the running app (through its own command line) and closes it as a
# user would, through the window manager (openbox closes the active window on Alt+F4).
settings_opened_and_closed() { # config-home
    local w=""
    XDG_CONFIG_HOME="$1" "$app" --preferences general
    for _ in $(seq 200); do
        w=$(xdotool search --onlyvisible --name '^Preferencias de Morvane$' 2>/dev/null | head -1) && [ -n "$w" ] && break
        sleep 0.05
    done
    [ -n "$w" ] || { echo "the settings window did not open" >&2; return 1; }
    sleep 1
    xdotool windowactivate --sync "$w" key alt+F4
    for _ in $(seq 200); do
        xdotool search --onlyvisible --name '^Preferencias de Morvane$' >/dev/null 2>&1 || return 0
        sleep 0.05
    done
    echo "the settings window did not close" >&2
    return 1
}

# Opens the popover of the running app (a second start shows it) and closes it with Escape.
popover_opened_and_closed() { # config-home
    XDG_CONFIG_HOME="$1" "$app"
    for _ in $(seq 200); do
        xdotool search --onlyvisible --name '^Morvane$' >/dev/null 2>&1 && break
        sleep 0.05
    done
    sleep 1
    xdotool key Escape
    sleep 0.5
}

steady() { # label engine-state [used] → one line of figures for the app and the floor, run together
    config "$work/steady-$2" "$2"
    XDG_CONFIG_HOME="$work/steady-$2" "$app" >/dev/null 2>&1 &
    local a=$!
    "$floor" >/dev/null 2>&1 &
    local f=$!
    pids+=($a $f)
    if [ "${3:-}" = used ]; then
        sleep 3
        settings_opened_and_closed "$work/steady-$2"
        popover_opened_and_closed "$work/steady-$2"
        sleep 25
    else
        sleep 30
    fi
    local a_rss a_pss a_anon a_thr f_rss f_pss f_anon f_thr
    a_rss=$(status_field $a VmRSS); a_anon=$(status_field $a RssAnon)
    f_rss=$(status_field $f VmRSS); f_anon=$(status_field $f RssAnon)
    a_pss=$(awk '$1=="Pss:"{print $2}' /proc/$a/smaps_rollup); f_pss=$(awk '$1=="Pss:"{print $2}' /proc/$f/smaps_rollup)
    local a0 f0 as0 fs0
    a0=$(cpu_ticks $a); f0=$(cpu_ticks $f); as0=$(switches $a); fs0=$(switches $f)
    sleep 60
    local a_cpu f_cpu a_cs f_cs
    a_cpu=$((($(cpu_ticks $a) - a0) * 1000 / hz)); f_cpu=$((($(cpu_ticks $f) - f0) * 1000 / hz))
    # Threads at the end: Qt's pool threads from start-up have expired by then (30 s idle).
    a_thr=$(status_field $a Threads); f_thr=$(status_field $f Threads)
    a_cs=$(awk -v d=$(($(switches $a) - as0)) 'BEGIN{printf "%.2f", d/60}')
    f_cs=$(awk -v d=$(($(switches $f) - fs0)) 'BEGIN{printf "%.2f", d/60}')
    printf '| %s | %s MB / %s MB | %s MB / %s MB | %s MB / %s MB | %s / %s | %s / %s | %s / %s |\n' "$1" \
        $((a_rss / 1024)) $((f_rss / 1024)) $((a_pss / 1024)) $((f_pss / 1024)) $((a_anon / 1024)) $((f_anon / 1024)) \
        "$a_thr" "$f_thr" "$a_cpu" "$f_cpu" "$a_cs" "$f_cs"
    kill $a $f; wait $a $f 2>/dev/null || true
}

# --- left click → popover shown (the app in trayer) ---------------------------------------------
click_to_popover() {
    config "$work/click" off
    XDG_CONFIG_HOME="$work/click" "$app" >/dev/null 2>&1 &
    local a=$! out=()
    pids+=($a)
    sleep 3
    local w h x y
    read -r w h x y < <(icon_window | awk -F'[x+]' '{print $1, $2, $3, $4}')
    for _ in 1 2 3 4 5; do
        # A click lost before the icon listens would otherwise wait for a map forever.
        out+=("$(timeout 10 "$clicker" $((x + w / 2)) $((y + h / 2)) || echo lost)")
        xdotool key Escape
        sleep 0.5
    done
    kill $a; wait $a 2>/dev/null || true
    echo "${out[*]}"
}

# --- when-idle mode: the first movement after the idle threshold -----------------------------------
# The user's last input (an XTest motion) and the status announcing the movement on the bus; the
# delay is the time between them less the 10-s interval.
idle_threshold_delay() {
    config "$work/idle" idle
    dbus-monitor "type='signal',path='/app/morvane/Morvane',member='PropertiesChanged'" 2>/dev/null |
        while IFS= read -r line; do echo "$(now_ms) $line"; done >"$work/signals" &
    pids+=($!)
    XDG_CONFIG_HOME="$work/idle" "$app" >/dev/null 2>&1 &
    local a=$! out=() seen input stamp
    pids+=($a)
    sleep 3
    # "Trabajando · movió recién": "movi" is in no other status line.
    moved() { grep -ac "movi" "$work/signals" || true; }
    for _ in 1 2 3; do
        # Input within 1.5 s of a movement counts as the movement's own: keep clear of the last one.
        sleep 2
        seen=$(moved)
        input=$(now_ms)
        xdotool mousemove_relative -- 1 1
        for _ in $(seq 400); do [ "$(moved)" -gt "$seen" ] && break; sleep 0.05; done
        stamp=$(grep -a "movi" "$work/signals" | tail -1 | cut -d' ' -f1)
        out+=($((stamp - input - 10000)))
    done
    kill $a; wait $a 2>/dev/null || true
    echo "${out[*]}"
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }

echo "| Measure | Morvane | Floor |"
echo "|---|---|---|"
echo "| start → item registered (SNI), median of 3 | $(median "${sni_app[@]}") ms | $(median "${sni_floor[@]}") ms |"
echo "| start → icon docked (trayer), median of 3 | $(median "${dock_app[@]}") ms | $(median "${dock_floor[@]}") ms |"
clicks=$(click_to_popover)
echo "| left click → popover mapped (XTest click to MapNotify, median of 5) | $(median $clicks) ms | — |"
delays=$(idle_threshold_delay)
echo "| when idle: first movement after the threshold (last input + 10 s to the status signal, median of 3) | $(median $delays) ms | — |"
echo
echo "| Engine | RSS | PSS | anonymous | threads | CPU ms / min | context switches / s |"
echo "|---|---|---|---|---|---|---|"
echo "(Morvane / floor)"
steady off off
steady "off, settings window and popover opened and closed" off used
steady "on (zen, 60 s)" on
