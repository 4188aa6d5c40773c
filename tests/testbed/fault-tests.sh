#!/bin/bash
# Faults in the middle of a trace on the namespace network, through the trace
# engine with the real echo service and resolver (trace_probe): the first
# hop's link goes down and comes back, no ICMP socket can be opened, and the
# name servers never answer.
# usage: fault-tests.sh TRACE_PROBE
set -uo pipefail
PROBE=$1
export KV_PREFIX=kv-ft-
. "$(dirname "$0")/lib.sh"
require_network_privileges
bed_up || { echo "FAIL the network does not come up"; exit 1; }

DST=10.77.4.2
trace() { on_src timeout 150 "$PROBE" "$@"; }
# after RUN HOP: that hop's row at the end of run RUN, as "address name sent
# recv loss" ("_" for an empty cell); the rows follow the line "run RUN"
after() {
    awk -F'|' -v run="run $1" -v hop="$2" '
        /^run / { current = $0 }
        /^row / && current == run {
            n = $1; sub("^row +", "", n)
            if (n != hop) next
            for (i = 2; i <= 6; i++) printf "%s%s", ($i == "" ? "_" : $i), (i < 6 ? " " : "\n")
        }' <<<"$out"
}
ended() { grep '^end ' <<<"$out"; }
rows() { awk -v run="run $1" '/^run / { current = $0 } /^row / && current == run' <<<"$out" | wc -l; }

# ---- nothing leaves the machine: a namespace of its own with only loopback up
alone() {
    unshare --net sh -c 'ip link set lo up &&
        sysctl -qw net.ipv4.ping_group_range="0 2147483647" && exec timeout 60 "$@"' \
        sh "$PROBE" "$@"
}
# the probes that never left (status notSent), from the echo tally
unsent() {
    awk '/^echo / && / status=11900 / { sub("n=", "", $NF); n += $NF } END { print n + 0 }' \
        <<<"$out"
}
for target in 10.1.1.1 2001:db8:1::1; do
    for backend in datagram raw; do
        out=$(alone --backend $backend --every-run --runs 3 --hops 5 $target)
        check "no route to $target ($backend): the message" "message No probe can leave this \
machine for $target: the network is unreachable (no route). Check the connection and press \
Start again." "$(grep '^message' <<<"$out")"
        check "no route to $target ($backend): one probe, no row" "1 0" "$(unsent) $(rows 1)"
        check_true "no route to $target ($backend): at once" "took $(field elapsed "$(ended)") ms" \
            within "$(field elapsed "$(ended)")" 0 500
    done
done

# ---- src's default route goes away for 3 s from probe 10 (run 4's first) on:
# with a 1 s time-out that costs about three probes, and the trace goes on.
# Before the link goes down below: r1 loses its IPv6 address on that link then.
for target in $DST 2001:db8:77:4::2; do
    case $target in
    *:*) route="ip -6 route" gateway=2001:db8:77:1::1 ;;
    *) route="ip route" gateway=10.77.1.1 ;;
    esac
    outage="$route del default; (sleep 3; $route add default via $gateway) >/dev/null 2>&1 &"
    out=$(trace --every-run --runs 12 --hops 5 --timeout 1 --at 10 "$outage" $target)
    on_src timeout 10 sh -c "until $route show default | grep -q via; do sleep 0.1; done"
    lost=$(unsent)
    check_true "outage ($target): about three probes lost" "$lost lost" within "$lost" 3.5 1
    check "outage ($target): no message" "" "$(grep '^message' <<<"$out")"
    check "outage ($target): every run made" "runs=12" "$(ended | grep -o 'runs=[0-9]*')"
    check_true "outage ($target): the time the outage took" "took $(field elapsed "$(ended)") ms" \
        within "$(field elapsed "$(ended)")" 3500 1000
    counts=$(for hop in 1 2 3; do after 12 $hop | awk '{ print $(NF - 2), $(NF - 1), $NF }'; done)
    check "outage ($target): hops 1 to 3 lost one probe each" "12 11 8|12 11 8|12 11 8" \
        "$(paste -sd'|' <<<"$counts")"
    check "outage ($target): the target answers after it" "$target" \
        "$(after 12 3 | awk '{ print $1 }')"
done

# ---- the link from src to r1 goes down in run 3 and comes back before run 4
down="ip netns exec ${KV_PREFIX}r1 ip link set src down"
up="ip netns exec ${KV_PREFIX}r1 ip link set src up
    until ip link show eth0 | grep -q LOWER_UP; do sleep 0.05; done"
