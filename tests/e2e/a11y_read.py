# Prints what a screen reader finds in one window of the running program, one
# object a line: role|name|description. Run beside the program on its session
# bus (DBUS_SESSION_BUS_ADDRESS), with Debian's python3.
#   a11y_read.py TITLE-REGEX [SECONDS]
import re
import sys
import time

import pyatspi


def windows():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "korvalen":
            for j in range(app.childCount):
                yield app.getChildAtIndex(j)


def find(title):
    end = time.time() + float(sys.argv[2] if len(sys.argv) > 2 else 10)
    while time.time() < end:
        try:
            for w in windows():
                if w is not None and re.search(title, w.name or ""):
                    return w
        except Exception:  # an object that went away while we looked
            pass
        time.sleep(0.2)
    return None


def main():
    root = find(sys.argv[1])
    if root is None:
        return 1
    todo = [root]
    while todo:
        acc = todo.pop(0)
        name = (acc.name or "").replace("\n", " ")
        print(f"{acc.getRoleName()}|{name}|{(acc.description or '')}")
        todo.extend(acc.getChildAtIndex(i) for i in range(acc.childCount))
    return 0


sys.exit(main())
