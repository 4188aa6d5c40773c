# Shared part of the benchmark scripts: root and build checks, a namespace test
# network of the script's own (KV_PREFIX) that is torn down on every exit,
# and small number helpers. Sourced after the script sets KV_PREFIX.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
TESTBED=$ROOT/tests/testbed/testbed.sh
export KV_DELAYLINE=$BUILD/tests/testbed/delayline
NAME=$(basename "$0" .sh)

fail() { echo "$NAME: $*" >&2; exit 1; }

require() { # require PROGRAM...: root and the built programs the script runs
    [ "$(id -u)" = 0 ] || fail "needs root (network namespaces)"
    local p
    for p in "$@"; do [ -x "$p" ] || fail "build $p first (scripts/build)"; done
}

cleanups=()
# Runs on exit, last registered first, before the network goes down.
at_exit() { cleanups=("$*" "${cleanups[@]}"); }
run_cleanups() {
    local c
    for c in "${cleanups[@]}"; do eval "$c" || true; done
    "$TESTBED" down
}

bed_up() {
    trap run_cleanups EXIT
    trap 'exit 130' INT TERM
    "$TESTBED" up >/dev/null
}
bed() { "$TESTBED" "$@"; }
on_src() { "$TESTBED" exec src "$@"; }

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
calc() { awk "BEGIN { printf $1 }"; } # calc '"%.2f", 1 / 3'
now() { date +%s.%N; }
machine() { echo "$(nproc) cores, $(free -g | awk '/^Mem/ { print $2 }') GiB, kernel $(uname -r), $(date +%F)"; }
