#!/usr/bin/env bash
# Drives the desktop program under Xvfb (1280 x 800) and openbox with xdotool, the way a user
# would, and takes screenshots of the main window, the folder browser after "Create New Folder"
# and a rename, the progress window, the summary with its details and the About box.
# Not part of CTest: look at the pictures. Needs xvfb, openbox, xdotool, imagemagick, x11-utils.
#
#   tests/manual/screens.sh [BUILD_DIR] [SHOTS_DIR]      (defaults: build, /tmp/quillet-shots)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build}")
shots=$(mkdir -p "${2:-/tmp/quillet-shots}" && realpath "${2:-/tmp/quillet-shots}")
program="$build/app/gui/quillet"
samples="$root/samples/photos"
for tool in Xvfb openbox xdotool import xprop; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install xvfb openbox xdotool imagemagick x11-utils)" >&2; exit 2; }
done
[ -x "$program" ] || { echo "build the program first: cmake --build $build --target quillet" >&2; exit 2; }
[ -f "$samples/valley.jpg" ] || { echo "make the samples first: $build/samples/quillet-make-samples $samples" >&2; exit 2; }

scratch=$(mktemp -d /tmp/quillet-screens.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# A display nobody holds.
display=91
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
export DISPLAY=":$display"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# A library big enough that the progress window stays up: 160 photographs (hard links to the
# samples) and a file that is not a picture, which the run skips.
photos="$scratch/photos"
mkdir -p "$photos" "$scratch/thumbs"
i=1
while [ "$i" -le 160 ]; do
  for sample in valley.jpg ridge.JPG tower.jpg; do
    [ "$i" -le 160 ] || break
    ln "$samples/$sample" "$photos/$(printf 'IMG_%04d.jpg' "$i")" 2>/dev/null || cp "$samples/$sample" "$photos/$(printf 'IMG_%04d.jpg' "$i")"
    i=$((i + 1))
  done
done
cp "$samples/notes.jpg" "$photos/notes.jpg"

export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
mkdir -p "$XDG_CONFIG_HOME/Brackenfold"
printf '[Settings]\nPathIn=%s\nPathOut=%s\n' "$photos" "$scratch/thumbs" >"$XDG_CONFIG_HOME/Brackenfold/Quillet.conf"

shot() {
  sleep "${2:-0.7}"
  import -window root "$shots/$1.png"
  echo "  $shots/$1.png"
}
# The window that has the focus once one named $1 is shown.
wait_window() {
  timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null || { echo "no window \"$1\"" >&2; exit 1; }
  sleep 0.5
  xdotool getactivewindow
}
hints() {
  echo "== $1"
  xprop -id "$2" _NET_WM_ALLOWED_ACTIONS WM_NORMAL_HINTS
}

echo "Screenshots:"
"$program" 2>"$scratch/stderr.txt" &
app=$!
pids+=("$app")
main=$(wait_window Quillet)
shot 01-main-window
hints "main window" "$main" >"$shots/window-hints.txt"

# The destination's ">>>": the focus starts on the source's; the destination path comes next.
xdotool key Tab Tab space
browser=$(wait_window "Select Destination")
# "New Folder" from the view's context menu, renamed while its name is being edited.
eval "$(xdotool getwindowgeometry --shell "$browser")"
xdotool mousemove $((X + WIDTH / 2 + 50)) $((Y + HEIGHT / 2)) click 1
sleep 0.3
xdotool key Menu
sleep 0.5
xdotool key n
sleep 0.8
xdotool key ctrl+a
xdotool type --delay 40 "Holiday thumbs"
xdotool key Return
shot 02-folder-browser-renamed 1
# From the view Tab reaches the Folder field, where Enter is OK.
xdotool key Tab Return
sleep 1
shot 03-main-window-after-browse 0.3

# The focus is back on the destination's ">>>"; START is the ninth tab stop from there.
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab Tab space
progress=$(wait_window Processing)
hints "progress window" "$progress" >>"$shots/window-hints.txt"
shot 04-progress-window 4

# The summary once the run is over, then its details.
for _ in $(seq 1200); do xdotool search --onlyvisible --name "^Processing\$" >/dev/null 2>&1 || break; sleep 0.5; done
sleep 1
shot 05-summary 0
xdotool key Tab space
shot 06-summary-details 0.8
xdotool key Escape
sleep 0.5

# About from the dialog's context menu (the Menu key on START reaches the dialog).
xdotool key Menu
sleep 0.5
xdotool key a
about=$(wait_window "About Quillet")
shot 07-about-box
hints "About box" "$about" >>"$shots/window-hints.txt"
xdotool key Return
sleep 0.5

# Esc closes the program; it should be gone at once.
started=$(date +%s%N)
xdotool key Escape
while kill -0 "$app" 2>/dev/null && [ $(($(date +%s%N) - started)) -lt 5000000000 ]; do sleep 0.02; done
echo "Program ended $(( ($(date +%s%N) - started) / 1000000 )) ms after Esc"
cat "$shots/window-hints.txt"
if grep -E "MAXIMIZE|RESIZE" "$shots/window-hints.txt"; then echo "a window can be maximised or resized" >&2; fi
echo "Thumbnails written: $(find "$scratch/thumbs" -type f | wc -l) into: $(ls "$scratch/thumbs")"
