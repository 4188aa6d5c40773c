#!/bin/bash
# Memory and descriptors over long traces with the window shown (Xvfb):
# TRACES traces of 10000 runs to dst (three hops, zero delay), Max runs set in
# the Options dialog. RSS (VmRSS) is read when 1000 runs' requests have gone
# out and after the last run; open descriptors before the first trace and
# after each. Beside it mtr -r over as many cycles to the same target, read at
# the same request counts (mtr and its mtr-packet). The last line gives the
# program's RSS, its growth from 1000 to 10000 runs and the descriptors
# (goal: at most 60 MB, within 2 MB, unchanged), and the hop history's cost.
# First, headless, the hop history alone (bench/history_cost: the engine over
# a scripted network, 10000 runs over 30 and over 255 hops): RSS and the
# growth per probe from 1000 to 10000 runs (goal: at most 16 bytes a probe).
# DETAILS=1 presses End and Enter on the table early in every trace, which
# opens the Hop details on a row (hop 1, where probe-rate.sh checked it), so
# the window reads that hop's history as it grows.
# usage: [DETAILS=1] bench/memory.sh [TRACES]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-me- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
TRACES=${1:-2}
RUNS=10000
DST=10.77.4.2
HISTORY_COST=$BUILD/bench/history_cost
require "$KORVALEN" "$HISTORY_COST"
for hops in 30 255; do # the last line's figure is the 255 hops'
    history=$("$HISTORY_COST" "$hops" 10000)
    sed 's/^/history: /' <<<"$history"
done
per_probe=$(sed -n 's/.*MB: \([0-9.]*\) bytes a probe in between/\1/p' <<<"$history")
bed_up
start_x
start_korvalen
set_runs "$RUNS"

echo "memory: $TRACES traces of $RUNS runs to $DST, $(machine)"
fd0=$(open_fds "$KPID")
rss0=$(rss_kb "$KPID")
echo "program before the first trace: RSS $(mb "$rss0") MB, $fd0 descriptors"
for t in $(seq "$TRACES"); do
    base=$(out_requests "$KPID")
    start_trace "$DST"
    if [ -n "${DETAILS:-}" ]; then
        wait_requests "$KPID" $((base + 3 * 10))
        click "$KWIN" 120 5400 11415 255 # the table, below its rows
        keys End Return
    fi
    wait_requests "$KPID" $((base + 3 * 1000))
    rss1=$(rss_kb "$KPID")
    wait_requests "$KPID" $((base + 3 * RUNS))
    sleep 1 # the last run's rows reach the screen
    rss10=$(rss_kb "$KPID")
    fd=$(open_fds "$KPID")
    echo "program trace $t: RSS at 1000 runs $(mb "$rss1") MB, at 10000 runs $(mb "$rss10") MB, $fd descriptors after it"
done
growth=$(mb $((rss10 - rss1)))

# mtr: the same number of cycles (three requests each) to the same target
base=$(out_requests "$KPID")
ip netns exec "${KV_PREFIX}src" mtr -n -r -c "$RUNS" -i 0.001 "$DST" >/dev/null & # $! is mtr itself
mtr_pid=$!
at_exit "kill $mtr_pid 2>/dev/null"
both_kb() { local kb; kb=$(rss_kb "$mtr_pid"); for c in $(cat "/proc/$mtr_pid/task/$mtr_pid/children"); do kb=$((kb + $(rss_kb "$c"))); done; echo "$kb"; }
wait_requests "$mtr_pid" $((base + 3 * 1000))
m1=$(both_kb)
wait_requests "$mtr_pid" $((base + 3 * RUNS - 30))
m10=$(both_kb)
wait "$mtr_pid" || true
echo "mtr -r: RSS at 1000 cycles $(mb "$m1") MB, at ~10000 cycles $(mb "$m10") MB (growth $(mb $((m10 - m1))) MB)"
echo "program: RSS $(mb "$rss10") MB ($(calc '"%.1f", '"$rss10 / $m10")x mtr's), growth from 1000 to 10000 runs $growth MB, descriptors $fd0 -> $fd, hop history $per_probe bytes a probe (goal: at most 60 MB, within 2 MB, unchanged, 16 bytes)"
