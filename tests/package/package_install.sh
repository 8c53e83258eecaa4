#!/usr/bin/env bash
# Installs the package into a fresh, empty root with dpkg and runs the installed programs from
# there: the command line's help, a manual page, and a discovery of simulated converters (served by
# the installed simulator) on a LAN of the test's own, with and without --interface.
#
#   package_install.sh OUTPUT_DIR      (run through run_lan_test.sh --own-lan; $QARN_TESTLAN)
#
# The root holds only this package, so the programs run with the machine's libraries (the
# package's dependencies). dpkg runs the maintainer script outside the root with $DPKG_ROOT set
# (--force-script-chrootless), as a chroot without a shell could not run it; as root the script's
# setcap gives the installed programs their capability, which the test checks.
set -euo pipefail
deb=$(ls "$1"/*.deb)
testlan=${QARN_TESTLAN:?QARN_TESTLAN must name scripts/testlan}
lan=${QARN_TESTLAN_NAME:-qarn}

root=$(mktemp -d /tmp/qarn-package-root-XXXXXX)
work=$(mktemp -d /tmp/qarn-package-work-XXXXXX)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$root" "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
force=(--force-script-chrootless --force-depends)
[ "$(id -u)" -eq 0 ] || force+=(--force-not-root)
started=$(date +%s%N)
# The root lacks every dependency; dpkg lists each of them, which only shows on a failure.
dpkg --root="$root" --log=/dev/null "${force[@]}" -i "$deb" >"$work/dpkg.log" 2>&1 ||
    fail "dpkg -i: $(cat "$work/dpkg.log")"
echo "installed in $((($(date +%s%N) - started) / 1000000)) ms"
status=$(dpkg --root="$root" -s qarn-converter-config | sed -n 's/^Status: //p')
[ "$status" = "install ok installed" ] || fail "dpkg status is '$status'"

bin=$root/usr/bin
if [ "$(id -u)" -eq 0 ] && command -v getcap >/dev/null; then
    getcap "$bin/qarn-converter-ctl" | grep -q 'cap_net_raw[=+]ep' ||
        fail "qarn-converter-ctl lacks cap_net_raw after the installation: $(getcap "$bin/qarn-converter-ctl")"
    # The window loads Qt plugins from paths any user can set, so it must not carry a capability.
    for program in qarn-converter-config qarn-converter-sim; do
        getcap "$bin/$program" | grep -q . && fail "$program got a capability: $(getcap "$bin/$program")"
    done
fi

help=$("$bin/qarn-converter-ctl" --help)
grep -q '^Usage: ' <<<"$help" || fail "--help: $help"
grep -q -- '--interface' <<<"$help" || fail "--help does not name --interface: $help"

if command -v man >/dev/null; then
    page=$root/usr/share/man/man1/qarn-converter-ctl.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports: $warnings"
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q -- '--interface NAME' ||
        fail "the manual page does not describe --interface"
fi

# The installed simulator on the converters' side, the installed tool on the PC side.
"$testlan" up --converters 3
"$testlan" lan-exec "$bin/qarn-converter-sim" --count 3 --delay 0-200 --log "$work/sim.jsonl" &
sim_pid=$!
for _ in $(seq 200); do
    grep -q '"event":"ready"' "$work/sim.jsonl" 2>/dev/null && break
    sleep 0.05
done
grep -q '"event":"ready"' "$work/sim.jsonl" || fail "the installed simulator did not start"

for interface in "" "$lan-vpc"; do
    args=(discover --csv --time 2)
    [ -z "$interface" ] || args+=(--interface "$interface")
    csv=$("$testlan" exec "$bin/qarn-converter-ctl" "${args[@]}") ||
        fail "discover ${interface:+--interface $interface}: exit $?"
    echo "$csv"
    for address in 198.18.1.1 198.18.1.2 198.18.1.3; do
        grep -q "^$address," <<<"$csv" || fail "$address not discovered (${interface:-every interface})"
    done
    [ "$(wc -l <<<"$csv")" -eq 4 ] || fail "expected a header and three rows"
done
if "$testlan" exec "$bin/qarn-converter-ctl" discover --interface lo 2>"$work/err"; then
    fail "--interface lo was accepted"
fi
grep -q "no IPv4 address to broadcast on at interface 'lo'" "$work/err" || fail "$(cat "$work/err")"
# The installed window, on a virtual screen: it must find its language bundles in the installed
# layout and keep running (a window without bundles logs an error and shows only a message box).
mkdir -p "$work/registry" "$work/log" "$work/home" "$work/run"
chmod 700 "$work/run"
QARN_REGISTRY_ROOT=$work/registry "$bin/qarn-converter-ctl" diagnostics set --log-level 1 \
    --log-folder "$work/log" >/dev/null
status=0
"$testlan" exec env QARN_REGISTRY_ROOT="$work/registry" QT_QPA_PLATFORM=offscreen \
    HOME="$work/home" XDG_CONFIG_HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
    timeout 4 "$bin/qarn-converter-config" >"$work/window.out" 2>&1 || status=$?
[ $status -eq 124 ] || fail "the installed window ended with $status: $(cat "$work/window.out")"
if [ -f "$work/log/qarn-converter-config.txt" ]; then
    errors=$(iconv -f UTF-16LE -t UTF-8 "$work/log/qarn-converter-config.txt" | grep ERROR || true)
    [ -z "$errors" ] || fail "the installed window logged: $errors"
fi
echo "the installed programs work"
