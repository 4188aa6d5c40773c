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
# DETAILS=1 opens the Hop details on the table's last row (End twice, then
# Enter: the first End of a table without a current row only lands on its
# first row) early in every trace, so the window reads that hop's history as
# it grows; the script checks the dialog's title names the hop.
# HOPS=N (1 to 255) traces a routing loop of the bed instead (10.77.50.1:
# r1 and r2 send it to each other, so every hop up to Max hops answers with a
# time exceeded and no probe times out), Max hops N, the Hop details open on
# hop N; every hop of the loop is as busy as the last. mtr -r then runs 1000
# cycles over the same loop (at its speed 10000 would take many minutes),
# read after 100 cycles' requests and at its end.
# usage: [DETAILS=1] [HOPS=N] bench/memory.sh [TRACES]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-me- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
TRACES=${1:-2}
RUNS=10000
DST=10.77.4.2
PER_RUN=3 # main probes a run: one a hop
HOPS=${HOPS:-}
if [ -n "$HOPS" ]; then
    if ! [[ $HOPS =~ ^[0-9]+$ ]] || [ "$HOPS" -lt 1 ] || [ "$HOPS" -gt 255 ]; then fail "HOPS is 1 to 255"; fi
    DST=10.77.50.1 PER_RUN=$HOPS DETAILS=1
fi
HISTORY_COST=$BUILD/bench/history_cost
require "$KORVALEN" "$HISTORY_COST"
for hops in 30 255; do # the last line's figure is the 255 hops'
    history=$("$HISTORY_COST" "$hops" 10000)
    sed 's/^/history: /' <<<"$history"
done
per_probe=$(sed -n 's/.*MB: \([0-9.]*\) bytes a probe in between/\1/p' <<<"$history")
bed_up
[ -z "$HOPS" ] || bed loop on
# a screen wide enough to hold the Hop details beside the main window, whose
# controls the script clicks
[ -z "${DETAILS:-}" ] || X_SCREEN=${X_SCREEN:-2200x900x24}
start_x
start_korvalen
set_runs "$RUNS" "$HOPS"

# The Hop details opened (or raised) on the table's last row; DIALOG is its window.
open_details() {
    local title
    click "$KWIN" 120 5400 11415 255 # the table, below its rows (or its last visible one)
    keys End End Return
    DIALOG=$(x_tool xdotool search --sync --onlyvisible --name '^Hop [0-9]+ ' | head -1) ||
        fail "the Hop details did not open"
    x_tool xdotool windowmove "$DIALOG" 1000 0
    title=$(x_tool xdotool getwindowname "$DIALOG")
    [ -z "$HOPS" ] || [[ $title == "Hop $HOPS "* ]] || fail "the Hop details show \"$title\", not hop $HOPS"
    echo "  the Hop details are open: $title"
}
[ -z "${DETAILS:-}" ] || x_tool xdotool windowmove "$KWIN" 0 0

echo "memory: $TRACES traces of $RUNS runs to $DST${HOPS:+ (a routing loop, Max hops $HOPS)}, $(machine)"
fd0=$(open_fds "$KPID")
rss0=$(rss_kb "$KPID")
echo "program before the first trace: RSS $(mb "$rss0") MB, $fd0 descriptors"
for t in $(seq "$TRACES"); do
    base=$(out_requests "$KPID")
    start_trace "$DST"
    if [ -n "${DETAILS:-}" ]; then
        wait_requests "$KPID" $((base + PER_RUN * 10))
        open_details
    fi
    wait_requests "$KPID" $((base + PER_RUN * 1000))
    rss1=$(rss_kb "$KPID")
    wait_requests "$KPID" $((base + PER_RUN * RUNS)) 1200
    sleep 1 # the last run's rows reach the screen
    rss10=$(rss_kb "$KPID")
    fd=$(open_fds "$KPID")
    echo "program trace $t: RSS at 1000 runs $(mb "$rss1") MB, at 10000 runs $(mb "$rss10") MB, $fd descriptors after it"
    [ -z "${DETAILS:-}" ] || echo "  after it the Hop details show: $(x_tool xdotool getwindowname "$DIALOG")"
    [ -z "$HOPS" ] || echo "  growth from 1000 to 10000 runs: $(calc '"%.2f", '"($rss10 - $rss1) * 1024 / ($PER_RUN * ($RUNS - 1000))") bytes a main probe (the hop history keeps 16)"
done
growth=$(mb $((rss10 - rss1)))

# mtr: the same number of cycles (a request a hop each) to the same target
cycles=$RUNS
[ -z "$HOPS" ] || cycles=1000
base=$(out_requests "$KPID")
ip netns exec "${KV_PREFIX}src" mtr -n -r -c "$cycles" -i 0.001 ${HOPS:+-m "$HOPS"} "$DST" >/dev/null & # $! is mtr itself
mtr_pid=$!
at_exit "kill $mtr_pid 2>/dev/null"
both_kb() { local kb; kb=$(rss_kb "$mtr_pid"); for c in $(cat "/proc/$mtr_pid/task/$mtr_pid/children"); do kb=$((kb + $(rss_kb "$c"))); done; echo "$kb"; }
if [ -z "$HOPS" ]; then
    wait_requests "$mtr_pid" $((base + 3 * 1000))
    m1=$(both_kb)
    wait_requests "$mtr_pid" $((base + 3 * RUNS - 30))
    m10=$(both_kb)
    wait "$mtr_pid" || true
    echo "mtr -r: RSS at 1000 cycles $(mb "$m1") MB, at ~10000 cycles $(mb "$m10") MB (growth $(mb $((m10 - m1))) MB)"
else
    # mtr sends fewer than a request a hop in some cycles, so its end is read
    # by watching it: the last reading while mtr-packet still ran
    wait_requests "$mtr_pid" $((base + HOPS * 100))
    m1=$(both_kb)
    m10=$m1
    while [ -n "$(cat "/proc/$mtr_pid/task/$mtr_pid/children" 2>/dev/null)" ] && kb=$(both_kb 2>/dev/null) && [ -n "$kb" ]; do
        m10=$kb
        sleep 0.2
    done
    wait "$mtr_pid" || true
    echo "mtr -r -m $HOPS: RSS at 100 cycles $(mb "$m1") MB, at its end ($cycles cycles) $(mb "$m10") MB (growth $(mb $((m10 - m1))) MB)"
fi
echo "program: RSS $(mb "$rss10") MB ($(calc '"%.1f", '"$rss10 / $m10")x mtr's), growth from 1000 to 10000 runs $growth MB, descriptors $fd0 -> $fd, hop history $per_probe bytes a probe (goal: at most 60 MB, within 2 MB, unchanged, 16 bytes)"
