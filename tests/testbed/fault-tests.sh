#!/bin/bash
# Faults in the middle of a trace on the namespace network, through the trace
# engine with the real echo service and resolver (trace_probe): the first
# hop's link goes down and comes back, no ICMP socket can be opened, and the
# name servers never answer.
# usage: fault-tests.sh TRACE_PROBE
set -uo pipefail
PROBE=$1
export KV_PREFIX=kv-f-
. "$(dirname "$0")/lib.sh"
require_network_privileges
bed_up || { echo "FAIL the network does not come up"; exit 1; }

DST=10.77.4.2
trace() { on_src timeout 150 "$PROBE" "$@"; }
# after RUN HOP: that hop's row once run RUN had ended; the rows printed after
# "run n=RUN" are those of the state at the end of run RUN
after() {
    awk -v run="$1" -v hop="hop=$2" '/^run n=/ { current = substr($2, 3) }
                                      /^row / && current == run && $2 == hop' <<<"$out"
}
cells() { local line=$1; shift; local k; for k in "$@"; do printf '%s ' "$(field "$k" "$line")"; done; }
ended() { grep '^end ' <<<"$out"; }

# ---- the link from src to r1 goes down in run 3 and comes back before run 4
down="ip netns exec ${KV_PREFIX}r1 ip link set src down"
up="ip netns exec ${KV_PREFIX}r1 ip link set src up
    until ip link show eth0 | grep -q LOWER_UP; do sleep 0.05; done"
# 3 probes a run reach dst; probe 7 is run 3's first, run 3 then meets the hop limit
out=$(trace --runs 6 --hops 5 --timeout 1 --at 7 "$down" --at 12 "$up" $DST)
check "link down: the trace ends" "6 5" "$(cells "$(ended)" runs rows | xargs)"
check_true "link down: no hang" "took $(field elapsed "$(ended)") ms" \
    within "$(field elapsed "$(ended)")" 0 12000
check "link down: before, hop 1 answers" "10.77.1.1 2 2" "$(cells "$(after 2 1)" addr sent recv | xargs)"
check "link down: run 3 loses hop 1" "*** 3 2 ---" "$(cells "$(after 3 1)" addr sent recv last | xargs)"
check "link down: run 3 loses dst" "*** 3 2 ---" "$(cells "$(after 3 3)" addr sent recv last | xargs)"
check "link down: run 3 goes to the hop limit" "*** 1 0 100" "$(cells "$(after 3 5)" addr sent recv loss | xargs)"
check "link up: hop 1 recovers" "10.77.1.1 6 5 16" "$(cells "$(after 6 1)" addr sent recv loss | xargs)"
check "link up: dst recovers" "10.77.4.2 6 5 16" "$(cells "$(after 6 3)" addr sent recv loss | xargs)"
check_true "link up: dst's last time is a time" "$(after 6 3)" \
    grep -q 'last=[0-9]' <<<"$(after 6 3)"
check "link down: no message" "" "$(grep '^message' <<<"$out")"

# ---- no ICMP socket: the group is outside ping_group_range and there is no CAP_NET_RAW
nobody() { on_src setpriv --reuid=65534 --regid=65534 --clear-groups timeout 60 "$PROBE" "$@"; }
on_src sysctl -qw net.ipv4.ping_group_range="1 0"
out=$(nobody --runs 3 --hops 5 $DST)
messages=$(grep '^message' <<<"$out")
check "no socket: one message" 1 "$(grep -c . <<<"$messages")"
check "no socket: its text" 'message icon=0 text="Unable to Open an Icmp File Handle\n' \
    "$(grep -o '^message icon=0 text="Unable to Open an Icmp File Handle\\n' <<<"$messages")"
check "no socket: the reason names both fixes" "ping_group_range CAP_NET_RAW" \
    "$(grep -o 'ping_group_range does not admit group 65534\|no CAP_NET_RAW' <<<"$messages" |
       sed 's/ does not.*//; s/no //' | xargs)"
check "no socket: no probe, no row" "0 0" "$(cells "$(ended)" runs rows | xargs)"
on_src sysctl -qw net.ipv4.ping_group_range="0 65534"
out=$(nobody --runs 3 --hops 5 $DST)
check "group in the range: the same user traces" "3 3" "$(cells "$(ended)" runs rows | xargs)"
check "group in the range: no message" "" "$(grep '^message' <<<"$out")"
on_src sysctl -qw net.ipv4.ping_group_range="0 2147483647"

# ---- name servers that never answer (r2 drops 10.77.9.x); r1 keeps its name
# in the hosts file, the others have to be asked for
bed unname 10.77.2.2 10.77.3.2 $DST
bed dns 10.77.9.53 10.77.9.54 10.77.9.55
out=$(trace --names --runs 2 --hops 5 --timeout 1 $DST)
lookups=$(grep '^lookup kind=name' <<<"$out")
check "dead name servers: 4 reverse look-ups" 4 "$(grep -c . <<<"$lookups")"
while read -r line; do
    query=$(field query "$line") elapsed=$(field elapsed "$line")
    if [ "$query" = 10.77.1.1 ]; then
        check "dead name servers: r1 from the hosts file" r1.kv.test "$(field text "$line")"
        check_true "dead name servers: r1 at once" "took $elapsed ms" within "$elapsed" 0 200
        continue
    fi
    check "dead name servers: $query has no name" _ "$(field text "$line")"
    check_true "dead name servers: $query gives up after 2 s" "took $elapsed ms" \
        within "$elapsed" 2100 150
    check_true "dead name servers: $query keeps the window's events going" \
        "idle hook ran $(field idle "$line") times" [ "$(field idle "$line")" -ge 100 ]
done <<<"$lookups"
check "dead name servers: the trace ends" "2 3" "$(cells "$(ended)" runs rows | xargs)"
check_true "dead name servers: three look-ups' worth of waiting" \
    "took $(field elapsed "$(ended)") ms" within "$(field elapsed "$(ended)")" 6000 1500
check "dead name servers: rows" "r1.kv.test 2 2 _ 2 2" \
    "$(cells "$(after 2 1)" name recv sent | xargs) $(cells "$(after 2 3)" name recv sent | xargs)"
bed nodns
finish
