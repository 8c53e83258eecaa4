#!/usr/bin/env bash
# Firmware transfer benchmark and loss measurement on simulated LANs (scripts/testlan). Needs root,
# or user namespaces for an ordinary user; nothing here touches the machine's own network: every
# program that sends runs in a namespace of a LAN made here, and each LAN is removed at the end.
#
#   bench/firmware_transfer.sh [--build DIR] speed [--count N]
#   bench/firmware_transfer.sh [--build DIR] loss [--transfers N] [--lanes L]
#                              [--cases "sam4:1:1 ltx:0.1:3"]
#
# DIR is a build tree with the targets firmware_transfer, qarn-converter-ctl and
# qarn-converter-sim (default build/main). Configure it with -DQARN_BUILD_BENCH=ON.
#
# speed: one prompt simulated converter of each layout (restart 0 ms). Reports the round trip
#   (ping, 56- and 1040-byte payloads; and a plain user-space UDP exchange with the simulator),
#   the stop-and-wait bounds (exchanges x round trip), the
#   median time of N transfers (default 10) of image 151 (1024-byte engine) and image 150
#   (fixed-layout engine) with both ways of waiting for answers (poll every 5 ms; the queue's
#   event), with and without the receive worker's pause between passes and the engine's short
#   look at the queue before it sleeps, the fixed cost of a 1-byte transfer, and a
#   TFTP upload of a file as large as image 151 over the same veth link with tftp-hpa (client in
#   the tool's namespace, server in the converters' namespace on port 6969 of its own address).
#   When in.tftpd or tftp is missing, the Debian packages (tftpd-hpa, tftp-hpa, libwrap0) are
#   fetched with apt-get download and unpacked into the work folder: no maintainer script runs,
#   so no TFTP service is ever started in the machine's namespace.
# loss: the whole update as a user runs it, `qarn-converter-ctl flash --no-wait-restart` (find
#   the converter, transfer, decide an unconfirmed transfer by the version reported afterwards,
#   start over up to --attempts times), N times per case (default 100) against a fresh simulator
#   each time, whose converters lose every datagram in both directions with the case's share
#   (seeded per transfer). A case is engine:loss-percent:attempts; the default cases are the
#   1024-byte engine at 1 % with one attempt and the fixed layout at 0.1 % with three. L LANs
#   (default 4) share the work, side by side. Every verdict is checked against the simulator's
#   own record: a converter holds the new image exactly when the simulator restarted it with the
#   new version. Reports per case the transfers that succeeded, the verdicts reached by the
#   version after an unconfirmed transfer, and the wrong verdicts (a success without the image, a
#   failure with it), which must be none.
#
# QARN_TESTLAN_NAME (default qbfw) names the LANs made here, so that runs side by side stay apart.
#
# Output: the program's JSON lines, then a summary table.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/main
if [ "${1:-}" = --build ]; then
    build=$(cd "$2" && pwd)
    shift 2
fi
mode=${1:-}
shift || true

testlan=$root/scripts/testlan
# The LANs made here are named after QARN_TESTLAN_NAME (default qbfw): <name>speed, <name>l1, ...
lan_prefix=${QARN_TESTLAN_NAME:-qbfw}
sim=$build/tools/converter-sim/qarn-converter-sim
prog=$build/bench/firmware_transfer
ctl=$build/bin/qarn-converter-ctl
for f in "$sim" "$prog"; do
    [ -x "$f" ] || {
        echo "firmware_transfer.sh: $f is missing (build firmware_transfer and qarn-converter-sim)" >&2
        exit 1
    }
done
"$testlan" check >/dev/null || {
    echo "firmware_transfer.sh: this machine cannot build a simulated LAN" >&2
    exit 77
}

