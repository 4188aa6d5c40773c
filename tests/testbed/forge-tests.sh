#!/bin/bash
# Forged and foreign ICMP while a trace runs: the forger on r1 answers every
# probe with echo replies and errors that are not its answer, duplicates the
# genuine answers and replays them late. Each trace, with each backend, must
# come out as it does undisturbed: same rows (round-trip times aside) and the
# same echo results.
# usage: forge-tests.sh TRACE_PROBE FORGER DELAYLINE
set -uo pipefail
TRACE=$1 FORGER=$2
export KV_PREFIX=kv-f- KV_DELAYLINE=$3 KV_DELAY_MS=5
. "$(dirname "$0")/lib.sh"
require_network_privileges
bed_up || { echo "FAIL the network does not come up"; exit 1; }
# One router per TTL: r1 sends everything over r2a, so two traces can be compared.
bed exec r1 nft flush chain ip kv prert
bed exec r1 nft flush chain ip6 kv prert

DST=10.77.4.2 FAR=10.77.11.2 UNREACHABLE=10.77.7.1
DST6=2001:db8:77:4::2 FAR6=2001:db8:77:11::2 UNREACHABLE6=2001:db8:77:7::1
# r1's link-local address on src's link (the kernel makes one on every veth)
LINKLOCAL=$(bed exec r1 ip -6 -o addr show dev src scope link | awk '{ print $4 }' | cut -d/ -f1)
work=$(mktemp -d)
trap 'stop_background; bed down; rm -rf "$work"' EXIT

# trace BACKEND ADDRESS: rows, tallied echo results and notes of a 4-run trace
trace() {
    on_src ip route flush cache
    on_src "$TRACE" --backend "$1" --runs 4 --hops 4 --timeout 1 --mtu "$2"
}

# Starts the forger on r1, watching the link to src; waits until it listens.
start_forger() {
    ip netns exec "${KV_PREFIX}r1" "$FORGER" src 50 >"$work/forger" 2>&1 &
    forger=$!
    background_pids+=("$forger")
    local i
    for i in $(seq 50); do
        grep -q '^ready' "$work/forger" && return 0
        sleep 0.02
    done
    echo "FAIL the forger does not start: $(cat "$work/forger")"
    exit 1
}
stop_forger() {
    kill "$forger" 2>/dev/null
    wait "$forger" 2>/dev/null
    background_pids=()
}
# forger_count NAME: a count of the forger's closing line
forger_count() { sed -n "s/.*\<$1=\([0-9]*\).*/\1/p" "$work/forger"; }

for backend in raw datagram; do
    for target in $DST $FAR $UNREACHABLE $DST6 $FAR6 $UNREACHABLE6; do
        name="$backend $target"
        trace "$backend" "$target" >"$work/calm"
        start_forger
        trace "$backend" "$target" >"$work/forged"
        # A probe lost on a loaded machine adds a time-out and changes nothing
        # else; a forgery taken for an answer changes a result. Only the first
        # earns a second forged trace.
        if ! diff "$work/calm" "$work/forged" >"$work/diff" &&
           ! grep '^[<>]' "$work/diff" | grep -qv '^[<>] echo .* status=11010 '; then
            echo "note $name: a time-out more under forgery; tracing again"
            trace "$backend" "$target" >"$work/forged"
        fi
        stop_forger
        if diff "$work/calm" "$work/forged" >"$work/diff"; then
            echo "ok   $name: the same trace under forgery"
        else
            echo "FAIL $name: the trace changed under forgery (< undisturbed, > forged):"
            sed 's/^/    /' "$work/diff"
            failures=$((failures + 1))
        fi
        check_true "$name: the forger answered every kind" "$(tail -1 "$work/forger")" \
            test "$(forger_count forged)" -gt 0 -a "$(forger_count duplicates)" -gt 0 \
                 -a "$(forger_count late)" -gt 0
    done
    # What the undisturbed traces must show, so that equal never means equally broken.
    check "$backend: the target answers at hop 3 every run" "row  3|$DST||4|4|0|1400|1" \
        "$(trace "$backend" $DST | grep '^row  3')"
    check "$backend: the IPv6 target answers at hop 3 every run" "row  3|$DST6||4|4|0|1400|1" \
        "$(trace "$backend" $DST6 | grep '^row  3')"
    check "$backend: a link-local target with its zone answers at hop 1" \
        "row  1|$LINKLOCAL%eth0||4|4|0|1500|0" "$(trace "$backend" "$LINKLOCAL%eth0" | grep '^row')"
done
finish
