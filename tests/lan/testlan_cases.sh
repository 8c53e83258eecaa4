#!/usr/bin/env bash
# What scripts/testlan promises, one case per run, each on a LAN of its own ($QARN_TESTLAN_NAME):
#
#   testlan_cases.sh CASE PROBE      (PROBE: the qarn_lan_probe program)
#
# Cases: broadcast, echo, addresses, macvlan, loss, down, errors, host, exec, user-mode.
set -euo pipefail

testlan=${QARN_TESTLAN:?}
case_name=${1:?case}
probe=${2:?path to qarn_lan_probe}
name=${QARN_TESTLAN_NAME:?each case needs a LAN of its own}
vpc=$name-vpc
vlan=$name-vlan
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL [$case_name]: $*" >&2
    exit 1
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}
expect_eq() { # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}
# Runs testlan; sets OUT, ERR and RC without stopping the script.
capture() {
    RC=0
    "$@" </dev/null >"$work/out" 2>"$work/err" || RC=$?
    OUT=$(cat "$work/out")
    ERR=$(cat "$work/err")
}
# A failing testlan command: the exit status, one line on standard error, nothing on standard out.
expect_error() { # status command...
    local status=$1
    shift
    capture "$@"
    expect_eq "exit status of: ${*#"$testlan" }" "$status" "$RC"
    expect_eq "standard output of: ${*#"$testlan" }" "" "$OUT"
    expect_eq "lines on standard error of: ${*#"$testlan" }" 1 "$(grep -c . <<<"$ERR" || true)"
}
# Sets SILENT: the addresses among FIRST .. FIRST+COUNT-1 that do not answer echo from the tool's
# side, on one line.
sweep() { # first count [timeout_ms]
    capture "$testlan" exec "$probe" echo "$@"
    [ "$RC" -le 1 ] || fail "echo sweep failed: $ERR"
    SILENT=$(xargs <<<"$OUT")
}
neighbour_mac() { # address: the MAC the tool's side learned for it
    "$testlan" exec ip neighbour show "$1" dev "$vpc" |
        awk '{ for (i = 1; i < NF; i++) if ($i == "lladdr") print $(i + 1) }'
}
link_mac() { # lan-side interface
    "$testlan" lan-exec ip -o link show dev "$1" | grep -o 'link/ether [0-9a-f:]*' | cut -d' ' -f2
}
converter_addresses() { # "A/P" on all lan-side interfaces, numeric order
    "$testlan" lan-exec ip -4 -o address show | awk '$2 != "lo" { print $4 }' | sort -V | xargs
}

# A listener on the converters' (lan) or the tool's (pc) side; its result HEARD: "ADDRESS COUNT;..."
# by the destination address the datagrams carried.
start_listener() { # lan|pc port milliseconds [count]
    local side=$1
    shift
    local run=exec
    [ "$side" = pc ] || run=lan-exec
    : >"$work/listen"
    "$testlan" $run "$probe" listen "$@" >"$work/listen" &
    LISTENER=$!
    local i
    for i in $(seq 1 200); do
        grep -qx ready "$work/listen" && return 0
        sleep 0.02
    done
    fail "the listener did not start"
}
finish_listener() { # sets HEARD; in this shell, which alone can wait for the listener
    wait "$LISTENER" || fail "the listener failed"
    HEARD=$( (grep -vx ready "$work/listen" || true) | tr '\n' ';')
}
send() { # address count [source port]  from the tool's side to the converter port
    "$testlan" exec "$probe" send "$1" 58009 "$2" ${3:+"$3"}
}
received_by() { # address result -> count of datagrams for that address, 0 when none
    tr ';' '\n' <<<"$2" | awk -v a="$1" '$1 == a { n = $2 } END { print n + 0 }'
}

# A limited and a directed broadcast leave the tool's side through the veth and arrive in the
# converters' namespace, as does a datagram to one converter.
case_broadcast() {
    "$testlan" up --converters 3
    start_listener lan 58009 5000 3
    send 255.255.255.255 1
    send 198.18.255.255 1
    send 198.18.1.2 1
    finish_listener
    expect_eq "datagrams by destination" "198.18.1.2 1;198.18.255.255 1;255.255.255.255 1;" \
        "$HEARD"
}

case_echo() {
    "$testlan" up --converters 5
    sweep 198.18.1.1 5
    expect_eq "silent converters" "" "$SILENT"
    "$testlan" deaf 198.18.1.3
    "$testlan" deaf 198.18.1.3
    sweep 198.18.1.1 5 2500
    expect_eq "silent while deaf" "198.18.1.3" "$SILENT"
    "$testlan" hear 198.18.1.3
    "$testlan" hear 198.18.1.3
    sweep 198.18.1.1 5
    expect_eq "silent after hear" "" "$SILENT"
    "$testlan" deaf 198.18.1.4
    "$testlan" up --converters 5
    sweep 198.18.1.1 5
    expect_eq "silent after up, which clears deaf marks" "" "$SILENT"
}

case_addresses() {
    "$testlan" up --converters 5
    # The first address is the interface's primary one; the others must outlive it.
    "$testlan" del-address 198.18.1.1
    "$testlan" del-address 198.18.1.1
    sweep 198.18.1.1 5 2500
    expect_eq "silent after deleting the first" "198.18.1.1" "$SILENT"
    "$testlan" add-address 198.18.9.9
    "$testlan" add-address 198.18.9.9
    sweep 198.18.9.9 1
    expect_eq "silent after add" "" "$SILENT"

    "$testlan" deaf 198.18.1.2
    "$testlan" move-address 198.18.1.2 198.18.7.7
    "$testlan" move-address 198.18.1.2 198.18.7.7
    sweep 198.18.1.2 1 2500
    expect_eq "old address after move" "198.18.1.2" "$SILENT"
    sweep 198.18.7.7 1 2500
    expect_eq "new address keeps the deaf mark" "198.18.7.7" "$SILENT"
    "$testlan" hear 198.18.7.7
    sweep 198.18.7.7 1
    expect_eq "new address after hear" "" "$SILENT"
    expect_error 1 "$testlan" move-address 198.18.1.3 198.18.7.7
    expect_error 1 "$testlan" move-address 198.18.50.50 198.18.60.60

    # The simulator moves addresses from inside the converters' namespace.
    "$testlan" lan-exec "$testlan" move-address 198.18.1.4 198.18.8.8
    sweep 198.18.8.8 1
    expect_eq "moved from inside" "" "$SILENT"

    expect_eq "addresses before up" \
        "198.18.1.3/16 198.18.1.5/16 198.18.7.7/16 198.18.8.8/16 198.18.9.9/16" \
        "$(converter_addresses)"
    "$testlan" up --converters 3
    expect_eq "addresses after up 3" "198.18.1.1/16 198.18.1.2/16 198.18.1.3/16" \
        "$(converter_addresses)"
    "$testlan" up --converters 2 --first 198.18.20.1 --prefix 24
    expect_eq "addresses after up --prefix 24" "198.18.20.1/24 198.18.20.2/24" \
        "$(converter_addresses)"
    expect_eq "broadcast address of a /24 converter" "198.18.20.255" \
        "$("$testlan" lan-exec ip -4 -o address show to 198.18.20.2 | awk '{ print $6 }')"
    # Shrinking by more than it keeps rebuilds the veth: the tool's side must come back whole.
    "$testlan" up --converters 1200
    "$testlan" up --converters 2
    expect_eq "addresses after shrinking" "198.18.1.1/16 198.18.1.2/16" "$(converter_addresses)"
    expect_eq "tool's address after shrinking" "198.18.0.1/16" \
        "$("$testlan" exec ip -4 -o address show dev "$vpc" | awk '{ print $4 }')"
    sweep 198.18.1.1 2
    expect_eq "silent after shrinking" "" "$SILENT"
}

case_macvlan() {
    "$testlan" up --converters 4
    local shared
    shared=$(link_mac "$vlan")
    "$testlan" macvlan 198.18.1.2 02:00:00:00:00:42
    "$testlan" macvlan 198.18.1.2 02:00:00:00:00:42
    sweep 198.18.1.1 4
    expect_eq "silent with a macvlan" "" "$SILENT"
    expect_eq "MAC learned for the macvlan converter" 02:00:00:00:00:42 "$(neighbour_mac 198.18.1.2)"
    expect_eq "MAC learned for a shared one" "$shared" "$(neighbour_mac 198.18.1.1)"

    # A macvlan also receives every broadcast; the simulator must still see each one once.
    start_listener lan 58009 1500
    send 255.255.255.255 1
    send 198.18.255.255 1
    finish_listener
    expect_eq "broadcast copies" "198.18.255.255 1;255.255.255.255 1;" "$HEARD"

    expect_error 1 "$testlan" macvlan 198.18.1.3 02:00:00:00:00:42
    "$testlan" macvlan 198.18.1.2 02:00:00:00:00:43
    sweep 198.18.1.2 1
    expect_eq "silent after a new MAC" "" "$SILENT"
    expect_eq "MAC after a new MAC" 02:00:00:00:00:43 "$(neighbour_mac 198.18.1.2)"
    "$testlan" move-address 198.18.1.2 198.18.1.200
    sweep 198.18.1.200 1
    expect_eq "silent after moving a macvlan converter" "" "$SILENT"
    expect_eq "MAC kept by the move" 02:00:00:00:00:43 "$(neighbour_mac 198.18.1.200)"
    "$testlan" no-macvlan 198.18.1.200
    "$testlan" no-macvlan 198.18.1.200
    sweep 198.18.1.200 1
    expect_eq "silent after no-macvlan" "" "$SILENT"
    expect_eq "MAC after no-macvlan" "$shared" "$(neighbour_mac 198.18.1.200)"

    "$testlan" macvlan 198.18.1.4 02:00:00:00:00:44
    "$testlan" up --converters 4
    local macvlans
    macvlans=$("$testlan" lan-exec ip -o link show type macvlan)
    expect_eq "macvlans after up" "" "$macvlans"
    expect_eq "addresses after up" "198.18.1.1/16 198.18.1.2/16 198.18.1.3/16 198.18.1.4/16" \
        "$(converter_addresses)"
}

case_loss() {
    "$testlan" up --converters 2
    "$testlan" loss --percent 100 --dir in
    start_listener lan 58009 1500
    send 198.18.1.1 200
    finish_listener
    expect_eq "arrivals at 100 % loss" "" "$HEARD"

    "$testlan" loss --percent 50 --dir in
    start_listener lan 58009 3000 1000
    send 198.18.1.1 1000
    local got
    finish_listener
    got=$(received_by 198.18.1.1 "$HEARD")
    # 1000 draws at one half: the standard deviation is 16, so 350..650 never fails by chance.
    [ "$got" -ge 350 ] && [ "$got" -le 650 ] || fail "arrivals at 50 % loss: $got of 1000"

    # An address's own share overrides the segment-wide one, both ways.
    "$testlan" loss --percent 100 --dir in
    "$testlan" loss --percent 0 --dir in --address 198.18.1.2
    start_listener lan 58009 2000 100
    send 198.18.1.1 100
    send 198.18.1.2 100
    finish_listener
    expect_eq "arrivals with an exempt address" "198.18.1.2 100;" "$HEARD"
    "$testlan" loss --off
    "$testlan" loss --percent 100 --address 198.18.1.1
    start_listener lan 58009 2000 100
    send 198.18.1.1 100
    send 198.18.1.2 100
    finish_listener
    expect_eq "arrivals with one lossy address" "198.18.1.2 100;" "$HEARD"
    "$testlan" loss --off --address 198.18.1.1
    start_listener lan 58009 3000 200
    send 198.18.1.1 100
    send 198.18.1.2 100
    finish_listener
    expect_eq "arrivals after loss --off" "198.18.1.1 100;198.18.1.2 100;" "$HEARD"

    # Out: what converters send from port 58009; "in" leaves it alone.
    "$testlan" loss --percent 100 --dir in
    start_listener pc 40000 2000 100
    "$testlan" lan-exec "$probe" send 198.18.0.1 40000 100 58009
    finish_listener
    expect_eq "answers with loss only in" "198.18.0.1 100;" "$HEARD"
    "$testlan" loss --percent 100 --dir out
    start_listener pc 40000 1500
    "$testlan" lan-exec "$probe" send 198.18.0.1 40000 100 58009
    finish_listener
    expect_eq "answers at 100 % loss out" "" "$HEARD"
    "$testlan" loss --off --dir out
    start_listener pc 40000 2000 100
    "$testlan" lan-exec "$probe" send 198.18.0.1 40000 100 58009
    finish_listener
    expect_eq "answers after loss --off --dir out" "198.18.0.1 100;" "$HEARD"
}

lan_exists() {
    capture "$testlan" status
    [ "$RC" -eq 0 ] || fail "status failed: $ERR"
    ! grep -q "is down" <<<"$OUT"
}
case_down() {
    "$testlan" up --converters 2
    lan_exists || fail "status after up: $OUT"
    capture "$testlan" down
    expect_eq "down: exit status, output" "0||" "$RC|$OUT|$ERR"
    ! lan_exists || fail "status after down: $OUT"
    if [ "$(id -u)" -eq 0 ] && [ -d /run/netns ]; then
        local left
        left=$(ip netns list | awk '{ print $1 }' | grep -x -e "$name-pc" -e "$name-lan" || true)
        expect_eq "namespaces left" "" "$left"
    fi
    capture "$testlan" down
    expect_eq "second down: exit status, output" "0||" "$RC|$OUT|$ERR"
    expect_error 1 "$testlan" deaf 198.18.1.1
    expect_error 1 "$testlan" exec true
    # up again after down
    "$testlan" up --converters 2
    sweep 198.18.1.1 2
    expect_eq "silent after up again" "" "$SILENT"
}

case_errors() {
    expect_error 1 "$testlan" deaf 198.18.1.1 # not up yet
    "$testlan" up --converters 2
    local row
    # arguments | exit status
    while IFS='|' read -r row status; do
        # shellcheck disable=SC2086
        expect_error "$status" "$testlan" $row
    done <<'EOF'
frobnicate|2
up --converters many|2
up --converters 2 --first 198.18.1|2
up --converters 2 --first 198.18.0.1|2
up --converters 10 --first 198.18.1.250 --prefix 24|2
up --converters 1 --first 198.18.1.0 --prefix 24|2
up --converters 1 --prefix 33|2
up --sideways|2
deaf 300.1.1.1|2
hear|2
loss --percent 101|2
loss --percent 50 --off|2
loss --percent 50 --dir sideways|2
loss --percent 5.123|2
macvlan 198.18.1.1 01:00:00:00:00:01|2
macvlan 198.18.1.1 02:00:00:00:00|2
macvlan 198.18.9.9 02:00:00:00:00:01|1
no-macvlan 198.18.9.9|1
move-address 198.18.1.1|2
exec|2
EOF
    expect_error 2 env QARN_TESTLAN_NAME=Not_A_Name "$testlan" status
    expect_error 2 env QARN_TESTLAN_NAME=much-too-long "$testlan" status
    expect_eq "addresses after the errors" "198.18.1.1/16 198.18.1.2/16" "$(converter_addresses)"
}

# The machine's own network is the same before and after a full round of commands.
host_state() {
    ip -o link show | awk -F': ' '{ print $2 }'
    ip -4 -o address show
    ip route show table all
    ip rule show
    local f
    for f in ipv4/conf/all/arp_ignore ipv4/conf/all/arp_announce ipv4/conf/all/rp_filter \
        ipv4/conf/all/promote_secondaries ipv4/conf/default/arp_ignore ipv4/ping_group_range \
        ipv6/conf/all/disable_ipv6; do
        [ ! -r "/proc/sys/net/$f" ] || echo "$f=$(cat "/proc/sys/net/$f")"
    done
    if [ "$(id -u)" -eq 0 ]; then
        nft list ruleset 2>/dev/null || true
    fi
}
case_host() {
    local before
    before=$(host_state)
    "$testlan" up --converters 50
    "$testlan" macvlan 198.18.1.9 02:00:00:00:00:09
    "$testlan" deaf 198.18.1.10
    "$testlan" loss --percent 10 --address 198.18.1.11
    "$testlan" move-address 198.18.1.12 198.18.5.5
    "$testlan" del-address 198.18.1.13
    "$testlan" up --converters 20
    "$testlan" down
    expect_eq "the machine's network after a round of commands" "$before" "$(host_state)"
}

case_exec() {
    [ "$(id -u)" -eq 0 ] || skip "exec changes the user only when started as root"
    "$testlan" up --converters 2
    expect_eq "tool's side" "198.18.0.1/16" \
        "$("$testlan" exec ip -4 -o address show dev "$vpc" | awk '{ print $4 }')"
    expect_eq "converters' side" "198.18.1.1/16 198.18.1.2/16" "$(converter_addresses)"
    expect_eq "user of exec as root" 0 "$("$testlan" exec id -u)"
    expect_eq "user of lan-exec under sudo" 0 \
        "$(SUDO_UID=65534 SUDO_GID=65534 "$testlan" lan-exec id -u)"
    expect_eq "exit status passed on" 3 "$("$testlan" exec sh -c 'exit 3' || echo $?)"
    # An ordinary user runs nothing where the root folder is closed to others (a root made by
    # mktemp is 0700); that is the machine's state, not exec's.
    setpriv --reuid 65534 --regid 65534 --clear-groups true 2>/dev/null ||
        skip "user nobody cannot run programs here (is / mode $(stat -c %a /)? chmod 755 / to" \
            "check exec's change of user)"
    expect_eq "user of exec under sudo" 65534:65534 \
        "$(SUDO_UID=65534 SUDO_GID=65534 "$testlan" exec sh -c 'echo $(id -u):$(id -g)')"
    # Ping sockets are open to every group on the tool's side: an ordinary user can ping.
    if SUDO_UID=65534 SUDO_GID=65534 "$testlan" exec test -x "$probe"; then
        capture env SUDO_UID=65534 SUDO_GID=65534 "$testlan" exec "$probe" echo 198.18.1.1 2
        expect_eq "echo sweep as an ordinary user" "0|" "$RC|$OUT"
    else
        echo "note: nobody cannot run $probe; echo as an ordinary user not checked"
    fi
}

# Without root: run as nobody, who gets a user namespace of its own.
as_nobody() {
    setpriv --reuid 65534 --regid 65534 --clear-groups \
        env -u XDG_RUNTIME_DIR HOME=/ TMPDIR=/tmp QARN_TESTLAN_NAME="$name" "$@"
}
case_user_mode() {
    [ "$(id -u)" -eq 0 ] || skip "needs root to become nobody (as non-root every case runs in user mode)"
    command -v setpriv >/dev/null || skip "setpriv is missing"
    as_nobody unshare --user --map-root-user --net true 2>/dev/null ||
        skip "this system gives ordinary users no user namespaces"
    as_nobody test -x "$testlan" -a -x "$probe" || skip "nobody cannot reach $testlan or $probe"
    trap 'as_nobody "$testlan" down; rm -rf "$work"' EXIT
    as_nobody "$testlan" up --converters 20
    grep -q "user mode" <<<"$(as_nobody "$testlan" status)" || fail "status: not in user mode"
    local holders
    holders=$(cat /tmp/qarn-testlan-65534/"$name"/holders)
    capture as_nobody "$testlan" exec "$probe" echo 198.18.1.1 20
    expect_eq "echo sweep as nobody" "0|" "$RC|$OUT"
    as_nobody "$testlan" deaf 198.18.1.5
    as_nobody "$testlan" lan-exec "$testlan" move-address 198.18.1.6 198.18.6.6
    as_nobody "$testlan" macvlan 198.18.1.7 02:00:00:00:00:07
    capture as_nobody "$testlan" exec "$probe" echo 198.18.1.1 20 2500
    expect_eq "silent as nobody" "1|198.18.1.5
198.18.1.6" "$RC|$OUT"
    expect_eq "MAC learned as nobody" 02:00:00:00:00:07 \
        "$(as_nobody "$testlan" exec ip neighbour show 198.18.1.7 | awk '{ print $5 }')"
    as_nobody "$testlan" up --converters 2
    expect_eq "addresses as nobody" "198.18.1.1/16 198.18.1.2/16" \
        "$(as_nobody "$testlan" lan-exec ip -4 -o address show | awk '$2 != "lo" { print $4 }' | xargs)"
    as_nobody "$testlan" down
    local pid i
    for pid in $(awk '{ print $1, $3 }' <<<"$holders"); do
        for i in $(seq 1 100); do
            [ -e "/proc/$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sleep ] || break
            sleep 0.02
        done
        [ "$i" -lt 100 ] || fail "process $pid holding a namespace outlived down"
    done
    grep -q "is down" <<<"$(as_nobody "$testlan" status)" || fail "status after down"
}

case $case_name in
broadcast | echo | addresses | macvlan | loss | down | errors | host | exec) "case_$case_name" ;;
user-mode) case_user_mode ;;
*) fail "no such case" ;;
esac
echo "PASS [$case_name]"
