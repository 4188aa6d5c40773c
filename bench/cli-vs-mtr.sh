#!/bin/bash
# korvalen-cli beside mtr's report mode over the same path and run count: from
# src to dst (10.77.4.2, three hops, zero delay) and to its IPv6 address,
# `korvalen-cli -n -q -c RUNS` against `mtr -r -n -c RUNS -i INTERVAL`, REPEATS
# alternating rounds. Each command runs under /usr/bin/time for its peak RSS
# (%M; for mtr the larger of mtr and its mtr-packet, which it reaps, so the
# figure favours mtr), itself under perf stat for the CPU time of the whole
# tree (task-clock, mtr-packet's included; time's own 10 ms steps are too
# coarse for korvalen-cli's few milliseconds). The CPU of the wrappers alone
# (time running true) is printed: it is counted for both. Probes are
# the namespace's own count of echo requests sent (IcmpMsg OutType8 and
# Icmp6OutEchos), whoever sends them, so CPU per probe is the same division
# for both. korvalen-cli sends its next probe when the answer is in; mtr
# waits INTERVAL between cycles (default 0.001 s, as small as it takes from
# root). Start-up: the median wall time of STARTS runs of --version of each,
# and of a one-run trace to dst (mtr's report mode waits for late replies
# after its last cycle; korvalen-cli ends with the last answer). The last line
# gives the medians (goal: korvalen-cli's RSS and CPU per probe below mtr's).
# usage: [INTERVAL=S] [STARTS=N] bench/cli-vs-mtr.sh [RUNS [REPEATS]]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-cm- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
RUNS=${1:-200}
REPEATS=${2:-3}
INTERVAL=${INTERVAL:-0.001}
STARTS=${STARTS:-20}
DST=10.77.4.2
DST6=2001:db8:77:4::2
CLI=${CLI:-$BUILD/korvalen-cli}
require "$CLI" /usr/bin/time
command -v mtr >/dev/null || fail "needs mtr (mtr-tiny)"
command -v perf >/dev/null || fail "needs perf"
bed_up
OUT=$(mktemp -d)
at_exit rm -rf "$OUT"

# Echo requests the src namespace has sent, both families.
src_requests() {
    on_src cat /proc/net/snmp /proc/net/snmp6 | awk '
        $1 == "IcmpMsg:" { if (h) { for (i = 2; i <= NF; i++) if (name[i] == "OutType8") n += $i }
                           else { for (i = 2; i <= NF; i++) name[i] = $i; h = 1 } }
        $1 == "Icmp6OutEchos" { n += $2 }
        END { print n + 0 }'
}
# wrapped COMMAND...: runs it in src under both; sets KB (peak RSS) and CPU_MS
wrapped() {
    on_src perf stat -x, -e task-clock -o "$OUT/perf" /usr/bin/time -f %M -o "$OUT/time" "$@" >/dev/null
    KB=$(tail -1 "$OUT/time")
    CPU_MS=$(awk -F, '/task-clock/ { print $1 }' "$OUT/perf")
}
# measured COMMAND...: sets KB, CPU_US (CPU per probe) and PROBES
measured() {
    local before
    before=$(src_requests)
    wrapped "$@"
    PROBES=$(( $(src_requests) - before ))
    CPU_US=$(calc '"%.2f", '"$CPU_MS * 1000 / $PROBES")
}
# wall_ms COMMAND...: the median wall time of STARTS runs in src, in ms
wall_ms() {
    local i t0 times=()
    for i in $(seq "$STARTS"); do
        t0=$(now)
        on_src "$@" >/dev/null 2>&1 || true
        times+=("$(calc '"%.1f", '"($(now) - $t0) * 1000")")
    done
    printf '%s\n' "${times[@]}" | median
}
median_of() { printf '%s\n' "$@" | median; }

on_src ping -c 1 -W 2 "$DST" >/dev/null # neighbours known before the first round
on_src ping -6 -c 1 -W 2 "$DST6" >/dev/null
wrapped true
echo "cli-vs-mtr: the wrappers alone: $CPU_MS ms CPU, $KB KB"
echo "cli-vs-mtr: $RUNS runs to $DST and $DST6, mtr -i $INTERVAL, $REPEATS rounds, $(machine), load $(cut -d' ' -f1-3 /proc/loadavg)"
# rounds LABEL TARGET: REPEATS rounds of each; medians in SUMMARY
rounds() {
    local label=$1 target=$2 rep ck cc cp mk mc mp
    local cli_kb=() cli_cpu=() mtr_kb=() mtr_cpu=()
    for rep in $(seq "$REPEATS"); do
        measured "$CLI" -n -q -c "$RUNS" "$target"
        ck=$KB cc=$CPU_US cp=$PROBES
        measured mtr -r -n -c "$RUNS" -i "$INTERVAL" "$target"
        mk=$KB mc=$CPU_US mp=$PROBES
        echo "  ${label}round $rep: korvalen-cli $ck KB, $cc us CPU a probe ($cp probes); mtr -r $mk KB, $mc us ($mp probes)"
        cli_kb+=("$ck") cli_cpu+=("$cc") mtr_kb+=("$mk") mtr_cpu+=("$mc")
    done
    SUMMARY="peak RSS korvalen-cli $(median_of "${cli_kb[@]}") KB, mtr $(median_of "${mtr_kb[@]}") KB; CPU a probe korvalen-cli $(median_of "${cli_cpu[@]}") us, mtr $(median_of "${mtr_cpu[@]}") us"
}
rounds "" "$DST"
SUMMARY4=$SUMMARY
rounds "IPv6 " "$DST6"
SUMMARY6=$SUMMARY
echo "start-up, median of $STARTS: --version korvalen-cli $(wall_ms "$CLI" --version) ms, mtr $(wall_ms mtr --version) ms"
echo "one run to dst, median of $STARTS: korvalen-cli $(wall_ms "$CLI" -n -q -c 1 "$DST") ms, mtr -r $(wall_ms mtr -r -n -c 1 -i "$INTERVAL" "$DST") ms"
echo "IPv6 medians: $SUMMARY6"
echo "medians: $SUMMARY4 (goal: korvalen-cli's RSS and CPU a probe below mtr's)"
