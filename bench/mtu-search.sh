#!/bin/bash
# MTU search: with Find MTU on, the probes the trace engine sends to each hop
# (bench/trace_run: the real engine over the real echo service, one run) and
# the time each hop's search takes, with the r2 -- dst link at 1500, 1400,
# 1280 and 576 bytes, beside tracepath -n's pmtu on the same path. Each
# search must send exactly the sizes the halving gives for its path MTU
# (92, 1032, ...; computed here independently), report the same MTU as
# tracepath at dst, and take at most 13 x RTT + 5 ms (RTT: ping's average to
# the hop). One more trace goes to far behind the 10 ms delay line, where the
# RTT term counts (no tracepath there: its UDP gets no answer through the line).
# Then the same over IPv6 to dst's IPv6 address at 1500, 1400 and 1280 (IPv6
# needs 1280), beside tracepath -6: the same packet sizes on the wire, so
# payloads 20 bytes smaller (72, 1012, ...). REPEATS traces per link; times are
# medians. The last line says how many hops met all three goals.
# usage: bench/mtu-search.sh [REPEATS]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-mt- KV_DELAY_MS=10
source "$(dirname "$0")/lib.sh"
TRACE=$BUILD/bench/trace_run
REPEATS=${1:-3}
DST=10.77.4.2
FAR=10.77.11.2
DST6=2001:db8:77:4::2
require "$TRACE" "$KV_DELAYLINE"
command -v tracepath >/dev/null || fail "needs tracepath (iputils-tracepath)"
bed_up
OUT=$(mktemp -d)
at_exit rm -rf "$OUT"

# The payload sizes the halving probes for a path MTU, one line: from 120
# bytes on the wire (passes) and 2000 (never sent), halfway each time, halves
# to the even size; HEADERS (28 or 48) bytes of them are not payload.
expected_sizes() {
    awk -v mtu="$1" -v h="${2:-28}" 'BEGIN {
        low = 120 - h; high = 2000 - h; probe = low; out = ""
        for (;;) {
            out = out (out == "" ? "" : " ") probe
            if (probe + h <= mtu) low = probe; else high = probe
            d = high - low; mid = low + int(d / 2)
            if (d % 2 == 1 && mid % 2 == 1) mid++
            if (high == low + 1) break
            probe = mid
        }
        print out
    }'
}

# sizes HOP FILE: the don't-fragment probe sizes of one hop's search, in order
sizes() { awk -v h="hop=$1" '$1 == "probe" && $2 == h && $4 == "df=1" { sub("size=", "", $5); printf "%s%s", (n++ ? " " : ""), $5 } END { print "" }' "$2"; }
# search_ms HOP FILE: first MTU probe's start to the last one's end
search_ms() { awk -v h="hop=$1" '$1 == "probe" && $2 == h && $4 == "df=1" { split($8, s, "="); split($9, e, "="); if (a == "") a = s[2]; b = e[2] } END { printf "%.3f", (b - a) / 1000 }' "$2"; }
rtt_ms() { on_src ping -n -q -c 20 -i 0.01 -W 2 "$1" | sed -n 's|.* = [0-9.]*/\([0-9.]*\)/.*|\1|p'; }

echo "mtu-search: $REPEATS traces per link, $(machine)"
hops_ok=0 hops_all=0
search() { # search LABEL TARGET MTU-AT-TARGET
    local label=$1 target=$2 mtu=$3 rep hop times address want got shown limit t ok
    local headers=28 family=
    case $target in *:*) headers=48 family=-6 ;; esac
    for rep in $(seq "$REPEATS"); do
        on_src "$TRACE" --mtu --runs 1 --timeout 2 --probes "$target" >"$OUT/trace.$rep"
    done
    local tp=
    if [ "$target" = "$DST" ] || [ "$target" = "$DST6" ]; then
        tp=$(on_src timeout 60 tracepath $family -n "$target" | sed -n 's/.*pmtu \([0-9]*\).*/\1/p' | tail -1)
        echo "$label: tracepath${family:+ $family} -n pmtu $tp"
    else
        # tracepath's UDP gets no answer through the delay line
        echo "$label (no tracepath here)"
    fi
    while read -r hop address shown; do
        # the hop's own path MTU: the link MTU only counts on the way to dst
        local path=1500
        [ "$address" = "$target" ] && path=$mtu
        want=$(expected_sizes "$path" "$headers")
        got=$(sizes "${hop}" "$OUT/trace.1")
        times=()
        for rep in $(seq "$REPEATS"); do times+=("$(search_ms "$hop" "$OUT/trace.$rep")"); done
        t=$(printf '%s\n' "${times[@]}" | median)
        local rtt
        rtt=$(rtt_ms "$address")
        limit=$(calc '"%.3f", '"13 * $rtt + 5")
        ok=yes
        [ "$got" = "$want" ] || ok=no
        [ "$shown" = "$path" ] || ok=no
        [ "$address" != "$target" ] || [ -z "$tp" ] || [ "$shown" = "$tp" ] || ok=no
        awk -v t="$t" -v l="$limit" 'BEGIN { exit !(t <= l) }' || ok=no
        echo "  hop $hop $address: MTU $shown (path $path), $(wc -w <<<"$got") probes: $got"
        [ "$got" = "$want" ] || echo "    expected: $want"
        echo "    search $t ms (median of ${times[*]}), limit 13 x $rtt + 5 = $limit ms: $ok"
        hops_all=$((hops_all + 1))
        [ "$ok" = yes ] && hops_ok=$((hops_ok + 1))
    done < <(awk '$1 == "row" { sub("hop=", "", $2); sub("address=", "", $3); sub("mtu=", "", $11); print $2, $3, $11 }' "$OUT/trace.1")
}

for mtu in 1500 1400 1280 576; do
    bed mtu "$mtu"
    search "link r2 -- dst at $mtu" "$DST" "$mtu"
done
search "far behind the 10 ms delay line" "$FAR" 1500
for mtu in 1500 1400 1280; do
    bed mtu "$mtu"
    on_src ip -6 route flush cache
    search "IPv6: link r2 -- dst at $mtu" "$DST6" "$mtu"
done
echo "hops with the expected sizes, tracepath's MTU and the time limit: $hops_ok of $hops_all"
