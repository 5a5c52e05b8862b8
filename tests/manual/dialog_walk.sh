#!/usr/bin/env bash
# Walks through the main window under Xvfb and openbox as a user would, by keyboard, and takes
# screenshots: a cancelled run and a clean run with their summaries, the About box reached by
# keyboard, the window at 1024 x 600
# and at scale 2 on 1280 x 800, and the German window with a German summary.
# Not part of CTest: look at the pictures. Needs xvfb, openbox, xdotool, imagemagick, x11-utils.
#
#   tests/manual/dialog_walk.sh [BUILD_DIR] [SHOTS_DIR]      (defaults: build, /tmp/quillet-walk)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build}")
shots=$(mkdir -p "${2:-/tmp/quillet-walk}" && realpath "${2:-/tmp/quillet-walk}")
program="$build/app/gui/quillet"
for tool in Xvfb openbox xdotool import convert xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
[ -x "$program" ] || { echo "build the program first: cmake --build $build --target quillet" >&2; exit 2; }

scratch=$(mktemp -d /tmp/quillet-walk.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# 600 photographs, hard links to one, so that a run lasts long enough to be cancelled.
photos="$scratch/photos"
mkdir -p "$photos" "$scratch/thumbs"
convert -size 3000x2000 gradient:khaki-steelblue -quality 90 "$scratch/one.jpg"
for i in $(seq -w 1 600); do ln "$scratch/one.jpg" "$photos/IMG_$i.jpg"; done

export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
mkdir -p "$XDG_CONFIG_HOME/Brackenfold"
printf '[Settings]\nPathIn=%s\nPathOut=%s\n' "$photos" "$scratch/thumbs" >"$XDG_CONFIG_HOME/Brackenfold/Quillet.conf"

# Starts a display of size $1 with openbox on it.
display_up() {
  display=91
  while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 "$1x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 &
  wm=$!
  pids+=("$wm")
  sleep 1
}
display_down() {
  kill "$wm" "$xvfb" 2>/dev/null || true
  wait "$wm" "$xvfb" 2>/dev/null || true
}
shot() {
  sleep "${2:-0.7}"
  import -window root "$shots/$1.png"
  echo "  $shots/$1.png"
}
wait_window() {
  timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null || { echo "no window \"$1\"" >&2; exit 1; }
  sleep 0.5
}
wait_gone() {
  for _ in $(seq 600); do xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0; sleep 0.2; done
}
start_program() {
  "$program" 2>>"$scratch/stderr.txt" &
  app=$!
  pids+=("$app")
  wait_window Quillet
}
quit_program() {
  xdotool key Escape
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || return 0; sleep 0.1; done
  kill "$app" 2>/dev/null || true
}
# The focus starts on the source's ">>>"; START is the tenth tab stop from there while the
# default portrait rule keeps the rules buttons disabled.
to_start() { xdotool key --delay 60 Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab; }

echo "Screenshots:"
display_up 1280x800
start_program
shot 01-main-1280x800
to_start
xdotool key space
wait_window Processing
sleep 1.5
xdotool key Escape          # Cancel
wait_gone Processing
shot 02-cancelled-summary 1
xdotool key Return          # OK; the focus goes back to START
sleep 0.5
xdotool key space
wait_window Processing
shot 03-progress 1
wait_gone Processing
shot 04-clean-summary 1
xdotool key Return
sleep 0.5
# About by keyboard: the focus is on START again; Exit and then About follow it.
xdotool key --delay 60 Tab Tab space
wait_window "About Quillet"
shot 04b-about-by-keyboard 0.3
xdotool key Return
sleep 0.5
quit_program
display_down

display_up 1024x600
start_program
shot 05-main-1024x600
to_start
shot 06-1024x600-tabbed-to-start 0.5
quit_program
display_down

display_up 1280x800
QT_SCALE_FACTOR=2 start_program
shot 07-scale2-1280x800
quit_program
display_down

display_up 1280x800
LANG=de_DE.UTF-8 start_program
shot 08-german-main
to_start
xdotool key space
wait_window Verarbeitung
sleep 1.5
xdotool key Escape
wait_gone Verarbeitung
shot 09-german-cancelled-summary 1
xdotool key Return
quit_program
display_down
echo "Thumbnails in the destination: $(find "$scratch/thumbs" -type f | wc -l)"
