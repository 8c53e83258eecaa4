#!/usr/bin/env bash
# The window end to end on a simulated LAN of its own, on a virtual display of its own (Xvfb): the
# window lists the fleet (a converter without echo in red), a converter's settings are opened,
# port 1 of one is changed and written (the simulator must receive exactly that write), a
# converter's firmware is updated with the progress bar to the success message and comes back
# with its new version, another takes the whole image but keeps its old firmware and the window
# says the update did not take effect, naming the old version, and a second start of the program ends at once and brings the window
# forward. qarn-window-tour drives the real window as a user would and checks each step.
#
#   window_e2e.sh TOUR PROGRAM SIMULATOR
#
# Needs Xvfb (scripts/bootstrap installs it); skipped (77) without. QARN_TEST_SCREENSHOTS=DIR keeps
# the screenshots of the run there.
set -uo pipefail

tour=${1:?qarn-window-tour}
program=${2:?qarn-converter-config}
sim=${3:?qarn-converter-sim}
testlan=${QARN_TESTLAN:?}

command -v Xvfb >/dev/null || {
    echo "SKIPPED: Xvfb is missing (scripts/bootstrap installs it)"
    exit 77
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qarn-window-e2e-XXXXXX")
# The simulator runs as root in the LAN namespace, the window as the caller.
chmod 755 "$work"
xvfb_pid=""
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb takes the first free number and writes it to descriptor 3 once it
# takes clients.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || {
    echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
    exit 1
}
display=:$(tr -d '[:space:]' <"$work/display")

cat >"$work/fleet.json" <<'JSON'
{
  "seed": 5,
  "defaults": { "delay_ms": [0, 300] },
  "converters": [
    { "ip": "198.18.1.1", "kind": "extended", "version_after_update": "3.1.20.4" },
    { "ip": "198.18.1.2", "kind": "standard" },
    { "ip": "198.18.1.3", "kind": "blocks" },   { "ip": "198.18.1.4", "kind": "extended" },
    { "ip": "198.18.1.5", "kind": "legacy" },   { "ip": "198.18.1.6", "kind": "extended" },
    { "ip": "198.18.1.7", "kind": "both" },     { "ip": "198.18.1.8", "kind": "other" }
  ]
}
JSON
"$testlan" up --converters 8 || exit 1
"$testlan" deaf 198.18.1.6 || exit 1
"$testlan" lan-exec "$sim" --config "$work/fleet.json" --address-control ip \
    --log "$work/sim.jsonl" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '"event":"ready"' "$work/sim.jsonl" 2>/dev/null && break
    sleep 0.1
done
grep -q '"event":"ready"' "$work/sim.jsonl" || {
    echo "FAIL: the simulator did not start: $(cat "$work/sim.out")" >&2
    exit 1
}

# Private settings, runtime folder (instance guard) and diagnostics store.
mkdir -p "$work/config" "$work/run" "$work/registry" "$work/shots"
chmod 700 "$work/run"
shots=${QARN_TEST_SCREENSHOTS:-$work/shots}
mkdir -p "$shots"
"$testlan" exec env DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/run" QARN_REGISTRY_ROOT="$work/registry" \
    "$tour" --screenshots "$shots" --expect 8 --deaf 198.18.1.6 --select 198.18.1.7 \
    --write 198.18.1.1 --sim-log "$work/sim.jsonl" --flash 198.18.1.4 \
    --flash-stale 198.18.1.1 \
    --second-start "$program" --limit 40
status=$?
[ $status -eq 0 ] || echo "FAIL: the window tour failed (exit $status)" >&2
exit $status
