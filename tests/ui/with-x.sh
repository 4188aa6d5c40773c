#!/bin/sh
# Runs a GUI test on an X server of its own (xvfb-run picks a free display);
# skips (77) where there is none to start or no X client to talk to it with.
for tool in xvfb-run xauth xclip xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: the X tests need $tool"; exit 77; }
done
exec xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb "$@"
