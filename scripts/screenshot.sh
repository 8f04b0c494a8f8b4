#!/usr/bin/env bash
# Remakes docs/screenshot.png: kestra3's main window with the virtual port panel
# beside it, on a virtual display (Xvfb) with a window manager (openbox), with
# files of its own (the user's settings are not touched). Installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}

scripts/install-deps.sh xvfb openbox imagemagick xdotool
[ -x build/builds/kestra3 ] && [ -x build/panel/kestra-panel ] || scripts/build.sh

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_DATA_HOME=$tmp/data XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb

# A display number that is free: Xvfb reports the one it took.
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$tmp/display")
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

db=$XDG_DATA_HOME/Timer/Kestra3.db
port=$XDG_DATA_HOME/Timer/port-3BC
# First start: the program creates its database; then some settings worth showing.
build/builds/kestra3 >/dev/null 2>&1 &
first=$!
for _ in $(seq 100); do [ -s "$port" ] && break; sleep 0.1; done
sleep 1
kill -TERM "$first"
wait "$first" || true
sqlite3 "$db" "UPDATE SaveSettingsTbl SET Loc1='Porch light', Loc2='Garden pump', Loc3='Hall heater',
  Loc4='Aquarium', Loc8='Bell', Loc9='Door contact', Loc12='Alarm', Auto3='False', On3='True', Off3='False'"
# Main window at the left (placement in twips, 15 twips a pixel at 96 dpi).
printf '[Settings]\nMainLeft=300\nMainTop=300\nMainWidth=6500\nMainHeight=7000\n' >"$XDG_CONFIG_HOME/KESTRA3.ini"

build/builds/kestra3 >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --name '^KESTRA3 \(Port 3BC\)$' >/dev/null
build/panel/kestra-panel 3BC >/dev/null 2>&1 &
pids+=($!)
panel=$(xdotool search --sync --name 'virtual port 3BC' | head -n1)
eval "$(xdotool getwindowgeometry --shell "$(xdotool search --name '^KESTRA3 \(Port 3BC\)$' | head -n1)")"
xdotool windowmove "$panel" $((X + WIDTH + 16)) "$Y"
# Input 1 on, as the panel would set it: bit 7 of the status byte.
printf '\xf8' | dd of="$port" bs=1 seek=1 conv=notrunc status=none
sleep 2

mkdir -p "$(dirname "$out")"
import -window root "$tmp/root.png"
convert "$tmp/root.png" -trim +repage -bordercolor black -border 8 "$out"
echo "written: $out"
