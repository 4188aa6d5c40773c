# Drives the running program through the accessibility bus (AT-SPI) the way a
# screen reader does: finds controls by role and accessible name, presses
# buttons with their "Press" action and sets texts through the editable-text
# interface; no mouse, no keyboard. Run by a11y-tests.sh with Debian's python3.
#   a11y_driver.py KORVALEN [trace]
import os
import subprocess
import sys
import time

import pyatspi

failures = 0

# Roles by their constants: at-spi2-core renames them ("push button" became "button").
ROLES = {
    "frame": (pyatspi.ROLE_FRAME,),
    "dialog": (pyatspi.ROLE_DIALOG,),
    "alert": (pyatspi.ROLE_ALERT,),
    "push button": (pyatspi.ROLE_PUSH_BUTTON,),
    "check box": (pyatspi.ROLE_CHECK_BOX,),
    "radio button": (pyatspi.ROLE_RADIO_BUTTON,),
    "text": (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY),
    "label": (pyatspi.ROLE_LABEL,),
}


def has_role(acc, *roles):
    return any(acc.getRole() in ROLES[r] for r in roles)


def check(name, expected, actual):
    global failures
    if expected == actual:
        print(f"ok   {name}")
    else:
        print(f"FAIL {name}: expected {expected!r}, got {actual!r}")
        failures += 1


def poll(find, seconds=5):
    """The first true result of find() within the time, else None."""
    end = time.time() + seconds
    while True:
        try:
            found = find()
        except Exception:  # an object that went away while we looked
            found = None
        if found or time.time() > end:
            return found
        time.sleep(0.1)


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.name == "korvalen":
            return a
    return None


def window(title, roles=("frame", "dialog", "alert")):
    a = app()
    for i in range(a.childCount if a else 0):
        w = a.getChildAtIndex(i)
        if w is not None and w.name == title and has_role(w, *roles) and \
                w.getState().contains(pyatspi.STATE_SHOWING):
            return w
    return None


def descendants(root):
    todo = [root]
    while todo:
        acc = todo.pop(0)
        yield acc
        todo.extend(acc.getChildAtIndex(i) for i in range(acc.childCount))


def descendant(root, role, name=None):
    return next((a for a in descendants(root)
                 if has_role(a, role) and (name is None or a.name == name)), None)


def control(title, role, name):
    return poll(lambda: descendant(window(title), role, name))


def press(button, name="Press"):
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index(name))


def type_into(field, text):
    field.queryComponent().grabFocus()
    field.queryEditableText().setTextContents(text)


def text_of(field):
    return field.queryText().getText(0, -1)


def focused(acc):
    return acc.getState().contains(pyatspi.STATE_FOCUSED)


def message_box(seconds=5):
    """The text of the message box shown now, after pressing its OK; None without one."""
    box = poll(lambda: window("Korvalen", ("alert", "dialog")), seconds)
    if not box:
        return None
    # the first label with a text: the icon's label comes before it
    text = next((a.name for a in descendants(box) if has_role(a, "label") and a.name), "")
    press(descendant(box, "push button", "OK"))
    poll(lambda: not window("Korvalen", ("alert", "dialog")))
    return text


def activate(title):
    """Gives the window the input focus, as a window manager does when a dialog closes."""
    for wid in subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                              capture_output=True, text=True).stdout.split():
        subprocess.run(["xdotool", "windowfocus", "--sync", wid], capture_output=True)


def open_options():
    press(control("Korvalen", "push button", "Options"))
    return poll(lambda: window("Options", ("dialog", "frame")))


