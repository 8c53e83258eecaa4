#!/usr/bin/env bash
# Fleet firmware update benchmark on a simulated LAN (scripts/testlan): N simulated converters
# (default 100, both layouts alternating: 3.1.20.4 takes the 1024-byte transfer, 2.4.9.3 the fixed
# layout) updated by qarn-converter-ctl
#   one:        flash 198.18.1.1                       (one converter alone, the single update)
#   parallel:   flash --all --parallel N --json        (every converter at once)
#   sequential: flash --all --parallel 1 --json        (one after another)
# each with the restart wait on (or off with --no-wait-restart), against a fresh simulator every
# run. Every run's verdicts are counted against the simulator's own record: its state dump (SIGUSR1)
# must show every converter at its new version, and its log one restart per converter, and the
# tool's summary must say "updated" as often.
#
#   bench/fleet_flash.sh [--build DIR] [--count N] [--runs R] [--sequential-runs S]
#                        [--no-wait-restart] [--modes "one parallel sequential"]
#
# DIR is a build tree with qarn-converter-ctl and qarn-converter-sim (default build/main). R runs
# (default 3) of "one" and "parallel", S (default 1) of "sequential", which takes N times as long
# as one converter's transfer and restart wait (about 9 minutes for 100 with the wait). Needs root,
# or user namespaces for an ordinary user; the LAN (QARN_TESTLAN_NAME, default qfleetb) is made
# here and removed at the end, and nothing touches the machine's own network.
#
# Output: one line per run, then the median wall time per mode and the ratio parallel / one.
#
# Measured on the development machine (2 cores, quiet), 100 converters, restart wait on, medians
# of 3 runs: one alone 6.36 s, all 100 with --parallel 100 11.24 s (1.77 times one; goal below 3),
# every verdict right; one after another (1 run) 537 s.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/main
count=100
runs=3
seq_runs=1
wait_flag=()
modes="one parallel sequential"
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --count) count=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --sequential-runs) seq_runs=$2; shift 2 ;;
    --no-wait-restart) wait_flag=(--no-wait-restart); shift ;;
    --modes) modes=$2; shift 2 ;;
    *) echo "fleet_flash.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

export QARN_TESTLAN_NAME=${QARN_TESTLAN_NAME:-qfleetb}
testlan=$root/scripts/testlan
sim=$build/tools/converter-sim/qarn-converter-sim
ctl=$build/bin/qarn-converter-ctl
for f in "$sim" "$ctl"; do
    [ -x "$f" ] || { echo "fleet_flash.sh: $f is missing (build it first)" >&2; exit 1; }
done
"$testlan" check >/dev/null || { echo "fleet_flash.sh: this machine cannot build a simulated LAN" >&2; exit 77; }

work=$(mktemp -d /tmp/qarn-fleetbench-XXXXXX)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    "$testlan" down >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$testlan" up --converters "$count" >/dev/null

# start_sim: a fresh fleet (every converter at its old version); waits for the ready line.
start_sim() {
    rm -f "$work/sim.jsonl" "$work/state.json"
    "$testlan" lan-exec "$sim" --count "$count" --mix extended=1,standard=1 --seed 11 \
        --delay 0-200 --address-control ip --log "$work/sim.jsonl" --state "$work/state.json" \
        >/dev/null 2>&1 &
    for _ in $(seq 200); do
        sim_pid=$(sed -n 's/.*"event":"ready".*"pid":\([0-9]*\).*/\1/p' "$work/sim.jsonl" 2>/dev/null || true)
        [ -n "$sim_pid" ] && return 0
        sleep 0.05
    done
    echo "fleet_flash.sh: the simulator did not start" >&2
    exit 1
}

# stop_sim: its state dump first; prints "<converters at a new version> <restarts>".
stop_sim() {
    kill -USR1 "$sim_pid"
    for _ in $(seq 100); do
        grep -q '"event":"state_written"' "$work/sim.jsonl" 2>/dev/null && break
        sleep 0.05
    done
    kill "$sim_pid" 2>/dev/null || true
    sim_pid=
    sleep 0.3
    local updated restarts
    updated=$(python3 -c 'import json, sys
print(sum(c["version"] in ("3.2.62.11", "2.4.10.23") for c in json.load(open(sys.argv[1]))["converters"]))' "$work/state.json")
    restarts=$(grep -c '"event":"restart_end"' "$work/sim.jsonl" || true)
    echo "$updated $restarts"
}

now() { date +%s.%N; }

declare -A times
run_mode() { # run_mode MODE N -> appends wall seconds to times[MODE]
    local mode=$1 n=$2 i start end status out expect reported sim_record
    for i in $(seq "$n"); do
        start_sim
        out="$work/out-$mode-$i.txt"
        start=$(now)
        set +e
        case $mode in
        one) "$testlan" exec "$ctl" flash 198.18.1.1 --allow-placeholder-images "${wait_flag[@]}" >"$out" 2>&1 ;;
        parallel) "$testlan" exec "$ctl" flash --all --parallel "$count" --json --allow-placeholder-images "${wait_flag[@]}" >"$out" 2>&1 ;;
        sequential) "$testlan" exec "$ctl" flash --all --parallel 1 --json --allow-placeholder-images "${wait_flag[@]}" >"$out" 2>&1 ;;
        esac
        status=$?
        set -e
        end=$(now)
        sim_record=$(stop_sim)
        if [ "$mode" = one ]; then
            expect=1
            reported=$(grep -c "now has firmware" "$out" || true)
        else
            expect=$count
            reported=$(sed -n 's/.*"event":"summary".*"updated":\([0-9]*\).*/\1/p' "$out")
        fi
        local secs verdict=right
        secs=$(echo "$end - $start" | bc)
        [ "$status" -eq 0 ] && [ "${reported:-0}" -eq "$expect" ] &&
            [ "$sim_record" = "$expect $expect" ] || verdict=WRONG
        printf '%-10s run %d: %7.2f s  exit %d  tool updated %s  simulator: %s new versions, %s restarts  verdicts %s\n' \
            "$mode" "$i" "$secs" "$status" "${reported:-?}" ${sim_record} "$verdict"
        [ "$verdict" = right ] || { echo "  output kept: $(cp "$out" /tmp/ && echo /tmp/$(basename "$out"))"; }
        times[$mode]="${times[$mode]:-} $secs"
    done
}

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

echo "fleet of $count converters, restart wait ${wait_flag[*]:-on}"
for mode in $modes; do
    case $mode in
    sequential) run_mode "$mode" "$seq_runs" ;;
    *) run_mode "$mode" "$runs" ;;
    esac
done
echo
for mode in $modes; do
    printf 'median %-10s %8.2f s\n' "$mode" "$(echo "${times[$mode]}" | median)"
done
if [ -n "${times[one]:-}" ] && [ -n "${times[parallel]:-}" ]; then
    printf 'parallel / one: %.2f (goal: below 3)\n' \
        "$(echo "$(echo "${times[parallel]}" | median) / $(echo "${times[one]}" | median)" | bc -l)"
fi
