# Shared part of the real-network tests: skip without privileges, bring the
# namespace network up, tear it down on every exit, and tally checks.
# Sourced by the test scripts after they set KV_PREFIX (one per script, so
# two of them never share a namespace). KV_RUN_PREFIX, when set, takes the
# place of their leading "kv-", so that two runs of the suite on one machine
# never share one either.
[ -z "${KV_RUN_PREFIX:-}" ] || export KV_PREFIX="$KV_RUN_PREFIX${KV_PREFIX#kv-}"

TESTBED=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/testbed.sh
SKIP=77
failures=0

skip() { echo "SKIP: $*"; exit "$SKIP"; }

require_network_privileges() {
    [ "$(id -u)" = 0 ] || skip "network tests need root (namespaces, nftables, raw sockets)"
    for tool in ip nft ping; do
        command -v "$tool" >/dev/null || skip "network tests need $tool"
    done
    unshare --net true 2>/dev/null || skip "network tests cannot create a network namespace here"
}

bed() { "$TESTBED" "$@"; }
on_src() { bed exec src "$@"; }

bed_up() {
    trap 'stop_background; remove_copies; bed down' EXIT
    trap 'exit 130' INT TERM
    bed up
}

# readable_copy FILE VAR: sets VAR to a copy of FILE that every user can read
# and run, for what a test runs as another user: the tree itself may sit where
# only its owner can read (a clone under /root). Made once per file, in this
# shell (not in a subshell, so remove_copies knows it). A file capability
# comes along.
declare -A copies=()
copies_dir=
readable_copy() {
    if [ -z "${copies[$1]:-}" ]; then
        [ -n "$copies_dir" ] || { copies_dir=$(mktemp -d /tmp/kv-copies.XXXXXX) && chmod 755 "$copies_dir"; } ||
            return 1
        local to
        to=$(mktemp -d "$copies_dir/XXXXXX") && chmod 755 "$to" && cp --preserve=mode,xattr "$1" "$to/" &&
            chmod 755 "$to/${1##*/}" || return 1
        copies[$1]=$to/${1##*/}
    fi
    printf -v "$2" '%s' "${copies[$1]}"
}
remove_copies() { [ -z "$copies_dir" ] || rm -rf "$copies_dir"; copies_dir=; copies=(); }

background_pids=()
# Starts a command in src in the background; stop_background ends it again.
# The subshell becomes the command (testbed.sh execs it too), so the pid
# killed is the command's: a forked chain left it running after the test.
in_background() {
    (exec "$TESTBED" exec src "$@") >/dev/null 2>&1 &
    background_pids+=($!)
}
stop_background() {
    local pid
    for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${background_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    background_pids=()
}

# check NAME EXPECTED ACTUAL
check() {
    if [ "$2" = "$3" ]; then
        echo "ok   $1"
    else
        echo "FAIL $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}

# check_true NAME DETAIL CMD...: passes when CMD succeeds
check_true() {
    local name=$1 detail=$2
    shift 2
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name: $detail"
        failures=$((failures + 1))
    fi
}

# field KEY LINE: the value of KEY=value in a result line
field() { sed -n "s/.*\<$1=\"\{0,1\}\([^\" ]*\).*/\1/p" <<<"$2" | head -1; }

# Absolute difference of two decimals no larger than a limit.
within() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { x = a - b; exit !(x <= d && -x <= d) }'; }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Round-trip times of ping, one per line.
ping_rtts() { on_src ping "$@" | sed -n 's/.* time=\([0-9.]*\) ms.*/\1/p'; }
ping_ttl() { on_src ping -c1 -W1 "$1" | sed -n 's/.* ttl=\([0-9]*\) .*/\1/p'; }

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