def blocked_presses():
    """With a bad field, OK, Cancel and Defaults each give its message and do nothing."""
    check("the Options dialog opens", True, bool(open_options()))
    size = control("Options", "text", "IP packet size")
    runs = control("Options", "text", "Max runs")
    type_into(runs, "7")
    type_into(size, "abc")
    message = ("Please insert a integer number greater than or equal to 60 and less than "
               "or equal to 2000.")
    for name in ("OK", "Cancel", "Defaults"):
        press(control("Options", "push button", name))
        check(f"{name} pressed: the field's message", message, message_box())
        stays = bool(window("Options", ("dialog",)))
        check(f"{name} pressed: the dialog stays", True, stays)
        if not stays:
            return
        check(f"{name} pressed: the texts stay", ("abc", "7"), (text_of(size), text_of(runs)))
        activate("Options")
        check(f"{name} pressed: the focus stays", True, poll(lambda: focused(size), 2))
    type_into(size, "1500")
    press(control("Options", "push button", "Cancel"))
    check("Cancel closes a dialog with good fields", True, poll(lambda: not window("Options"), 3))
    check("nothing was stored", ("100", "20"),
          (text_of(control("Options", "text", "IP packet size")) if open_options() else None,
           text_of(control("Options", "text", "Max runs"))))


def toggle_blocked():
    """With a bad field, toggling Find MTU gives the field's message and changes nothing."""
    def find_mtu():
        return next((a for a in descendants(window("Options", ("dialog",)))
                     if a.getRole() == pyatspi.ROLE_CHECK_BOX and a.name == "Find MTU"), None)

    def checked():
        return poll(find_mtu).getState().contains(pyatspi.STATE_CHECKED)

    size = control("Options", "text", "IP packet size")
    runs = control("Options", "text", "Max runs")
    type_into(size, "abc")
    press(poll(find_mtu), "Toggle")
    check("Find MTU toggled: the field's message",
          "Please insert a integer number greater than or equal to 60 and less than or equal to "
          "2000.", message_box())
    check("Find MTU toggled: it stays clear, the texts stay", (False, "abc", "20"),
          (checked(), text_of(size), text_of(runs)))
    type_into(size, "100")
    press(poll(find_mtu), "Toggle")
    check("Find MTU toggled with good fields: checked", True, poll(checked, 2))
    check("Find MTU checked: one run", "1", text_of(runs))
    press(poll(find_mtu), "Toggle")
    check("Find MTU toggled again: clear", True, poll(lambda: not checked(), 2))


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                          text=True).stdout.replace("\r", "")


def whole_trace():
    """Options, a valid change, OK, a host typed, Start, Copy: the report on the clipboard."""
    type_into(control("Options", "text", "Max runs"), "3")
    press(control("Options", "push button", "OK"))
    check("OK with good fields closes the dialog", True, poll(lambda: not window("Options"), 3))
    type_into(control("Korvalen", "text", "Host name or IP address"), "127.0.0.1")
    press(control("Korvalen", "push button", "Start"))
    copy = control("Korvalen", "push button", "Copy to clipboard")
    ended = poll(lambda: copy.getState().contains(pyatspi.STATE_ENABLED), 20)
    check("the trace ends", True, bool(ended))
    press(copy)
    report = (poll(lambda: clipboard().startswith("Tracing") and clipboard()) or "").splitlines()
    check("report: target", "Tracing to : 127.0.0.1", report[0] if report else None)
    check("report: the stored runs", ["Max runs       : 3"],
          [line for line in report if line.startswith("Max runs")])
    hop = [line.split() for line in report if line.startswith(" 1 ") or line.startswith("1 ")]
    check("report: hop 1 answered every run", [["1", "127.0.0.1", "3", "3", "0"]],
          [cells[:5] for cells in hop])


def main():
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    # stderr stays: a sanitizer's report lands in the test's log
    program = subprocess.Popen([sys.argv[1]], env=env, stdout=subprocess.DEVNULL)
    try:
        if not poll(lambda: window("Korvalen", ("frame",)), 15):
            check("the main window is on the accessibility bus", True, False)
            return
        blocked_presses()  # leaves the dialog open with the stored settings
        toggle_blocked()  # leaves Find MTU clear and Max runs at 1
        if len(sys.argv) > 2 and sys.argv[2] == "trace":
            whole_trace()
        else:
            press(control("Options", "push button", "Cancel"))
        press(control("Korvalen", "push button", "Quit"))
        try:
            status = program.wait(10)
        except subprocess.TimeoutExpired:
            status = "still running"
        check("Quit ends the program cleanly", 0, status)
    finally:
        program.kill()
        program.wait()


main()
sys.exit(1 if failures else 0)
