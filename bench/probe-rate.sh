#!/bin/bash
# Main-probe rate of a trace with the window shown (Xvfb): the program traces
# the zero-delay three-hop target dst RUNS times (Max runs set through the
# Options dialog, Start pressed, all with xdotool); after it ping -f to the
# same target with as many probes. Both bursts are timed the same way, by
# bench/burst_rate on the namespace's count of sent echo requests. REPEATS
# alternating rounds. Then one more round of each under strace -c -f gives
# the system calls per main probe (all threads of the program), which the
# machine's load does not blur. The last line is the median ratio
# program / ping -f (goal: at least 0.3). Before it, the same REPEATS rounds to
# dst's IPv6 address beside ping -6 -f (goal: at least 0.9).
# usage: bench/probe-rate.sh [RUNS [REPEATS]]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-pr- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
RUNS=${1:-10000}
REPEATS=${2:-3}
DST=10.77.4.2 # three hops, kernel forwarding only
DST6=2001:db8:77:4::2
PROBES=$((RUNS * 3))
require "$KORVALEN" "$BURST"
bed_up
OUT=$(mktemp -d)
at_exit rm -rf "$OUT"
start_x
start_korvalen
set_runs "$RUNS"

echo "probe-rate: $RUNS runs ($PROBES main probes) to $DST, $REPEATS rounds, $(machine)"
ratios=()
for rep in $(seq "$REPEATS"); do
    watch_burst "$PROBES" "$OUT/ours"
    start_trace "$DST"
    wait_burst "$OUT/ours"
    ours=$RATE
    sleep 0.5 # the trace's end
    watch_burst "$PROBES" "$OUT/theirs"
    on_src ping -f -q -c "$PROBES" "$DST" >/dev/null
    wait_burst "$OUT/theirs"
    theirs=$RATE
    ratio=$(calc '"%.3f", '"$ours / $theirs")
    ratios+=("$ratio")
    echo "  round $rep: program $ours probes/s, ping -f $theirs probes/s, ratio $ratio"
done
# rounds6: REPEATS alternating bursts to DST6; the median ratio in RATIO6
rounds6() {
    local ratios6=() rep ours theirs ratio
    for rep in $(seq "$REPEATS"); do
        watch_burst "$PROBES" "$OUT/ours6"
        start_trace "$DST6"
        wait_burst "$OUT/ours6"
        ours=$RATE
        sleep 0.5
        watch_burst "$PROBES" "$OUT/theirs6"
        on_src ping -6 -f -q -c "$PROBES" "$DST6" >/dev/null
        wait_burst "$OUT/theirs6"
        theirs=$RATE
        ratio=$(calc '"%.3f", '"$ours / $theirs")
        ratios6+=("$ratio")
        echo "  IPv6 round $rep: program $ours probes/s, ping -6 -f $theirs probes/s, ratio $ratio"
    done
    RATIO6=$(printf '%s\n' "${ratios6[@]}" | median)
}
rounds6
sleep 0.5
# System calls per probe: one more burst of each under strace.
strace -f -c -o "$OUT/ours.strace" -p "$KPID" 2>/dev/null &
tracer=$!
sleep 1
watch_burst "$PROBES" "$OUT/ours"
start_trace "$DST"
wait_burst "$OUT/ours"
sleep 0.5
kill -INT "$tracer"
wait "$tracer" || true
on_src strace -f -c -o "$OUT/theirs.strace" ping -f -q -c "$PROBES" "$DST" >/dev/null
calls() { awk '$NF == "total" { print $4 }' "$1"; }
echo "system calls per main probe: program $(calc '"%.2f", '"$(calls "$OUT/ours.strace") / $PROBES"), ping -f $(calc '"%.2f", '"$(calls "$OUT/theirs.strace") / $PROBES")"
echo "  program: $(awk 'NR > 2 && $NF != "total" && $1 !~ /^-/ { printf "%s %s  ", $NF, $4 }' "$OUT/ours.strace")"
echo "IPv6 median ratio program / ping -6 -f: $RATIO6 (goal: at least 0.9)"
echo "median ratio program / ping -f: $(printf '%s\n' "${ratios[@]}" | median) (goal: at least 0.3)"
