#!/usr/bin/env bash
# 1,000 converter addresses come up within 30 s, and each one answers ICMP echo from the tool's
# side. Prints the time "up" took. Runs on the shared LAN; usage: thousand_converters.sh PROBE
set -euo pipefail

testlan=${QARN_TESTLAN:?}
probe=${1:?path to qarn_lan_probe}
name=${QARN_TESTLAN_NAME:-qarn}
readonly count=1000 limit_ms=30000

start=$(date +%s%N)
"$testlan" up --converters $count
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
echo "testlan up --converters $count: $elapsed_ms ms"
if [ $elapsed_ms -gt $limit_ms ]; then
    echo "FAIL: $count addresses took $elapsed_ms ms, more than $limit_ms ms" >&2
    exit 1
fi

# In address order: the kernel lists them in the order they were added, and an earlier test may
# have moved some of them (up keeps what is already there).
assigned=$("$testlan" lan-exec ip -4 -o address show dev "$name-vlan" | awk '{ print $4 }' |
    sort -u -t . -k 1,1n -k 2,2n -k 3,3n -k 4,4n)
first=$(head -n 1 <<<"$assigned")
last=$(tail -n 1 <<<"$assigned")
if [ "$(grep -c . <<<"$assigned")" -ne $count ] || [ "$first" != 198.18.1.1/16 ] ||
    [ "$last" != 198.18.4.232/16 ]; then
    echo "FAIL: expected $count addresses 198.18.1.1/16 ... 198.18.4.232/16, found" \
        "$(grep -c . <<<"$assigned") ($first ... $last)" >&2
    exit 1
fi

# Learned by ARP: the kernel's neighbour table is shared by every namespace and holds 1024 learned
# entries by default, so the sweep goes in quarters and the tool's side forgets between them.
silent=""
for quarter in 0 1 2 3; do
    low=$((257 + quarter * count / 4)) # 198.18.1.1 is 198.18.0.0 + 257
    rc=0
    out=$("$testlan" exec "$probe" echo "198.18.$((low / 256)).$((low % 256))" $((count / 4)) 15000) ||
        rc=$?
    [ $rc -le 1 ] || {
        echo "FAIL: the echo sweep could not run" >&2
        exit 1
    }
    silent+=" $out"
    "$testlan" exec ip neighbour flush dev "$name-vpc"
done
silent=$(xargs <<<"$silent")
if [ -n "$silent" ]; then
    echo "FAIL: $(wc -w <<<"$silent") converters did not answer echo: $silent" >&2
    exit 1
fi
echo "all $count converters answered echo"

# Known in advance (--static-arp): all at once.
"$testlan" up --converters $count --static-arp
permanent=$("$testlan" exec ip neighbour show dev "$name-vpc" nud permanent | grep -c . || true)
if [ "$permanent" -ne $count ]; then
    echo "FAIL: --static-arp gave $permanent permanent neighbour entries, not $count" >&2
    exit 1
fi
if ! silent=$("$testlan" exec "$probe" echo 198.18.1.1 $count 15000); then
    echo "FAIL: with --static-arp $(wc -w <<<"$silent") did not answer echo:" $silent >&2
    exit 1
fi
echo "all $count converters answered echo at once with --static-arp"
"$testlan" up
