#!/bin/bash
# Main-probe rate of the echo service alone (open, send, close per probe, as a
# trace does) beside ping -f, to the same zero-delay address of the namespace
# test network, in the same run. The last line is the ratio for the backend a
# trace gets by default (automatic).
# usage: bench/echo-rate.sh [PROBES]   (root; build first: scripts/build)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
PROBE=$BUILD/tests/testbed/echo_probe
COUNT=${1:-50000}
TARGET=10.77.4.2 # dst: three hops, kernel forwarding only, no delay line
export KV_PREFIX=kv-bench- KV_DELAYLINE=$BUILD/tests/testbed/delayline
TESTBED=$ROOT/tests/testbed/testbed.sh

[ "$(id -u)" = 0 ] || { echo "echo-rate: needs root (namespaces)" >&2; exit 1; }
[ -x "$PROBE" ] || { echo "echo-rate: build $PROBE first (scripts/build)" >&2; exit 1; }
trap '"$TESTBED" down' EXIT
"$TESTBED" up

on_src() { "$TESTBED" exec src "$@"; }
now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }

echo "probes: $COUNT to $TARGET, $(nproc) cores, kernel $(uname -r)"
declare -A rates
for backend in automatic datagram raw; do
    start=$(now)
    summary=$(on_src "$PROBE" --backend "$backend" --count "$COUNT" --quiet "$TARGET")
    end=$(now)
    rates[$backend]=$(rate "$COUNT" "$start" "$end")
    echo "echo service ($backend): ${rates[$backend]} probes/s  ($summary)"
done
start=$(now)
flood=$(on_src ping -f -q -c "$COUNT" "$TARGET" | grep received)
end=$(now)
ping_rate=$(rate "$COUNT" "$start" "$end")
echo "ping -f: $ping_rate probes/s  ($flood)"
awk -v a="${rates[automatic]}" -v p="$ping_rate" \
    'BEGIN { printf "ratio echo service / ping -f: %.2f\n", a / p }'
