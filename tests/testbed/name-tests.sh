#!/bin/bash
# The system resolver inside the namespace network: names come from src's
# hosts file, and a look-up that finds nothing returns empty text at once;
# host texts that are no usable name come back empty, also when they go on to
# a name server (one that refuses at once), and literal addresses in
# inet_addr's forms are read without one. Names also come over DNS, from the
# bed's dnsmasq and from servers that answer only after a delay: a reverse
# name that outlasts its 2 s wait still shows by the end of the trace, a
# forward look-up waits as long as the C library does, and Stop ends that wait.
# usage: name-tests.sh ECHO_PROBE TRACE_PROBE
set -uo pipefail
PROBE=$1
TRACE=$2
export KV_PREFIX=kv-n-
. "$(dirname "$0")/lib.sh"
require_network_privileges
bed_up || { echo "FAIL the network does not come up"; exit 1; }

FAST_MS=200 # files only: anything slower went looking elsewhere

while read -r kind query expected; do
    line=$(on_src "$PROBE" "$kind" "$query")
    check "$kind $query" "${expected:-}" "$(field text "$line")"
    check_true "$kind $query is fast" "took $(field elapsed "$line") ms" \
        within "$(field elapsed "$line")" 0 $FAST_MS
done <<'EOF'
name 10.77.2.2 r2a.kv.test
name 10.77.3.2 r2b.kv.test
name 10.77.4.2 dst.kv.test
name 10.77.99.1
name 10.77.9.1
addr dst.kv.test 10.77.4.2
addr dst 10.77.4.2
addr far.kv.test 10.77.11.2
addr 10.77.5.5 10.77.5.5
addr nowhere.kv.test
addr nowhere
name 2001:db8:77:3:a1b2:c3d4:e5f6:2 r2b.kv.test
name 2001:db8:77:99::1
addr dst6.kv.test 2001:db8:77:4::2
addr [2001:DB8:77:4:0:0:0:2] 2001:db8:77:4::2
addr ::ffff:10.77.4.2 10.77.4.2
addr 1:2:3:4:5:6:7:8:9
EOF

long=$(printf 'a%.0s' $(seq 300))
# text|expected address; a trailing dot is passed on as typed, and the hosts
# file (like ping's look-up) does not take it
bad_texts=("|" "   |" "$long|" $'r\xc3\xb6uter.\xe4\xbe\x8b.example|' 'x; rm -rf ~ && echo $(id) `id`|'
           "-1|" "Clear History|" "999.1.1.1|" "1.2.3|1.2.0.3" "010.1.1.1|8.1.1.1"
           "0x7f.0.0.1|127.0.0.1" "0.0.0.0|0.0.0.0" "255.255.255.255|255.255.255.255"
           "127.0.0.1 |" "dst.kv.test.|")
