#!/usr/bin/env bash
# The window program started beside a running `kestra3 --headless` to its main
# window on the screen: the attached window is shown once it holds the switch's
# state (or after 2 s without it, which this counts as a failure), so the moment
# the X server has the window is the moment the state is on the screen.
# Runs a virtual display of its own (Xvfb) and polls it with xwininfo every 10 ms
# (the figures are that much coarse). Every run gets fresh XDG directories, so a
# kestra3 the user runs is not touched. Needs bash 5, coreutils, xvfb, x11-utils.
set -euo pipefail

runs=${1:-10}
kestra3=$(realpath "${KESTRA3:-build/builds/kestra3}")
tmp=$(mktemp -d)
export XDG_DATA_HOME=$tmp/data XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[Api]\nPort=0\n' >"$XDG_CONFIG_HOME/KESTRA3.ini"
chmod 600 "$XDG_CONFIG_HOME/KESTRA3.ini"

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

# Xvfb picks a free display and names it.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$tmp/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 500); do [[ -s $tmp/display ]] && break; sleep 0.02; done
display=:$(head -n1 "$tmp/display")
QT_QPA_PLATFORM=offscreen "$kestra3" --headless 2>"$tmp/service.err" &
pids+=($!)
for _ in $(seq 500); do
    [[ -e $XDG_RUNTIME_DIR/kestra/kestra3-api.json ]] && xwininfo -display "$display" -root >/dev/null 2>&1 && break
    sleep 0.02
done
[[ -e $XDG_RUNTIME_DIR/kestra/kestra3-api.json ]] || { echo "the service did not start:" >&2; cat "$tmp/service.err" >&2; exit 1; }
xwininfo -display "$display" -root >/dev/null || { echo "no virtual display" >&2; exit 1; }

times=()
for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    DISPLAY=$display QT_QPA_PLATFORM=xcb "$kestra3" 2>>"$tmp/windows.err" &
    w=$!
    until xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"KESTRA3 (Port 3BC)"'; do
        kill -0 "$w" 2>/dev/null || { echo "the window program ended:" >&2; cat "$tmp/windows.err" >&2; exit 1; }
        sleep 0.01
    done
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000000)))
    kill -TERM "$w"
    wait "$w" || true
done

sorted=($(printf '%s\n' "${times[@]}" | sort -n))
n=${#sorted[@]}
echo "window program started to showing the running switch's state, ms (n=$n):" \
    "min ${sorted[0]} median ${sorted[$((n / 2))]} max ${sorted[$((n - 1))]}"
