#!/bin/bash
# Main-probe rate of a trace with the window shown (Xvfb): the program traces
# the zero-delay three-hop target dst RUNS times (Max runs set through the
# Options dialog, Start pressed, all with xdotool); beside it ping -f to the
# same target. Both are counted by one nftables counter on src's echo requests
# and timed inside their bursts. REPEATS alternating rounds; the last line is
# the median ratio program / ping -f (goal: at least 0.3).
# usage: bench/probe-rate.sh [RUNS [REPEATS]]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-pr- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
RUNS=${1:-10000}
REPEATS=${2:-3}
DST=10.77.4.2 # three hops, kernel forwarding only
PROBES=$((RUNS * 3))
require "$KORVALEN"
bed_up
count_requests
start_x
start_korvalen
set_runs "$RUNS"

echo "probe-rate: $RUNS runs ($PROBES main probes) to $DST, $REPEATS rounds, $(machine)"
ratios=()
for rep in $(seq "$REPEATS"); do
    base=$(requests)
    start_trace "$DST"
    ours=$(request_rate "$base" $((base + PROBES)) 300)
    sleep 0.5
    base=$(requests)
    on_src ping -f -q -c "$PROBES" "$DST" >/dev/null &
    flood=$!
    theirs=$(request_rate "$base" $((base + PROBES)) 300)
    wait "$flood"
    ratio=$(calc '"%.3f", '"$ours / $theirs")
    ratios+=("$ratio")
    echo "  round $rep: program $ours probes/s, ping -f $theirs probes/s, ratio $ratio"
done
echo "median ratio program / ping -f: $(printf '%s\n' "${ratios[@]}" | median) (goal: at least 0.3)"
