#!/bin/bash
# The saved trace of a long trace: RUNS runs over 30 hops (the bed's routing
# loop, where every TTL is answered by r1 or r2 in turn) recorded by
# korvalen-cli --save. Prints the file's bytes a probe (goal: at most 64), the
# time korvalen-cli --open takes to make its JSON report (goal: at most 1 s)
# and its peak RSS beside the live trace's (goal: within it), and what
# recording costs: REPEATS rounds of the same trace without and with --save,
# interleaved, CPU time a probe and the trace's wall time (goal: nothing
# measurable; the records are written once a run, never a system call a probe).
# usage: bench/saved-trace.sh [RUNS [REPEATS]]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-st-
source "$(dirname "$0")/lib.sh"
RUNS=${1:-10000}
REPEATS=${2:-3}
HOPS=30
CLI=$BUILD/korvalen-cli
require "$CLI" /usr/bin/time
bed_up
bed loop on
OUT=$(mktemp -d)
chmod 755 "$OUT"
at_exit rm -rf "$OUT"
PROBES=$((RUNS * HOPS))

# measured CMD...: "wall user system maxrss_kb" of one run of CMD
measured() {
    /usr/bin/time -f '%e %U %S %M' -o "$OUT/time" "$@" >/dev/null 2>&1 || true
    tail -1 "$OUT/time" # after "Command exited with non-zero status 1": the target never answers
}
trace() { measured "$TESTBED" exec src "$CLI" -q -n -c "$RUNS" -m $HOPS -W 1 "$@" 10.77.50.1; }
us_per_probe() { awk -v p=$PROBES '{ printf "%.2f\n", ($2 + $3) * 1e6 / p }'; }

echo "$(machine), load $(cut -d' ' -f1-3 /proc/loadavg); $RUNS runs x $HOPS hops = $PROBES probes"
for i in $(seq "$REPEATS"); do
    plain=$(trace)
    saved=$(trace --save "$OUT/t.kvtrace")
    echo "round $i: without --save $plain, with $saved (wall s, user s, system s, RSS kB)"
    echo "$plain" | us_per_probe >>"$OUT/plain"
    echo "$saved" | us_per_probe >>"$OUT/saved"
    echo "$plain" | awk '{ print $1 }' >>"$OUT/plain-wall"
    echo "$saved" | awk '{ print $1 }' >>"$OUT/saved-wall"
    echo "$plain" | awk '{ print $4 }' >>"$OUT/rss"
done
size=$(stat -c %s "$OUT/t.kvtrace")
probes=$(grep -c '^{"p"' "$OUT/t.kvtrace")
opened=$(measured "$CLI" --open "$OUT/t.kvtrace" -j)
echo "file: $size bytes, $probes main probes, $(calc "\"%.1f\", $size / $probes") bytes a probe (goal <= 64)"
echo "open (--open -j): $(awk '{ print $1 }' <<<"$opened") s (goal <= 1), RSS $(awk '{ print $4 }' <<<"$opened") kB;" \
     "the live trace's RSS (median) $(median <"$OUT/rss") kB"
echo "CPU a probe, median: without --save $(median <"$OUT/plain") us, with $(median <"$OUT/saved") us;" \
     "wall: $(median <"$OUT/plain-wall") s against $(median <"$OUT/saved-wall") s"
