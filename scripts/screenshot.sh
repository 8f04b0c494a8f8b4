#!/usr/bin/env bash
# Remakes docs/screenshot.png: kestra3's main window with the virtual port panel
# beside it, on a virtual display (Xvfb) with a window manager (openbox), with
# files of its own (the user's settings are not touched). Installs what it needs.
#   scripts/screenshot.sh [FILE]     the README's picture (docs/screenshot.png)
#   scripts/screenshot.sh --windows  docs/screenshots/: the main window at its first
#                                    size with the next switchings, an output with no
#                                    mode, the week, the windows beside each other
set -euo pipefail
cd "$(dirname "$0")/.."
windows=false
if [ "${1:-}" = --windows ]; then
  windows=true
  shift
fi
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
screen=1280x800x24
$windows && screen=1600x1000x24
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
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

if ! $windows; then
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
  exit 0
fi

# Outputs 1, 2 and 8 on schedules, 3 ON, 5 held by input 3; 4, 6 and 7 without a
# mode, as a new settings file leaves them, and input 1 mapped onto output 4.
# No placement: the main window opens at its first size.
sqlite3 "$db" "UPDATE SaveSettingsTbl SET Loc1='Porch light', Loc2='Garden pump', Loc3='Hall heater',
  Loc4='Aquarium', Loc5='Fan', Loc8='Bell', Loc9='Door contact', Loc11='Motion', Loc12='Alarm',
  Auto='True', Sun1='True', Mon1='True', Tue1='True', Wed1='True', Thr1='True', Fri1='True', Sat1='True',
  Start1a='18:00:00', Run1a='05:30:00',
  Auto2='True', Mon2='True', Wed2='True', Fri2='True', Start2a='07:00:00', Run2a='00:45:00', On3='True',
  Auto5='True', \"3INP ON5\"='True', INP3TIME='00:10:00',
  Auto8='True', Mon8='True', Tue8='True', Wed8='True', Thr8='True', Fri8='True',
  Start8a='08:00:00', Run8a='00:00:05', Start8b='12:00:00', Run8b='00:00:05', \"1INP ON4\"='True'"
shots=docs/screenshots
mkdir -p "$shots"
build/builds/kestra3 >/dev/null 2>&1 &
pids+=($!)
main=$(xdotool search --sync --name '^KESTRA3 \(Port 3BC\)$' | head -n1)
sleep 1
# Input 3 on for a second and off again: output 5 is held ON for ten minutes.
printf '\x58' | dd of="$port" bs=1 seek=1 conv=notrunc status=none
sleep 1.5
printf '\x78' | dd of="$port" bs=1 seek=1 conv=notrunc status=none
sleep 1.5
import -frame -window "$main" "$shots/main-next.png"

# Where the buttons are in the main window's client area at 96 dpi.
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.7; }
button() { click 104 $((59 + ($1 - 1) * 30)); }
button 4
import -frame -window "$(xdotool search --name '^ 4 ' | head -n1)" "$shots/no-mode.png"
for m in 1 2 3 5; do button "$m"; done
click 70 458 # Inputs
sleep 1
import -window root -crop 1180x560+0+0 "$shots/beside.png"

click 180 458 # Week
week=$(xdotool search --sync --name 'KESTRA3 - Week' | head -n1)
sleep 1
import -frame -window "$week" "$shots/week.png"
echo "written: $shots/main-next.png $shots/no-mode.png $shots/beside.png $shots/week.png"
