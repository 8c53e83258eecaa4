#!/usr/bin/env bash
# Runs one test against a simulated LAN (scripts/testlan, named by $QARN_TESTLAN).
#
#   run_lan_test.sh [--own-lan] COMMAND [ARGS...]
#
# Exits 77 (CTest: skipped) with the reason when this machine can build no LAN: not root and no
# user namespaces. With --own-lan the test has a LAN of its own ($QARN_TESTLAN_NAME): whatever a
# killed earlier run left is removed first, and the LAN is removed when the test ends, however it
# ends.
set -uo pipefail

testlan=${QARN_TESTLAN:?QARN_TESTLAN must name scripts/testlan}
own=0
if [ "${1:-}" = --own-lan ]; then
    own=1
    shift
fi
[ $# -gt 0 ] || {
    echo "usage: run_lan_test.sh [--own-lan] COMMAND [ARGS...]" >&2
    exit 2
}

reason=$("$testlan" check 2>&1)
status=$?
if [ $status -eq 77 ]; then
    echo "SKIPPED: $reason"
    exit 77
elif [ $status -ne 0 ]; then
    echo "$reason" >&2
    exit $status
fi

if [ $own -eq 0 ]; then
    exec "$@"
fi
"$testlan" down || exit 1
trap '"$testlan" down' EXIT
"$@"
