#!/bin/bash
# Idle cost with the window shown (Xvfb) and no trace, over SECONDS: CPU time
# (utime + stime of all threads, /proc/PID/stat) and wake-ups (voluntary
# context switches of all threads); then, over as many seconds under strace -f,
# how many of the event loop's waits ended by a timer (poll returning 0,
# "Timeout"). First as the window
# opens, with the caret in the host entry, then with the focus moved on to the
# Start button (Tab). twm, the window manager beside it, is the peer measured
# over the same seconds. The last line gives the timer wake-ups without the
# caret (goal: 0) and with it.
# usage: bench/idle.sh [SECONDS]   (root; scripts/build first)
set -euo pipefail
export KV_PREFIX=kv-bn-id- KV_DELAY_MS=0
source "$(dirname "$0")/lib.sh"
SECONDS_IDLE=${1:-60}
require "$KORVALEN"
command -v strace >/dev/null || fail "needs strace"
bed_up
OUT=$(mktemp -d)
at_exit rm -rf "$OUT"
start_x
start_korvalen
TWM=${x_pids[1]}

echo "idle: $SECONDS_IDLE s per phase, no trace, $(machine)"
# measure LABEL: one phase, counters first, then strace; sets TIMERS
measure() {
    sleep 2 # what the last key or click set off is over
    local c0 w0 t0 tw0 c1 w1 t1 tw1 waits
    c0=$(cpu_ms "$KPID") w0=$(wakeups "$KPID") t0=$(cpu_ms "$TWM") tw0=$(wakeups "$TWM")
    sleep "$SECONDS_IDLE"
    c1=$(cpu_ms "$KPID") w1=$(wakeups "$KPID") t1=$(cpu_ms "$TWM") tw1=$(wakeups "$TWM")
    timeout -s INT "$SECONDS_IDLE" strace -f -e trace=poll,ppoll,epoll_wait,select,pselect6 \
        -o "$OUT/strace" -p "$KPID" 2>/dev/null || true
    TIMERS=$(grep -c '= 0 (Timeout)' "$OUT/strace" || true)
    waits=$(grep -cE '^[0-9]+ +(poll|ppoll|epoll_wait|select|pselect6)\(' "$OUT/strace" || true)
    echo "$1: program CPU $((c1 - c0)) ms, $(wakeups_between "$w0" "$w1") wake-ups;" \
         "twm CPU $((t1 - t0)) ms, $(wakeups_between "$tw0" "$tw1") wake-ups;" \
         "under strace: $waits waits of the program, $TIMERS ended by a timer"
}
measure "as opened, the caret in the host entry"
caret_timers=$TIMERS
keys Tab # the focus to the Start button: no caret left
measure "focus on the Start button"
echo "timer wake-ups of the idle window without a caret: $TIMERS in $SECONDS_IDLE s (goal: 0); with the caret in the host entry $caret_timers (the toolkit's caret blink)"
