#!/usr/bin/env bash
# Takes screenshots of the widget gallery on a virtual display (Xvfb), driving it with xdotool as
# a person would: the progress bar at 0 %, 37 % and 100 %, the masked edits typed into.
#
#   tools/widget-gallery/screenshots.sh [build dir] [output dir]
#
# Defaults: build/main and /tmp/qarn-gallery-shots. Needs Xvfb, ImageMagick's import and xdotool
# (scripts/bootstrap installs them). QARN_GALLERY_DISPLAY picks the display number (default 57).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/main}
out=${2:-/tmp/qarn-gallery-shots}
gallery=$build/tools/widget-gallery/qarn-widget-gallery
display=:${QARN_GALLERY_DISPLAY:-57}

[ -x "$gallery" ] || { echo "screenshots: $gallery is missing; build qarn-widget-gallery" >&2; exit 1; }
for tool in Xvfb import xdotool; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing; run scripts/bootstrap" >&2; exit 1; }
done
mkdir -p "$out"
rm -f "$out"/*.png "$out/geometry.txt"

xvfb_pid=
gallery_pid=
cleanup() {
    [ -n "$gallery_pid" ] && kill "$gallery_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

QT_QPA_PLATFORM=xcb "$gallery" --geometry-file "$out/geometry.txt" &
gallery_pid=$!
for _ in $(seq 100); do [ -s "$out/geometry.txt" ] && break; sleep 0.1; done
[ -s "$out/geometry.txt" ] || { echo "screenshots: the gallery did not start" >&2; exit 1; }

# place NAME -> "x y width height" of the named control
place() { awk -v n="$1" '$1 == n { print $2, $3, $4, $5; found = 1 } END { exit !found }' "$out/geometry.txt"; }
# click NAME [DX [DY]]: clicks DX pixels into the control (default its middle), DY down from its
# top (default its middle).
click() {
    read -r x y w h < <(place "$1")
    xdotool mousemove $((x + ${2:-$((w / 2))})) $((y + ${3:-$((h / 2))})) click 1
    sleep 0.3
}
type_keys() { xdotool type --delay 60 "$1"; sleep 0.3; }
key() { xdotool key --delay 60 "$@"; sleep 0.3; }
# shot NAME: the gallery's window as the screen shows it, into NAME.png
shot() {
    read -r x y w h < <(place window)
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$1.png"
    echo "$out/$1.png"
}

sleep 1
shot 00-start
click set-0;   shot 01-progress-0
click set-37;  shot 02-progress-37
click set-100; shot 03-progress-100

click mac 4;   key End BackSpace BackSpace Home; type_keys "0251"; shot 04-mac-typed
click letter 4; type_keys "Q"; shot 05-letter-typed
