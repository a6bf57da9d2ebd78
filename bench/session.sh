# Sourced by the benchmark scripts: a work folder, a private X server (with openbox when
# `with_window_manager` is 1) and a private session bus, all gone when the script exits.
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

spawn() { "$@" & pids+=($!); }

for n in $(seq 300 399); do [ -e "/tmp/.X$n-lock" ] || break; done
export DISPLAY=":$n"
spawn Xvfb "$DISPLAY" -noreset -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
if [ "${with_window_manager:-0}" = 1 ]; then spawn openbox --sm-disable; fi
eval "$(dbus-launch --sh-syntax)"
pids+=("$DBUS_SESSION_BUS_PID")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
