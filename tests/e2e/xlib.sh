# Driving the real program on an X server like a person: an Xvfb display with a
# window manager, the program started inside the test bed's source namespace,
# clicks at the controls' places (their twips / 15, inside the client area),
# typing, the clipboard and screenshots. Sourced after tests/testbed/lib.sh.

XDISPLAY=${XDISPLAY:-:90}
ARTEFACTS=${ARTEFACTS:-$PWD/e2e-artefacts}
app_pid=
main_win=

require_x_tools() {
    local tool
    for tool in Xvfb twm xdotool xclip import /usr/bin/python3 setpriv; do
        command -v "$tool" >/dev/null || skip "end-to-end tests need $tool"
    done
    /usr/bin/python3 -c "import Xlib" 2>/dev/null || skip "end-to-end tests need python3-xlib"
}

X() { DISPLAY=$XDISPLAY timeout 10 "$@"; }

x_up() {
    mkdir -p "$ARTEFACTS"
    : >"$ARTEFACTS/korvalen.log"
    local n=${XDISPLAY#:}
    rm -f "/tmp/.X11-unix/X$n" "/tmp/.X$n-lock"
    setsid Xvfb "$XDISPLAY" -screen 0 1280x900x24 -nolisten tcp >"$ARTEFACTS/xvfb.log" 2>&1 </dev/null &
    x_pids+=($!)
    local i
    for i in $(seq 50); do
        [ -S "/tmp/.X11-unix/X$n" ] && X xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    # twm dies on a fontset error under UTF-8 locales, and without a
    # placement of its own it waits for the user to place every new window
    printf 'RandomPlacement\nUsePPosition "on"\nNoTitleFocus\n' >"$ARTEFACTS/twmrc"
    DISPLAY=$XDISPLAY LC_ALL=C setsid twm -f "$ARTEFACTS/twmrc" >"$ARTEFACTS/twm.log" 2>&1 </dev/null &
    x_pids+=($!)
    sleep 0.3
}

x_pids=()
x_down() {
    a11y_down
    app_kill
    local pid
    for pid in "${x_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    x_pids=()
}

# app_start [USER]: starts the program in src (as USER when given) and waits
# for its main window.
app_start() {
    local user=${1:-}
    local run=("$KORVALEN") runtime=/tmp/kv-e2e-runtime-${1:-0}
    mkdir -p -m 700 "$runtime" && chown "${user:-0}" "$runtime"
    if [ -n "$user" ]; then
        readable_copy "$KORVALEN" run || return 1
        run=(setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all "$run")
    fi
    if [ -n "${a11y_dir:-}" ]; then # a session bus of its own, as app_start_a11y says
        run=(dbus-run-session -- bash -c '/usr/libexec/at-spi-bus-launcher --launch-immediately \
            >/dev/null 2>&1 & echo $! >"$0/launcher"; echo "$DBUS_SESSION_BUS_ADDRESS" >"$0/bus"
            echo $$ >"$0/pid"; exec env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"' "$a11y_dir" "${run[@]}")
    fi
    # xcb whatever the caller set: the test runner puts the unit tests offscreen
    ip netns exec "${KV_PREFIX}src" env DISPLAY="$XDISPLAY" XDG_RUNTIME_DIR="$runtime" \
        QT_QPA_PLATFORM=xcb "${run[@]}" >>"$ARTEFACTS/korvalen.log" 2>&1 </dev/null &
    app_pid=$!
    main_win=
    local i
    for i in $(seq 100); do
        main_win=$(X xdotool search --onlyvisible --name '^Korvalen$' 2>/dev/null | head -1)
        [ -n "$main_win" ] && break
        sleep 0.1
    done
    [ -n "$main_win" ] || { echo "FAIL the main window did not appear"; return 1; }
    sleep 0.3
}

# app_start_a11y: app_start with the program's accessibility tree on a
# private session bus in src (abstract sockets belong to the namespace);
# a11y_read then lists what a screen reader finds in one of its windows.
a11y_dir=
app_start_a11y() {
    command -v dbus-run-session >/dev/null && [ -x /usr/libexec/at-spi-bus-launcher ] &&
        /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP no accessibility bus tools"; return 1; }
    a11y_dir=$(mktemp -d /tmp/kv-e2e-a11y.XXXXXX)
    app_start "$@"
}
a11y_read() { # a11y_read TITLE-REGEX: role|name|description lines
    on_src env DBUS_SESSION_BUS_ADDRESS="$(cat "$a11y_dir/bus")" DISPLAY="$XDISPLAY" \
        timeout 30 /usr/bin/python3 "$here/a11y_read.py" "$1"
}
# Ends what app_start_a11y started, by the pids it wrote down.
a11y_down() {
    [ -n "$a11y_dir" ] || return 0
    local f
    for f in pid launcher; do [ ! -s "$a11y_dir/$f" ] || kill "$(cat "$a11y_dir/$f")" 2>/dev/null || true; done
    app_kill
    rm -rf "$a11y_dir"
    a11y_dir=
}

app_alive() { [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; }

app_kill() {
    if app_alive; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    app_pid=
}

# Seconds (decimal) until the program has exited, at most LIMIT; prints "timeout" otherwise.
app_exit_within() {
    local limit=$1 start=$(date +%s.%N)
    while app_alive; do
        if awk -v s="$start" -v n="$(date +%s.%N)" -v l="$limit" 'BEGIN { exit !(n - s > l) }'; then
            echo timeout
            app_kill
            return
        fi
        sleep 0.05
    done
    wait "$app_pid" 2>/dev/null || true
    awk -v s="$start" -v n="$(date +%s.%N)" 'BEGIN { printf "%.2f", n - s }'
}

# click WIN LEFT TOP WIDTH HEIGHT: a click in the middle of a control given in twips
click() {
    local x=$(( ($2 + $4 / 2) / 15 )) y=$(( ($3 + $5 / 2) / 15 ))
    X xdotool mousemove --window "$1" "$x" "$y" click 1
    sleep 0.15
}

# Replaces the text of the field with the focus.
type_over() {
    X xdotool key ctrl+a
    X xdotool type --delay 20 "$1"
    sleep 0.1
}

# The main window's controls
click_host()    { click "$main_win" 2160 240 4575 315; }
click_start()   { click "$main_win" 8040 240 1335 495; }
click_options() { click "$main_win" 9840 240 1335 495; }
click_copy()    { click "$main_win" 8040 960 1335 495; }
click_quit()    { click "$main_win" 9840 960 1335 495; }

set_host() { click_host; type_over "$1"; }

# A visible top-level window with this title other than the main window.
other_window() {
    local w
    for w in $(X xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
        [ "$w" = "$main_win" ] || { echo "$w"; return 0; }
    done
    return 1
}

wait_window() { # wait_window TITLE [SECONDS]
    local i w
    for i in $(seq $(( ${2:-5} * 10 ))); do
        w=$(other_window "$1") && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

# Sends the close-box request to a window, as its title bar's close button does.
close_box() {
    DISPLAY=$XDISPLAY timeout 5 /usr/bin/python3 - "$1" <<'PY'
import sys
from Xlib import X, display, protocol
d = display.Display()
w = d.create_resource_object('window', int(sys.argv[1]))
protocols = d.intern_atom('WM_PROTOCOLS')
delete = d.intern_atom('WM_DELETE_WINDOW')
ev = protocol.event.ClientMessage(window=w, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
w.send_event(ev, event_mask=X.NoEventMask)
d.flush()
PY
    sleep 0.3
}

clipboard() { X xclip -o -selection clipboard 2>/dev/null | tr -d '\r'; }
clipboard_mark() {
    printf '%s' "$1" | DISPLAY=$XDISPLAY setsid xclip -i -selection clipboard >/dev/null 2>&1
    sleep 0.1
}

# The text of the message box shown now (Ctrl+C copies a message box's text),
# and OK pressed; empty when no box appears within SECONDS.
message_box() { # message_box [SECONDS]
    local w
    w=$(wait_window Korvalen "${1:-5}") || return 0
    clipboard_mark "no message text"
    X xdotool windowfocus --sync "$w" 2>/dev/null || true
    X xdotool key ctrl+c
    sleep 0.2
    clipboard | sed -n '4,$p' | sed '/^-*$/d' | head -n -1 | tr '\n' '|' | sed 's/|$//'
    X xdotool key Return
    sleep 0.2
}

# Waits for the trace to end (Copy becomes enabled when it does) and prints
# the report it copies. Gives up after SECONDS.
trace_report() { # trace_report SECONDS
    local i text
    clipboard_mark "no report yet"
    for i in $(seq $(( $1 * 4 ))); do
        click_copy
        text=$(clipboard)
        if [ "${text:0:4}" != "no r" ] && [ -n "$text" ]; then
            printf '%s\n' "$text"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

shot() { X import -window root "$ARTEFACTS/$1.png" 2>/dev/null || true; }