# 3 probes a run reach dst; probe 7 is run 3's first, run 3 then meets the hop limit
out=$(trace --every-run --runs 6 --hops 5 --timeout 1 --at 7 "$down" --at 12 "$up" $DST)
check "link down: the trace ends" "runs=6" "$(ended | grep -o 'runs=[0-9]*')"
check_true "link down: no hang" "took $(field elapsed "$(ended)") ms" \
    within "$(field elapsed "$(ended)")" 0 12000
check "link down: before, hop 1 answers" "10.77.1.1 _ 2 2 0" "$(after 2 1)"
check "link down: run 3 loses hop 1" "*** _ 3 2 33" "$(after 3 1)"
check "link down: run 3 loses dst" "*** _ 3 2 33" "$(after 3 3)"
check "link down: run 3 goes to the hop limit" "5 *** _ 1 0 100" "$(rows 3) $(after 3 5)"
check "link up: dst answers again in run 4" "10.77.4.2 _ 4 3 25" "$(after 4 3)"
check "link up: hop 1 recovers" "10.77.1.1 _ 6 5 16" "$(after 6 1)"
check "link up: dst recovers" "10.77.4.2 _ 6 5 16" "$(after 6 3)"
check "link down: no message" "" "$(grep '^message' <<<"$out")"

# ---- no ICMP socket: the group is outside ping_group_range and there is no CAP_NET_RAW
readable_copy "$PROBE" nobody_probe
nobody() { on_src setpriv --reuid=65534 --regid=65534 --clear-groups timeout 60 "$nobody_probe" "$@"; }
on_src sysctl -qw net.ipv4.ping_group_range="1 0"
out=$(nobody --every-run --runs 3 --hops 5 $DST)
check "no socket: one message" "message Unable to Open an Icmp File Handle" "$(grep '^message' <<<"$out")"
check "no socket: the reason names both fixes" "ping_group_range CAP_NET_RAW" \
    "$(grep -o 'ping_group_range does not admit group 65534\|no CAP_NET_RAW' <<<"$out" |
       sed 's/ does not.*//; s/no //' | xargs)"
check "no socket: no probe, no row" "runs=0 0" "$(ended | grep -o 'runs=[0-9]*') $(rows 0)"
on_src sysctl -qw net.ipv4.ping_group_range="0 65534"
out=$(nobody --every-run --runs 3 --hops 5 $DST)
check "group in the range: the same user traces" "runs=3 3" "$(ended | grep -o 'runs=[0-9]*') $(rows 3)"
check "group in the range: no message" "" "$(grep '^message' <<<"$out")"
on_src sysctl -qw net.ipv4.ping_group_range="0 2147483647"

# ---- name servers that never answer (r2 drops 10.77.9.x); r1 keeps its name
# in the hosts file, the others have to be asked for
bed unname 10.77.2.2 10.77.3.2 $DST
bed dns 10.77.9.53 10.77.9.54 10.77.9.55
out=$(trace --every-run --names --runs 2 --hops 5 --timeout 1 $DST)
lookups=$(grep '^lookup ' <<<"$out")
check "dead name servers: 4 reverse look-ups" 4 "$(grep -c . <<<"$lookups")"
while read -r line; do
    query=$(awk '{ print $2 }' <<<"$line") elapsed=$(field elapsed "$line")
    if [ "$query" = 10.77.1.1 ]; then
        check "dead name servers: r1 from the hosts file" r1.kv.test "$(field name "$line")"
        check_true "dead name servers: r1 at once" "took $elapsed ms" within "$elapsed" 0 200
        continue
    fi
    check "dead name servers: $query has no name" "" "$(field name "$line")"
    check_true "dead name servers: $query gives up after 2 s" "took $elapsed ms" \
        within "$elapsed" 2100 150
    check_true "dead name servers: $query keeps the window's events going" \
        "idle hook ran $(field idle "$line") times" [ "$(field idle "$line")" -ge 100 ]
done <<<"$lookups"
check "dead name servers: the trace ends" "runs=2 3" "$(ended | grep -o 'runs=[0-9]*') $(rows 2)"
check_true "dead name servers: three look-ups' worth of waiting" \
    "took $(field elapsed "$(ended)") ms" within "$(field elapsed "$(ended)")" 6000 1500
check "dead name servers: rows" "10.77.1.1 r1.kv.test 2 2 0 | 10.77.4.2 _ 2 2 0" \
    "$(after 2 1) | $(after 2 3)"
bed nodns
finish
