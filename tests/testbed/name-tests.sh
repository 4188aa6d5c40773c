#!/bin/bash
# The system resolver inside the namespace network: names come from src's
# hosts file, and a look-up that finds nothing returns empty text at once;
# host texts that are no usable name come back empty, also when they go on to
# a name server (one that refuses at once), and literal addresses in
# inet_addr's forms are read without one.
# usage: name-tests.sh ECHO_PROBE
set -uo pipefail
PROBE=$1
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
finish
