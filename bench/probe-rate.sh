#!/bin/bash
# Main-probe rate of a trace with the window shown (Xvfb): the program traces
# the zero-delay three-hop target dst RUNS times (Max runs set through the
# Options dialog, Start pressed, all with xdotool); after it ping -f to the
# same target with as many probes. Both bursts are timed the same way, by
# bench/burst_rate on the namespace's count of sent echo requests. REPEATS
# alternating rounds. Then one more round of each under strace -c -f gives
# the system calls per main probe (all threads of the program), which the
# machine's load does not blur, and where perf is installed one more of each
# counted by the kernel's tracepoint at full speed (goal: at most 2.05 a main
# probe). The last line is the median ratio program / ping -f (goal: at least
# 0.95 with DETAILS=1). Before it, the same REPEATS rounds to dst's IPv6
# address beside ping -6 -f (the same goal). Each burst also
# gives its CPU time per probe (the program's threads from the scheduler's
# count, ping's user + system time), which the load blurs less than rates;
# their medians are printed beside the ratios.
# Every round also times korvalen-cli (-q -n, the same runs and target, its
# user + system time for the CPU) between the window and ping, so the shell
# program's ratio stands beside the window's (goal: at least 1.0); its
# system calls per main probe at full speed are counted too.
# With KORVALEN_BEFORE set to another build of the program, every IPv4 round
# runs that build's window first, then this one's, then ping -f: only such
# interleaved rounds compare two builds on a shared machine (the IPv6 rounds
# interleave the same way). DETAILS=1 opens the Hop details (End and Enter on
# the table; it lands on hop 1) in a trace of its own before the measured ones;
# the dialog stays open, on that hop, through every measured trace.
# usage: [KORVALEN_BEFORE=PATH] [DETAILS=1] [CLI=PATH] bench/probe-rate.sh [RUNS [REPEATS]]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-pr- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
RUNS=${1:-10000}
REPEATS=${2:-3}
DST=10.77.4.2 # three hops, kernel forwarding only
DST6=2001:db8:77:4::2
PROBES=$((RUNS * 3))
CLI=${CLI:-$BUILD/korvalen-cli}
require "$KORVALEN" "$CLI" "$BURST"
[ -z "${KORVALEN_BEFORE:-}" ] || require "$KORVALEN_BEFORE"
bed_up
OUT=$(mktemp -d)
at_exit rm -rf "$OUT"
# open_details: the Hop details opened early in an unmeasured trace to dst, on
# a screen wide enough to hold it beside the main window, whose controls the
# script clicks
[ -z "${DETAILS:-}" ] || X_SCREEN=2200x900x24
open_details() {
    local base dialog
    x_tool xdotool windowmove "$KWIN" 0 0
    base=$(out_requests "$KPID")
    watch_burst "$PROBES" "$OUT/warm-up"
    start_trace "$DST"
    wait_requests "$KPID" $((base + 3 * 10))
    click "$KWIN" 120 5400 11415 255 # the table, below its rows
    keys End Return
    dialog=$(x_tool xdotool search --sync --onlyvisible --name '^Hop [0-9]+ ' | head -1) ||
        fail "the Hop details did not open"
    x_tool xdotool windowmove "$dialog" 1000 0
    wait_burst "$OUT/warm-up"
    sleep 0.5 # the trace's end
    echo "  the Hop details are open: $(x_tool xdotool getwindowname "$dialog")"
}
start_x
start_korvalen
set_runs "$RUNS"
[ -z "${DETAILS:-}" ] || open_details

