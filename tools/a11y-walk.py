#!/usr/bin/python3
"""Reads norvane-setup through the accessibility bus as a screen reader does.

Run by tools/a11y-check, inside a private segment with an X server, a session
bus and norvane-sim already there. Starts the window, waits for its list,
then walks the tree of the sheet, of an alert, of a Yes/No question and of
the New IP Address dialog, each opened by pressing the page's buttons through
the bus; last it clicks a row and listens for the next refresh. Fails when a
control that can take focus (or one shown, enabled and operable) has no name,
when a hidden control is still offered, when a cell does not say its column,
and when the refresh does not announce the clicked row again.

    a11y-walk.py PROGRAM APPLIANCES
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

OPERABLE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE,
    pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_PAGE_TAB,
    pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_LINK,
}

problems = []


def describe(acc):
    return "%s %r" % (acc.getRoleName(), acc.name)


def wait_for(what, condition, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            found = condition()
        except GLib.Error:
            found = None  # an object went away while being read: read again
        if found:
            return found
        time.sleep(0.1)
    sys.exit("a11y-walk: no %s within %d s" % (what, seconds))


def children(acc):
    return [child for child in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if child is not None]


def find(acc, role, name=None):
    for child in children(acc):
        if child.getRole() == role and (name is None or child.name == name):
            return child
        found = find(child, role, name)
        if found:
            return found
    return None


def labelled(acc):
    return any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY for r in acc.getRelationSet())


def check_table(acc, path):
    """Each cell must say which column it is in: a header or a description."""
    table = acc.queryTable()
    if table.nColumns == 0:
        problems.append("%s: no columns" % path)
    for column in range(table.nColumns):
        header = table.getColumnHeader(column)
        if header is None or not header.name.strip():
            problems.append("%s: column %d has no header name" % (path, column))
    for row in range(min(table.nRows, 50)):
        for column in range(table.nColumns):
            cell = table.getAccessibleAt(row, column)
            if cell is None or not (cell.description.strip() or table.getColumnDescription(column).strip()):
                problems.append("%s: cell %d,%d has no column name" % (path, row, column))


def walk(acc, path, counts):
    """Checks acc and everything below it; items of a table are checked by check_table."""
    states = acc.getState()
    role = acc.getRole()
    here = "%s > %s" % (path, describe(acc)) if path else describe(acc)
    focusable = states.contains(pyatspi.STATE_FOCUSABLE)
    if not states.contains(pyatspi.STATE_VISIBLE):
        parent = acc.parent
        # Qt's tab bar always lists its two scroll arrows, hidden while its
        # tabs fit; they are allowed as long as they cannot take focus.
        arrow = parent is not None and parent.getRole() == pyatspi.ROLE_PAGE_TAB_LIST
        if focusable or (role in OPERABLE and not arrow):
            problems.append("%s: hidden, yet offered to readers" % here)
        return
    counts["checked"] += 1
    operable = role in OPERABLE and states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_ENABLED)
    if (focusable or operable) and not acc.name.strip():
        problems.append("%s: %s, but has no name" % (here, "focusable" if focusable else "operable"))
    if focusable or operable:
        counts["controls"] += 1
        print("    %s%s" % (describe(acc), ", labelled" if labelled(acc) else ""))
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR:
            counts["labels"] += 1
    if role == pyatspi.ROLE_TABLE:
        check_table(acc, here)
        return
    for child in children(acc):
        walk(child, here, counts)


def check_window(window):
    counts = {"checked": 0, "controls": 0, "labels": 0}
    print("%s, description %r:" % (describe(window), window.description))
    walk(window, "", counts)
    print("%s: %d objects shown, %d controls that take focus or act, %d labels tied to controls"
          % (describe(window), counts["checked"], counts["controls"], counts["labels"]))


def press(acc):
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


def shown_windows(app, role, name=None):
    windows = []
    for i in range(app.childCount):
        try:
            window = app.getChildAtIndex(i)
            if window is not None and (window.getRole() == role and (name is None or window.name == name)
                    and window.getState().contains(pyatspi.STATE_SHOWING)):
                windows.append(window)
        except GLib.Error:
            pass  # closed while being read
    return windows


def new_window(app, role, name=None):
    what = "new window %s" % (repr(name) if name else "of role %s" % role)
    return wait_for(what, lambda: next(iter(shown_windows(app, role, name)), None))


def gone(app, window_name, role):
    wait_for("closing of %r" % window_name, lambda: not shown_windows(app, role, window_name))


def run_box(app, sheet, button_name, answer):
    """Presses a page button that opens a message box, checks the box, answers it."""
    press(find(sheet, pyatspi.ROLE_PUSH_BUTTON, button_name))
    box = new_window(app, pyatspi.ROLE_ALERT)
    check_window(box)
    press(wait_for("button %r" % answer, lambda: find(box, pyatspi.ROLE_PUSH_BUTTON, answer)))
    gone(app, box.name, pyatspi.ROLE_ALERT)


def check_refresh_focus(table):
    """Clicks a row, as a user does; the next refresh must tell its focus again."""
    cell = table.queryTable().getAccessibleAt(1, 0)
    mac = cell.name  # the cell itself goes when the refresh empties the list
    extents = cell.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", "--sync", str(extents.x + extents.width // 2),
                    str(extents.y + extents.height // 2), "click", "1"], check=True)
    time.sleep(0.5)  # past the click's own announcement
    heard = []

    def listen(event):
        if event.detail1 and event.source.getRole() == pyatspi.ROLE_TABLE_CELL:
            heard.append(event.source.name)
            pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(listen, "object:state-changed:focused")
    GLib.timeout_add_seconds(8, pyatspi.Registry.stop)  # a refresh comes every 5 s
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(listen, "object:state-changed:focused")
    if heard != [mac]:
        problems.append("after a refresh the clicked row %r was not announced (heard %r)" % (mac, heard))
    else:
        print("after a refresh the clicked row %r was announced again" % mac)


program, appliances = sys.argv[1], int(sys.argv[2])
window = subprocess.Popen([program])
try:
    name = os.path.basename(program)
    on_bus = lambda: next((a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == name), None)
    app = wait_for("application %s on the bus" % name, on_bus, seconds=30)
    sheet = new_window(app, pyatspi.ROLE_DIALOG)
    table = wait_for("device list", lambda: find(sheet, pyatspi.ROLE_TABLE))
    wait_for("%d appliances in the list" % appliances, lambda: table.queryTable().nRows >= appliances)
    check_window(sheet)

    # An alert: Start Configuration with a blank address. A question: Reboot.
    run_box(app, sheet, "Start Configuration", "OK")
    run_box(app, sheet, " Reboot ...", "No")

    # The New IP Address dialog opens on a complete address.
    address = find(sheet, pyatspi.ROLE_PANEL, "Selected IP Address")
    for field, octet in zip(children(address), ("10", "200", "1", "1")):
        field.queryEditableText().setTextContents(octet)
    press(find(sheet, pyatspi.ROLE_PUSH_BUTTON, "Change IP Addr"))
    dialog = new_window(app, pyatspi.ROLE_DIALOG, "New IP Address")
    check_window(dialog)
    press(find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    gone(app, "New IP Address", pyatspi.ROLE_DIALOG)

    check_refresh_focus(table)
finally:
    window.terminate()
    window.wait()

for problem in problems:
    print("PROBLEM: " + problem)
print("%d problems" % len(problems))
sys.exit(1 if problems else 0)
