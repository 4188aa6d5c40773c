#!/bin/bash
# The built program driven through the real accessibility bus, as a screen
# reader drives it: Xvfb, a private D-Bus session with the AT-SPI bus, the
# program with its accessibility tree exposed, and a11y_driver.py pressing
# buttons by their actions. As root a whole trace to 127.0.0.1 follows, in a
# network namespace of its own; elsewhere that part skips (exit 77).
# usage: a11y-tests.sh KORVALEN
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
for tool in xvfb-run xauth twm xdotool xclip dbus-run-session /usr/libexec/at-spi-bus-launcher \
    /usr/bin/python3; do
    command -v "$tool" >/dev/null || skip "the accessibility-bus test needs $tool"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    skip "the accessibility-bus test needs python3-pyatspi"

if [ -z "${KV_A11Y_PART:-}" ] && [ "$(id -u)" = 0 ] && unshare --net true 2>/dev/null; then
    exec unshare --net env KV_A11Y_PART=trace "$0" "$@"
fi
[ "${KV_A11Y_PART:-}" != trace ] || ip link set lo up

runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
display=(-a)
[ -z "${XDISPLAY:-}" ] || display=(-n "${XDISPLAY#:}")
# The AT-SPI bus launcher registers the accessibility bus on the session bus,
# where Qt asks for it. twm gives the activation back when a dialog closes, as
# a user's window manager does (its settings as in xlib.sh).
printf 'RandomPlacement\nUsePPosition "on"\nNoTitleFocus\n' >"$runtime/twmrc"
XDG_RUNTIME_DIR=$runtime xvfb-run "${display[@]}" -s "-screen 0 1280x900x24 -nolisten tcp" \
    dbus-run-session -- bash -c '
        /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
        launcher=$!
        LC_ALL=C twm -f "$XDG_RUNTIME_DIR/twmrc" >/dev/null 2>&1 &
        wm=$!
        /usr/bin/python3 "$0" "$@"; rc=$?
        kill $launcher $wm 2>/dev/null
        exit $rc' "$here/a11y_driver.py" "$1" "${KV_A11Y_PART:-}"
rc=$?
[ "$rc" -ne 0 ] && exit "$rc"
[ "${KV_A11Y_PART:-}" = trace ] ||
    skip "the whole trace by accessibility actions needs root (a network namespace of its own)"
echo "all checks passed"