echo "probe-rate: $RUNS runs ($PROBES main probes) to $DST, $REPEATS rounds, $(machine)"
# CPU time of all the program's threads in ns. Not printf "%d": mawk caps it
# at 2^31 - 1, so past 2.1 s of the program's CPU every burst read 0.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ n += $1 } END { printf "%.0f", n }'; }
# ours_burst TARGET: a trace by the window; RATE, and CPU in us per probe
ours_burst() {
    local c0
    c0=$(cpu_ns "$KPID")
    watch_burst "$PROBES" "$OUT/ours"
    start_trace "$1"
    wait_burst "$OUT/ours"
    sleep 0.5 # the trace's end
    CPU=$(calc '"%.2f", '"($(cpu_ns "$KPID") - $c0) / 1000 / $PROBES")
}
# ping_burst [-6] TARGET: ping -f from src; RATE, and CPU in us per probe
ping_burst() {
    local t
    watch_burst "$PROBES" "$OUT/theirs"
    t=$( { TIMEFORMAT='%U %S'; time ip netns exec "${KV_PREFIX}src" ping "$@" -f -q -c "$PROBES" >/dev/null; } 2>&1)
    wait_burst "$OUT/theirs"
    CPU=$(awk -v n="$PROBES" '{ printf "%.2f", ($1 + $2) * 1e6 / n }' <<<"$t")
}
# cli_burst TARGET: korvalen-cli in src, timed as ping is; RATE, and CPU in us
# per probe
cli_burst() {
    local t
    watch_burst "$PROBES" "$OUT/cli"
    t=$( { TIMEFORMAT='%U %S'; time ip netns exec "${KV_PREFIX}src" "$CLI" -q -n -c "$RUNS" -W 1 "$1" >/dev/null; } 2>&1)
    wait_burst "$OUT/cli"
    CPU=$(awk -v n="$PROBES" '{ printf "%.2f", ($1 + $2) * 1e6 / n }' <<<"$t")
}
# window PROGRAM: the window of that build, Max runs set
window() {
    stop_korvalen
    KORVALEN=$1 start_korvalen
    set_runs "$RUNS"
    [ -z "${DETAILS:-}" ] || open_details
}
median_of() { printf '%s\n' "$@" | median; }
# rounds LABEL TARGET [PING OPTION]: REPEATS alternating bursts to TARGET; the
# median ratios program / ping and (KORVALEN_BEFORE) before / ping in MEDIAN
# and BEFORE_MEDIAN
rounds() {
    local label=$1 target=$2 ping="ping ${3:+$3 }-f"
    local ratios=() befores=() cpus=() ping_cpus=() rep ours ours_cpu theirs ratio before before_cpu
    local cli_ratios=() cli_cpus=() cli cli_cpu cli_ratio
    shift 2
    for rep in $(seq "$REPEATS"); do
        if [ -n "${KORVALEN_BEFORE:-}" ]; then
            window "$KORVALEN_BEFORE"
            ours_burst "$target"
            before=$RATE before_cpu=$CPU
            window "$KORVALEN"
        fi
        ours_burst "$target"
        ours=$RATE ours_cpu=$CPU
        cli_burst "$target"
        cli=$RATE cli_cpu=$CPU
        ping_burst "$@" "$target"
        theirs=$RATE
        cpus+=("$ours_cpu") ping_cpus+=("$CPU") cli_cpus+=("$cli_cpu")
        ratio=$(calc '"%.3f", '"$ours / $theirs")
        ratios+=("$ratio")
        cli_ratio=$(calc '"%.3f", '"$cli / $theirs")
        cli_ratios+=("$cli_ratio")
        if [ -n "${KORVALEN_BEFORE:-}" ]; then
            befores+=("$(calc '"%.3f", '"$before / $theirs")")
            echo "  ${label}round $rep: before $before probes/s ($before_cpu us CPU each), program $ours ($ours_cpu us), $ping $theirs ($CPU us), ratio $ratio"
        else
            echo "  ${label}round $rep: program $ours probes/s ($ours_cpu us CPU each), $ping $theirs probes/s ($CPU us), ratio $ratio"
        fi
        echo "  ${label}round $rep: korvalen-cli $cli probes/s ($cli_cpu us CPU each), ratio $cli_ratio"
    done
    MEDIAN=$(median_of "${ratios[@]}")
    CLI_MEDIAN=$(median_of "${cli_ratios[@]}")
    CPU_MEDIANS="program $(median_of "${cpus[@]}") us, korvalen-cli $(median_of "${cli_cpus[@]}") us, $ping $(median_of "${ping_cpus[@]}") us"
    [ -z "${KORVALEN_BEFORE:-}" ] || BEFORE_MEDIAN=$(median_of "${befores[@]}")
}
rounds "" "$DST"
RATIO4=$MEDIAN BEFORE4=${BEFORE_MEDIAN:-} CPU4=$CPU_MEDIANS CLI4=$CLI_MEDIAN
rounds "IPv6 " "$DST6" -6
RATIO6=$MEDIAN BEFORE6=${BEFORE_MEDIAN:-} CPU6=$CPU_MEDIANS CLI6=$CLI_MEDIAN
sleep 0.5
# traced_burst COMMAND...: one more trace by the window while COMMAND (a
# tracer given the program's pid last) counts its calls
traced_burst() {
    "$@" "$KPID" 2>/dev/null &
    tracer=$!
    sleep 1
    watch_burst "$PROBES" "$OUT/ours"
    start_trace "$DST"
    wait_burst "$OUT/ours"
    sleep 0.5
    kill -INT "$tracer"
    wait "$tracer" || true
}
# System calls per probe: one more burst of each under strace.
traced_burst strace -f -c -o "$OUT/ours.strace" -p
on_src strace -f -c -o "$OUT/theirs.strace" ping -f -q -c "$PROBES" "$DST" >/dev/null
calls() { awk '$NF == "total" { print $4 }' "$1"; }
# strace slows each probe about fifteenfold, which inflates the calls that come
# per millisecond or per refresh; the kernel's own count at full speed needs
# perf and tracefs (skipped without them).
full_speed_calls() {
    command -v perf >/dev/null || return 0
    [ -d /sys/kernel/tracing/events ] || mount -t tracefs nodev /sys/kernel/tracing 2>/dev/null || return 0
    traced_burst perf stat -x, -e raw_syscalls:sys_enter -o "$OUT/ours.perf" -p
    on_src perf stat -x, -e raw_syscalls:sys_enter -o "$OUT/cli.perf" "$CLI" -q -n -c "$RUNS" -W 1 "$DST" >/dev/null
    on_src perf stat -x, -e raw_syscalls:sys_enter -o "$OUT/theirs.perf" ping -f -q -c "$PROBES" "$DST" >/dev/null
    count() { awk -F, '/raw_syscalls/ { print $1 }' "$1"; }
    per_probe() { calc '"%.2f", '"$(count "$1") / $PROBES"; }
    echo "system calls per main probe at full speed (perf): program $(per_probe "$OUT/ours.perf"), korvalen-cli $(per_probe "$OUT/cli.perf"), ping -f $(per_probe "$OUT/theirs.perf") (goal: at most 2.05)"
}
full_speed_calls
echo "system calls per main probe: program $(calc '"%.2f", '"$(calls "$OUT/ours.strace") / $PROBES"), ping -f $(calc '"%.2f", '"$(calls "$OUT/theirs.strace") / $PROBES")"
echo "  program: $(awk 'NR > 2 && $NF != "total" && $1 !~ /^-/ { printf "%s %s  ", $NF, $4 }' "$OUT/ours.strace")"
[ -z "${KORVALEN_BEFORE:-}" ] ||
    echo "IPv6 median ratio before / ping -6 -f: $BEFORE6"
echo "IPv6 CPU a probe, medians: $CPU6"
echo "IPv6 median ratio program / ping -6 -f: $RATIO6 (goal: at least 0.95 with the Hop details open)"
echo "IPv6 median ratio korvalen-cli / ping -6 -f: $CLI6 (goal: at least 1.0)"
[ -z "${KORVALEN_BEFORE:-}" ] ||
    echo "median ratio before / ping -f: $BEFORE4"
echo "CPU a probe, medians: $CPU4"
echo "median ratio korvalen-cli / ping -f: $CLI4 (goal: at least 1.0)"
echo "median ratio program / ping -f: $RATIO4 (goal: at least 0.95 with the Hop details open)"
