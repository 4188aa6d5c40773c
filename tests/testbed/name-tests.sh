#!/bin/bash
# The system resolver inside the namespace network: names come from src's
# hosts file, and a look-up that finds nothing returns empty text at once.
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
finish
