#!/usr/bin/env bash
# Takes screenshots of the widget gallery on a virtual display (Xvfb), driving it with xdotool as
# a person would: the progress bar at 0 %, 37 % and 100 %, the masked edits typed into, and every
# kind of row of the property tree activated once.
#
#   tools/widget-gallery/screenshots.sh [build dir] [output dir]
#
# Defaults: build/main and /tmp/qarn-gallery-shots. Needs Xvfb, ImageMagick's import and xdotool
# (scripts/bootstrap installs them). The virtual display takes the first free display number, so
# that runs side by side (or a display someone else left open) never share a screen;
# QARN_GALLERY_DISPLAY=N asks for display :N instead.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/main}
out=${2:-/tmp/qarn-gallery-shots}
gallery=$build/tools/widget-gallery/qarn-widget-gallery

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

# Xvfb writes the display number it took to the descriptor given with -displayfd once it is
# ready to take clients.
number_file="$out/display"
rm -f "$number_file"
if [ -n "${QARN_GALLERY_DISPLAY:-}" ]; then
    Xvfb ":$QARN_GALLERY_DISPLAY" -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$number_file" \
        >/dev/null 2>&1 &
else
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
fi
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$number_file" ] && break; sleep 0.1; done
[ -s "$number_file" ] || { echo "screenshots: Xvfb did not start (display taken?)" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' <"$number_file")

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
# press NAME DX DY SECONDS: holds the button down that long at DX, DY from the control's top
# right corner (DX counted leftwards; negative is right of the control).
press() {
    read -r x y w h < <(place "$1")
    xdotool mousemove $((x + w - $2)) $((y + $3)) mousedown 1
    sleep "$4"
    xdotool mouseup 1
    sleep 0.3
}
# click_right NAME DX DY: clicks DX, DY from the control's top right corner, as press does.
click_right() {
    read -r x y w h < <(place "$1")
    xdotool mousemove $((x + w - $2)) $((y + $3)) click 1
    sleep 0.5
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

# The property tree, the way the configuration editor's user goes through it: the address typed
# field by field, Tab on to the next value, the MAC, a port held on its up arrow, the letter,
# the system type's list; then one row of every other kind.
click row-ip-address;  type_keys "10.0.7.42"; shot 10-tree-ip-address
key Tab;               shot 11-tree-tab-to-subnet-mask
click row-mac-address; key End; type_keys "ab"; shot 12-tree-mac-address
click row-port-1;      press row-port-1 -3 4 1.5; shot 13-tree-port-held
click row-letter;      shot 14-tree-letter
click row-system-type; click row-system-type; shot 15-tree-system-type-list
key Up Return;         shot 16-tree-system-type-chosen
click row-edit;        shot 17-tree-edit
click row-notes;       shot 18-tree-notes
click row-installed-on; click_right row-installed-on -3 10; shot 19-tree-date-calendar
key Escape Escape
click row-check-box;   shot 20-tree-check-box
click row-radio 30 52; shot 21-tree-radio
click row-colour;      shot 22-tree-colour; key Escape
click row-file;        sleep 1; shot 23-tree-file; key Escape; sleep 0.5
click row-folder;      sleep 1; shot 24-tree-folder; key Escape; sleep 0.5
click row-image;       shot 25-tree-image; key Escape
click row-static;      shot 26-tree-static
click row-single-image; shot 27-tree-single-image
click row-hyperlink-label; shot 28-tree-hyperlink
read -r x y w h < <(place row-edit-label)
xdotool mousemove $((x + w)) $((y + h / 2)) mousedown 1 mousemove $((x + w - 60)) $((y + h / 2))
sleep 0.3; shot 29-tree-column-dragged
xdotool mouseup 1; sleep 0.3; shot 30-tree-column-resized
click treeEnabled;     shot 31-tree-disabled