work=$(mktemp -d /tmp/qarn-fwbench-XXXXXX)
lans=()
sim_pids=() # simulators and the TFTP server, ended by their process ids
cleanup() {
    local pid lan
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for lan in "${lans[@]}"; do
        QARN_TESTLAN_NAME=$lan "$testlan" down || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# lan_up NAME: a LAN with the two converter addresses 198.18.1.1 and .2.
lan_up() {
    lans+=("$1")
    QARN_TESTLAN_NAME=$1 "$testlan" up --converters 2
}

# start_sim LAN FLEET_JSON [SIM OPTIONS...]: the simulator in the LAN's converter side; waits for
# its ready line.
start_sim() {
    local lan=$1 log="$work/sim-$1.jsonl" pid fleet_json=$2
    shift 2
    printf '%s\n' "$fleet_json" >"$work/fleet-$lan.json"
    rm -f "$log" # a ready line left by an earlier simulator in this LAN would name the wrong one
    QARN_TESTLAN_NAME=$lan "$testlan" lan-exec "$sim" --config "$work/fleet-$lan.json" \
        --log "$log" "$@" >/dev/null 2>&1 &
    for _ in $(seq 200); do
        pid=$(sed -n 's/.*"event":"ready".*"pid":\([0-9]*\).*/\1/p' "$log" 2>/dev/null || true)
        if [ -n "$pid" ]; then
            sim_pids+=("$pid")
            return 0
        fi
        sleep 0.05
    done
    echo "firmware_transfer.sh: the simulator did not start in $lan" >&2
    exit 1
}

# fleet LOSS SEED: the 1024-byte converter at .1, the fixed-layout one at .2, back at once after a
# complete transfer.
fleet() {
    printf '{"converters":[%s,%s]}' \
        "{\"ip\":\"198.18.1.1\",\"kind\":\"extended\",\"restart_ms\":0,\"seed\":$2,\"misbehave\":{\"loss_in\":$1,\"loss_out\":$1}}" \
        "{\"ip\":\"198.18.1.2\",\"kind\":\"standard\",\"version\":\"2.4.9.3\",\"restart_ms\":0,\"seed\":$(($2 + 1)),\"misbehave\":{\"loss_in\":$1,\"loss_out\":$1}}"
}

field() { # field NAME JSON_LINE -> value
    sed -n "s/.*\"$1\":\([^,}]*\).*/\1/p" <<<"$2" | tr -d '"'
}

# rtt LAN SIZE: average round trip in ms of 200 echoes with SIZE payload bytes.
rtt() {
    QARN_TESTLAN_NAME=$1 "$testlan" exec ping -c 200 -i 0.005 -s "$2" -q 198.18.1.1 |
        sed -n 's|.*= [0-9.]*/\([0-9.]*\)/.*|\1|p'
}

tftp_tools() {
    if command -v in.tftpd >/dev/null && command -v tftp >/dev/null; then
        tftpd=$(command -v in.tftpd)
        tftpc=$(command -v tftp)
        tftp_env=()
        return
    fi
    mkdir -p "$work/debs" "$work/tftp-root"
    (cd "$work/debs" && apt-get download tftpd-hpa tftp-hpa libwrap0 >/dev/null 2>&1) || {
        echo "firmware_transfer.sh: apt-get download tftpd-hpa tftp-hpa libwrap0 failed" >&2
        exit 1
    }
    local deb
    for deb in "$work"/debs/*.deb; do
        dpkg -x "$deb" "$work/tftp-root"
    done
    tftpd=$work/tftp-root/usr/sbin/in.tftpd
    tftpc=$work/tftp-root/usr/bin/tftp
    tftp_env=(env "LD_LIBRARY_PATH=$work/tftp-root/lib/x86_64-linux-gnu:$work/tftp-root/usr/lib/x86_64-linux-gnu")
}

# tftp_upload LAN COUNT BYTES: median ms of COUNT uploads of a BYTES-byte file into
# $work/tftp-ms, each timed around the client's run in the tool's namespace.
tftp_upload() {
    local lan=$1 count=$2 bytes=$3 server=198.18.1.250
    tftp_tools
    mkdir -p "$work/tftp-server"
    chmod 0777 "$work/tftp-server"
    head -c "$bytes" /dev/urandom >"$work/upload.bin"
    QARN_TESTLAN_NAME=$lan "$testlan" add-address "$server"
    # In a process namespace of its own, so that ending it also reaps the children it forks per
    # transfer. testlan execs unshare, so $! is unshare's id; unshare ignores SIGTERM and ends with
    # its child, the server, whose id is the one to signal.
    QARN_TESTLAN_NAME=$lan "$testlan" lan-exec unshare --pid --fork --kill-child \
        "${tftp_env[@]}" "$tftpd" --foreground --listen --address "$server:6969" --secure \
        --create --user nobody "$work/tftp-server" &
    local server_pid=$!
    sim_pids+=("$server_pid")
    sleep 0.5
    # shellcheck disable=SC2016 # expanded by the inner shell
    QARN_TESTLAN_NAME=$lan "$testlan" exec "${tftp_env[@]}" bash -c '
        for n in $(seq "$1"); do
            rm -f "$5/upload-$n.bin"
            start=$(date +%s%N)
            "$2" -m binary "$3" 6969 -c put "$4" "upload-$n.bin" || exit 1
            echo $(( ($(date +%s%N) - start) / 1000 ))
        done' _ "$count" "$tftpc" "$server" "$work/upload.bin" "$work/tftp-server" |
        sort -n | awk '{ t[NR] = $1 } END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.1f\n", m / 1000 }' \
            >"$work/tftp-ms"
    cmp -s "$work/upload.bin" "$work/tftp-server/upload-1.bin" || {
        echo "firmware_transfer.sh: the TFTP upload did not arrive intact" >&2
        exit 1
    }
    kill "$(ps -o pid= --ppid "$server_pid")" 2>/dev/null || true
}

run() { # run LAN ARGS...: the summary line of one firmware_transfer run
    local lan=$1
    shift
    QARN_TESTLAN_NAME=$lan "$testlan" exec "$prog" "$@" | tee -a "$work/lines.jsonl" | tail -n1
}

speed() {
    local count=10 lan=${lan_prefix}speed
    [ "${1:-}" = --count ] && count=$2
    lan_up $lan
    # Timing the converters, not the simulator's log of every datagram's bytes.
    start_sim $lan "$(fleet 0 1)" --no-datagram-log
    local rtt56 rtt1040
    rtt56=$(rtt $lan 56)
    rtt1040=$(rtt $lan 1040)
    local udp_line udp_rtt
    udp_line=$(run $lan --target 198.18.1.1 --udp-rtt 500)
    echo "$udp_line"
    udp_rtt=$(field median_ms "$udp_line")
    local results=() line wait engine target pause spin variant
    # wait:pause:spin, from the engines as first described (polling, 10 ms worker pause) to the
    # program's own settings (event, no pause, 300 us look before sleeping).
    for variant in poll:10:0 event:10:0 event:1:0 event:0:0 event:0:300; do
        IFS=: read -r wait pause spin <<<"$variant"
        for engine in sam4 ltx; do
            target=198.18.1.$([ $engine = sam4 ] && echo 1 || echo 2)
            line=$(run $lan --engine $engine --target "$target" --count "$count" --wait $wait \
                --worker-pause-ms $pause --spin-us $spin --gap-ms 300)
            echo "$line"
            results+=("$engine $wait $pause $spin $(field median_ms "$line") $(field ok "$line")/$count")
        done
    done
    local fixed
    fixed=$(run $lan --engine sam4 --target 198.18.1.1 --count "$count" --bytes 1 --gap-ms 300)
    echo "$fixed"
    tftp_upload $lan "$count" 148972
    local tftp
    tftp=$(cat "$work/tftp-ms")

    echo
    echo "round trip (ping): ${rtt56} ms (56-byte payload), ${rtt1040} ms (1040-byte payload)"
    awk -v r="$rtt56" 'BEGIN {
        printf "stop-and-wait bound: 1024-byte engine 147 x %.3f = %.1f ms; fixed layout 126 x %.3f = %.1f ms; TFTP 292 x %.3f = %.1f ms\n", r, 147 * r, r, 126 * r, r, 292 * r }'
    echo "round trip (user-space UDP, a discovery request to the simulator and its first answer): ${udp_rtt} ms"
    awk -v r="$udp_rtt" 'BEGIN {
        printf "stop-and-wait bound for a user-space peer: 1024-byte engine 147 x %.3f = %.1f ms; fixed layout 126 x %.3f = %.1f ms\n", r, 147 * r, r, 126 * r }'
    echo "fixed cost (1-byte image, 2 exchanges, the program's settings): $(field median_ms "$fixed") ms"
    echo "TFTP upload of 148972 bytes (tftp-hpa, 512-byte blocks): $tftp ms (median of $count)"
    printf '%-6s %-6s %-13s %-8s %10s %8s\n' engine wait worker-pause spin-us median-ms ok
    for line in "${results[@]}"; do
        # shellcheck disable=SC2086
        printf '%-6s %-6s %-13s %-8s %10s %8s\n' $line
    done
}

# flash_once LAN ENGINE SHARE ATTEMPTS SEED OUT: one update with a fresh simulator; writes
# "<status> <restarted with the new version: 1|0> <unconfirmed transfers> <seconds>" to OUT.
flash_once() {
    local lan=$1 engine=$2 share=$3 attempts=$4 seed=$5 out=$6 target new started status=0
    if [ "$engine" = sam4 ]; then
        target=198.18.1.1
        new=3.2.62.11
    else
        target=198.18.1.2
        new=2.4.10.23
    fi
    start_sim "$lan" "$(fleet "$share" "$seed")" --no-datagram-log
    started=$(date +%s%N)
    QARN_TESTLAN_NAME=$lan "$testlan" exec "$ctl" flash "$target" --allow-placeholder-images \
        --no-wait-restart --attempts "$attempts" --time 20 >"$out.log" 2>&1 || status=$?
    local took=$((($(date +%s%N) - started) / 1000000))
    sleep 0.5 # a restart begun just now is on the record too
    local pid=${sim_pids[-1]}
    kill "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    unset 'sim_pids[-1]'
    local restarted=0
    grep '"event":"restart_end"' "$work/sim-$lan.jsonl" | grep -q "\"version\":\"$new\"" &&
        restarted=1
    local unconfirmed
    unconfirmed=$(grep -c '^transfer not confirmed' "$out.log" || true)
    echo "$status $restarted $unconfirmed $took" >"$out"
}

loss() {
    local transfers=100 lanes=4 cases="sam4:1:1 ltx:0.1:3"
    while [ $# -gt 0 ]; do
        case $1 in
        --transfers) transfers=$2 ;;
        --lanes) lanes=$2 ;;
        --cases) cases=$2 ;;
        *)
            echo "firmware_transfer.sh: unknown option $1" >&2
            exit 2
            ;;
        esac
        shift 2
    done
    [ -x "$ctl" ] || {
        echo "firmware_transfer.sh: $ctl is missing (build qarn-converter-ctl)" >&2
        exit 1
    }
    local lane
    for lane in $(seq "$lanes"); do
        lan_up "${lan_prefix}l$lane"
    done
    local summary=() case engine rate attempts share started
    for case in $cases; do
        IFS=: read -r engine rate attempts <<<"$case"
        share=$(awk -v p="$rate" 'BEGIN { printf "%.4f", p / 100 }')
        started=$(date +%s)
        local runners=()
        for lane in $(seq "$lanes"); do
            (
                n=$lane
                while [ "$n" -le "$transfers" ]; do
                    flash_once "${lan_prefix}l$lane" "$engine" "$share" "$attempts" $((n * 7919)) \
                        "$work/$case-$n"
                    n=$((n + lanes))
                done
            ) &
            runners+=($!)
        done
        wait "${runners[@]}"
        local n ok=0 right=0 unconfirmed=0 falseSuccess=0 falseFailure=0 total=0 times=()
        local status restarted u took
        for n in $(seq "$transfers"); do
            read -r status restarted u took <"$work/$case-$n"
            total=$((total + 1))
            unconfirmed=$((unconfirmed + u))
            times+=("$took")
            if [ "$status" -eq 0 ]; then
                ok=$((ok + 1))
                [ "$restarted" -eq 1 ] && right=$((right + 1)) || falseSuccess=$((falseSuccess + 1))
            else
                [ "$restarted" -eq 0 ] && right=$((right + 1)) || falseFailure=$((falseFailure + 1))
            fi
            echo "{\"case\":\"$case\",\"n\":$n,\"status\":$status,\"image_taken\":$restarted,\"unconfirmed\":$u,\"ms\":$took}"
        done
        local median
        median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }')
        echo "case $case: $(($(date +%s) - started)) s"
        summary+=("$engine $rate% $attempts $ok/$total $unconfirmed $falseSuccess $falseFailure ${median}s")
    done
    echo
    printf '%-6s %-6s %-9s %-10s %-12s %-17s %-17s %s\n' engine loss attempts succeeded \
        unconfirmed "success-no-image" "failure-w-image" median
    local line
    for line in "${summary[@]}"; do
        # shellcheck disable=SC2086
        printf '%-6s %-6s %-9s %-10s %-12s %-17s %-17s %s\n' $line
    done
}

case $mode in
speed) speed "$@" ;;
loss) loss "$@" ;;
*)
    echo "usage: firmware_transfer.sh [--build DIR] speed [--count N] | loss [--transfers N] [--lanes L] [--cases \"sam4:1:1 ltx:0.1:3\"]" >&2
    exit 2
    ;;
esac