# A name server's time-out costs 1 s here; leave room for a loaded machine below that.
BAD_TEXT_MS=500
bad_text_checks() { # $1 names the resolver set-up
    local entry text expected line
    for entry in "${bad_texts[@]}"; do
        text=${entry%%|*} expected=${entry#*|}
        line=$(on_src "$PROBE" addr "$text")
        check "$1: addr '${text:0:24}'" "$expected" "$(field text "$line")"
        check_true "$1: addr '${text:0:24}' is fast" "took $(field elapsed "$line") ms" \
            within "$(field elapsed "$line")" 0 $BAD_TEXT_MS
    done
}
bad_text_checks "hosts file"
bed dns 127.0.0.1
bad_text_checks "refusing name server"
bed nodns

# ---- an older system's hosts file: a Latin-1 byte and a control character
HOSTS=/etc/netns/${KV_PREFIX}src/hosts
printf '10.77.99.3 caf\xe9\x01.kv.test\n' >>"$HOSTS"
check "Latin-1 name: made valid text" "caf"$'\xef\xbf\xbd\xef\xbf\xbd'".kv.test" \
    "$(field text "$(on_src "$PROBE" name 10.77.99.3)")"

# ---- a name with two addresses: the first getaddrinfo gives, as ping's
printf '10.77.4.2 multi.kv.test\n10.77.1.1 multi.kv.test\n' >>"$HOSTS"
ping_addr() { on_src ping -c1 -W1 multi.kv.test | sed -n '1s/^PING [^ ]* (\([0-9.]*\)).*/\1/p'; }
# Which one RFC 6724 puts first depends on the source addresses (src has IPv6
# ones too, and 10.77.1.1 shares the longer prefix with 10.77.1.2); gai.conf
# then puts the other one first.
first=$(ping_addr)
other=10.77.1.1
[ "$first" != 10.77.1.1 ] || other=10.77.4.2
check_true "two addresses: ping takes one of them" "$first" grep -qE '^10\.77\.(1\.1|4\.2)$' <<<"$first"
check "two addresses: the first one" "$first $first" \
    "$(field text "$(on_src "$PROBE" addr multi.kv.test)") $(ping_addr)"
printf 'precedence ::ffff:%s/128 100\nprecedence ::ffff:0:0/96 35\n' "$other" \
    >"/etc/netns/${KV_PREFIX}src/gai.conf"
check "two addresses: gai.conf reorders them" "$other $other" \
    "$(field text "$(on_src "$PROBE" addr multi.kv.test)") $(ping_addr)"
rm -f "/etc/netns/${KV_PREFIX}src/gai.conf"

# ---- names over DNS only: src's hosts file forgets them
bed unname 10.77.1.1 10.77.2.2 10.77.4.2 10.77.11.2 2001:db8:77:2::2 2001:db8:77:4::2
bed dns 10.77.1.1 timeout:1 attempts:1
line=$(on_src "$PROBE" name 10.77.2.2)
check "dnsmasq: a reverse name" r2a.kv.test "$(field text "$line")"
check "dnsmasq: a forward name" 10.77.4.2 "$(field text "$(on_src "$PROBE" addr dst.kv.test)")"
check "dnsmasq: an ip6.arpa name" r2a.kv.test \
    "$(field text "$(on_src "$PROBE" name 2001:db8:77:2::2)")"
check "dnsmasq: a name with AAAA only" 2001:db8:77:4::2 \
    "$(field text "$(on_src "$PROBE" addr dst6.kv.test)")"

# ---- a name server that answers after 3 s, against one that never does. far
# answers after the probe time-out, so every hop from 2 on times out (1 s).
trace() { on_src timeout 150 "$TRACE" "$@"; }
bed delay 600 2>/dev/null # far answers, after the time-out
bed slowdns 10.77.1.53 3
bed dns 10.77.1.53 timeout:5 attempts:1
slow=$(trace --names --runs 1 --hops 4 --timeout 1 --every-run --report 10.77.11.2)
bed dns 10.77.9.53 timeout:5 attempts:1
dead=$(trace --names --runs 1 --hops 4 --timeout 1 --every-run --report 10.77.11.2)
elapsed() { field elapsed "$(grep '^end ' <<<"$1")"; }
check "3 s server: every look-up gave up after 2 s" "2 names" \
    "$(grep -c '^lookup .* name= elapsed=20' <<<"$slow") names"
row1() { grep '^row  1|' <<<"$1" | cut -d'|' -f1-3; }
check "3 s server: the table" "row  1|10.77.1.1|r1.kv.test" "$(row1 "$slow")"
check "3 s server: the report's Host name" "report Host name  : far.kv.test" \
    "$(grep '^report Host name' <<<"$slow")"
check "3 s server: the report's row" "report 1   10.77.1.1       r1.kv.test" \
    "$(grep '^report 1 ' <<<"$slow" | cut -c1-37)"
check_true "3 s server: no slower than a dead one" \
    "$(elapsed "$slow") ms, dead $(elapsed "$dead") ms" \
    awk -v s="$(elapsed "$slow")" -v d="$(elapsed "$dead")" 'BEGIN { exit !(s <= d + 300) }'
check "dead server: no name" "row  1|10.77.1.1|" "$(row1 "$dead")"
# r1 is the target: its row's look-up comes while the Host name's is still on
# its way, and takes that one's answer instead of asking again
bed dns 10.77.1.53 timeout:5 attempts:1
out=$(trace --names --runs 1 --hops 2 --every-run --report 10.77.1.1)
second=$(grep '^lookup 10.77.1.1 ' <<<"$out" | sed -n 2p)
check "3 s server: one look-up per address at a time" "r1.kv.test" "$(field name "$second")"
check_true "3 s server: the second waits for the first" "took $(field elapsed "$second") ms" \
    within "$(field elapsed "$second")" 1000 400
check "3 s server: the late Host name" "report Host name  : r1.kv.test" \
    "$(grep '^report Host name' <<<"$out")"

# ---- a forward look-up answered after 12 s is traced; Stop ends that wait
bed slowdns 10.77.1.54 12
bed dns 10.77.1.54 timeout:15 attempts:1
out=$(trace --runs 1 --hops 4 --every-run dst.kv.test)
check "12 s forward: traced" "row  3|10.77.4.2" "$(grep '^row  3|' <<<"$out" | cut -d'|' -f1-2)"
check_true "12 s forward: waited for it" "took $(elapsed "$out") ms" \
    within "$(elapsed "$out")" 12900 1000
check "12 s forward: no message" "" "$(grep '^message' <<<"$out")"
start=$(date +%s%N)
out=$(trace --runs 1 --hops 4 --every-run --stop-at 1000 dst.kv.test)
took=$((($(date +%s%N) - start) / 1000000))
check "Stop in the forward wait: no probe, no message" "end runs=0" \
    "$(grep -v '^run 0' <<<"$out" | cut -d' ' -f1-2)"
check_true "Stop in the forward wait: ends at once" "trace $(elapsed "$out") ms, program $took ms" \
    within "$(elapsed "$out")" 1000 300
check_true "Stop in the forward wait: the program ends at once" "took $took ms" \
    within "$took" 1000 800
bed nodns
finish
