# Shared part of the benchmark scripts: root and build checks, a namespace test
# network of the script's own (KV_PREFIX) that is torn down on every exit,
# and small number helpers. Sourced after the script sets KV_PREFIX.
# KV_RUN_PREFIX, when set, takes the place of the leading "kv-", as in the tests.
[ -z "${KV_RUN_PREFIX:-}" ] || export KV_PREFIX="$KV_RUN_PREFIX${KV_PREFIX#kv-}"
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

# ---- the window under Xvfb (display KV_DISPLAY, default :83)
DISPLAY_NUM=${KV_DISPLAY:-:83}
KORVALEN=${KORVALEN:-$BUILD/korvalen} # another build of the program for a before/after
x_pids=()
X_TWMRC=/tmp/kv-bench-twmrc.$$
x_tool() { timeout 10 env DISPLAY="$DISPLAY_NUM" "$@"; }

start_x() { # Xvfb and a window manager of our own, ended on exit
    [ ! -e "/tmp/.X11-unix/X${DISPLAY_NUM#:}" ] || fail "display $DISPLAY_NUM is in use"
    Xvfb "$DISPLAY_NUM" -screen 0 "${X_SCREEN:-1280x900x24}" -nolisten tcp >/dev/null 2>&1 &
    x_pids+=($!)
    at_exit stop_x
    local i
    for i in $(seq 50); do
        x_tool xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    # twm places new windows itself with this, and needs the C locale for its fonts
    printf 'RandomPlacement\nUsePPosition "on"\n' >"$X_TWMRC"
    LC_ALL=C DISPLAY=$DISPLAY_NUM twm -f "$X_TWMRC" >/dev/null 2>&1 &
    x_pids+=($!)
    sleep 0.5
    kill -0 "${x_pids[1]}" 2>/dev/null || fail "twm did not start"
}
stop_x() {
    local pid
    for ((i = ${#x_pids[@]} - 1; i >= 0; i--)); do
        pid=${x_pids[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    x_pids=()
    rm -f "$X_TWMRC"
}

# Starts the program in src with the window shown; sets KPID and KWIN. Words
# given go before the program (start_korvalen nice -n 19).
start_korvalen() {
    ip netns exec "${KV_PREFIX}src" env DISPLAY="$DISPLAY_NUM" "$@" "$KORVALEN" >/dev/null 2>&1 &
    KPID=$!
    at_exit stop_korvalen
    local i
    KWIN=
    for i in $(seq 100); do
        KWIN=$(x_tool xdotool search --onlyvisible --name '^Korvalen$' 2>/dev/null | head -1) || true
        [ -n "$KWIN" ] && break
        sleep 0.1
    done
    [ -n "$KWIN" ] || fail "no Korvalen window"
    sleep 0.5
}
stop_korvalen() {
    [ -n "${KPID:-}" ] || return 0
    kill "$KPID" 2>/dev/null || true
    wait "$KPID" 2>/dev/null || true
    KPID=
}

# click WINDOW LEFT TOP WIDTH HEIGHT: the middle of a control given in twips
click() {
    local w=$1 x=$(( ($2 + $4 / 2) / 15 )) y=$(( ($3 + $5 / 2) / 15 ))
    x_tool xdotool mousemove --window "$w" "$x" "$y" click 1
    sleep 0.2
}
keys() { x_tool xdotool key --clearmodifiers "$@"; sleep 0.1; }
typed() { x_tool xdotool type --delay 20 "$1"; sleep 0.1; }

# Sets Max runs (and Max hops, when given) in the Options dialog and applies
# them with OK.
set_runs() { # set_runs RUNS [HOPS]
    local dialog= i
    for i in $(seq 30); do
        # a window manager that is still placing the window may eat a click
        [ $((i % 10)) = 1 ] && click "$KWIN" 9840 240 1335 495 # Options
        dialog=$(x_tool xdotool search --onlyvisible --name '^Options$' 2>/dev/null | head -1) || true
        [ -n "$dialog" ] && break
        sleep 0.1
    done
    [ -n "$dialog" ] || fail "no Options dialog"
    click "$dialog" 1680 2640 615 285         # Text6, Max runs
    keys ctrl+a
    typed "$1"
    if [ -n "${2:-}" ]; then
        click "$dialog" 3600 1680 615 285     # Text7, Max hops
        keys ctrl+a
        typed "$2"
    fi
    click "$dialog" 3120 3240 1095 495        # OK
}

# Types the host and presses Start.
start_trace() {
    click "$KWIN" 2160 240 4575 315           # Combo1
    keys ctrl+a
    typed "$1"
    click "$KWIN" 8040 240 1335 495           # Start
}

# Waits up to SECONDS for the trace to end (Copy is enabled again then) and
# prints the report it copies.
trace_report() { # trace_report SECONDS
    local i text
    printf 'none' | DISPLAY=$DISPLAY_NUM setsid xclip -i -selection clipboard >/dev/null 2>&1
    for i in $(seq $(($1 * 2))); do
        click "$KWIN" 8040 960 1335 495       # Copy to clipboard
        text=$(x_tool xclip -o -selection clipboard 2>/dev/null | tr -d '\r') || true
        [ -n "$text" ] && [ "$text" != none ] && { printf '%s\n' "$text"; return 0; }
        sleep 0.3
    done
    fail "no report within $1 s"
}
# report_row REPORT HOP: Sent Best Avg Worst of the hop's row (names off, no MTU)
report_row() { awk -v hop="$2" '/^Hop IP address/ { on = 1; next } on && $1 == hop { print $3, $6, $7, $8; exit }' <<<"$1"; }

# Starts burst_rate in src before a burst of COUNT echo requests; wait_burst
# sets RATE (probes per second) once the burst is through. Not in $(...): the
# wait must run in this shell.
BURST=$BUILD/bench/burst_rate
watch_burst() { # watch_burst COUNT FILE
    on_src "$BURST" "$1" 300 >"$2" &
    burst_pid=$!
    sleep 0.2 # it has read the count before the burst starts
}
wait_burst() { # wait_burst FILE
    wait "$burst_pid" || fail "$(cat "$1")"
    RATE=$(sed -n 's/.* rate=\([0-9]*\).*/\1/p' "$1")
}

# ---- a process seen from outside
# Echo requests sent so far in the process's network namespace.
out_requests() {
    awk '$1 == "IcmpMsg:" { if (h) { for (i = 2; i <= NF; i++) if (name[i] == "OutType8") print $i; exit }
                            for (i = 2; i <= NF; i++) name[i] = $i; h = 1 }' "/proc/$1/net/snmp"
}
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
open_fds() { ls "/proc/$1/fd" | wc -l; }
mb() { calc '"%.1f", '"$1 / 1024"; }
# wait_requests PID COUNT [SECONDS]: until the namespace has sent COUNT echo
# requests, for about SECONDS (300) at most
wait_requests() {
    local i
    for i in $(seq $((${3:-300} * 100))); do
        [ "$(out_requests "$1" 2>/dev/null || true)" -ge "$2" ] 2>/dev/null && return 0
        kill -0 "$1" 2>/dev/null || fail "process $1 ended before $2 requests"
        sleep 0.01
    done
    fail "$2 requests not reached"
}
# CPU time (user + system, all threads) in ms, and voluntary context switches of all threads.
cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{ print int(($14 + $15) * 1000 / hz) }' "/proc/$1/stat"; }
# wakeups PID: "tid count" per thread; wakeups_between A B: the sum over the
# threads in both (threads that came or went do not count)
wakeups() { local t; for t in /proc/"$1"/task/*; do echo "${t##*/} $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$t/status")"; done; }
wakeups_between() { awk 'NR == FNR { a[$1] = $2; next } ($1 in a) { n += $2 - a[$1] } END { print n + 0 }' <(echo "$1") <(echo "$2"); }
