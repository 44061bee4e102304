"""What a screen reader does on the accessibility bus, for a11y-walk.py:
find objects by role and name, read and walk them, press and activate, send
keys, wait for a window or an event, and note each problem found."""
import json
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


def problem(text):
    print("PROBLEM: " + text)
    problems.append(text)


def describe(acc):
    return "%s %r" % (acc.getRoleName(), acc.name)


def wait_for(what, condition, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            found = condition()
        except (GLib.Error, AttributeError):
            found = None  # an object went away while being read, or is not there yet: read again
        if found:
            return found
        time.sleep(0.1)
    sys.exit("a11y-walk: no %s within %d s" % (what, seconds))


def children(acc):
    return [child for child in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if child is not None]


def find_where(acc, condition):
    for child in children(acc):
        if condition(child):
            return child
        found = find_where(child, condition)
        if found:
            return found
    return None


def find(acc, role, name=None):
    return find_where(acc, lambda child: child.getRole() == role and (name is None or child.name == name))


def labelled(acc):
    return any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY for r in acc.getRelationSet())


def check_table(acc, path):
    """Each cell must say which column it is in: a header or a description."""
    table = acc.queryTable()
    if table.nColumns == 0:
        problem("%s: no columns" % path)
    for column in range(table.nColumns):
        header = table.getColumnHeader(column)
        if header is None or not header.name.strip():
            problem("%s: column %d has no header name" % (path, column))
    for row in range(min(table.nRows, 50)):
        for column in range(table.nColumns):
            cell = table.getAccessibleAt(row, column)
            if cell is None or not (cell.description.strip() or table.getColumnDescription(column).strip()):
                problem("%s: cell %d,%d has no column name" % (path, row, column))


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
            problem("%s: hidden, yet offered to readers" % here)
        return
    counts["checked"] += 1
    operable = role in OPERABLE and states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_ENABLED)
    if (focusable or operable) and not acc.name.strip():
        problem("%s: %s, but has no name" % (here, "focusable" if focusable else "operable"))
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


def button(parent, name):
    """The button of that name; one whose name differs only by spaces around
    it is a problem, yet is pressed so that the walk goes on."""
    found = find(parent, pyatspi.ROLE_PUSH_BUTTON, name)
    if found is None:
        found = find_where(parent, lambda acc: acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and acc.name.strip() == name)
        problem("no button named %r%s" % (name, ", only %r" % found.name if found else ""))
    return found


def run_box(app, sheet, button_name, answer):
    """Presses a page button that opens a message box, checks the box, answers it."""
    press(button(sheet, button_name))
    box = new_window(app, pyatspi.ROLE_ALERT)
    check_window(box)
    press(wait_for("button %r" % answer, lambda: find(box, pyatspi.ROLE_PUSH_BUTTON, answer)))
    gone(app, box.name, pyatspi.ROLE_ALERT)


def listen(kinds, action, done, seconds):
    """Runs action in the event loop and gathers the events of the given
    kinds, as (type, role, name, description, detail1), until done(heard)
    holds or the seconds have passed."""
    heard = []

    def on_event(event):
        try:
            heard.append((event.type, event.source.getRoleName(), event.source.name, event.source.description,
                          event.detail1))
        except GLib.Error:
            return  # gone while being read
        if done(heard):
            pyatspi.Registry.stop()

    def timed_out():
        timer.clear()
        pyatspi.Registry.stop()
        return False

    for kind in kinds:
        pyatspi.Registry.registerEventListener(on_event, kind)
    GLib.idle_add(lambda: action() and False)
    timer = [GLib.timeout_add(int(seconds * 1000), timed_out)]
    pyatspi.Registry.start()
    if timer:
        GLib.source_remove(timer[0])  # a stray stop would end the next listen at once
    for kind in kinds:
        pyatspi.Registry.deregisterEventListener(on_event, kind)
    return heard


def keys(*names):
    """Key presses to the sheet, given the X input focus by its title."""
    window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Norvane Setup"],
                            capture_output=True, text=True, check=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
    subprocess.run(["xdotool", "key", "--delay", "50", *names], check=True)


def cell(table, row, column=0):
    return table.queryTable().getAccessibleAt(row, column)


def steady(read):
    """read(), again while the rows it reads go away under it: every 5 s a
    refresh empties the list, and the replies fill it again."""
    for _ in range(50):
        try:
            return read()
        except (GLib.Error, AttributeError, StopIteration):  # a cell gone, or not there yet
            time.sleep(0.1)
    return read()


def activate_row(table, mac):
    """The action on the first cell of mac's row, looked up afresh."""
    steady(lambda: activate(cell(table, next(row for row in range(table.queryTable().nRows)
                                             if cell(table, row).name == mac))))


def current_row(table):
    """The row the keys are on: Qt's table says its current cell is focused."""
    return steady(lambda: next(row for row in range(table.queryTable().nRows)
                               if cell(table, row).getState().contains(pyatspi.STATE_FOCUSED)))


def address_of(group):
    return ".".join(field.queryText().getText(0, -1) for field in children(group))


def activate(acc):
    """A reader's activation: the click or press action, else the one offered
    (a cell of Qt's table offers only Toggle)."""
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    name = next((n for n in ("click", "activate", "Press", "press") if n in names), names[0] if names else None)
    if name is None:
        return problem("%s offers no action" % describe(acc))
    action.doAction(names.index(name))


def expect_address(group, address, what):
    end = time.monotonic() + 3
    while address_of(group) != address and time.monotonic() < end:
        time.sleep(0.1)
    if address_of(group) != address:
        problem("after %s the address field holds %r, not %s" % (what, address_of(group), address))
        return False
    print("after %s the address field holds %s" % (what, address))
    return True


def discover(norvane):
    out = subprocess.run([norvane, "discover", "--format", "json", "--timeout", "1"], capture_output=True, text=True,
                         check=True).stdout
    return {a["mac"]: a["ip"] for a in json.loads(out)}


def names_below(acc):
    return [acc.name] + [name for child in children(acc) for name in names_below(child)]


def answer_box(app, text, answer):
    """The box now open must say text; it is answered by its button's name.
    Boxes are all named after the program: the box is told by its text."""
    box = new_window(app, pyatspi.ROLE_ALERT)
    names = names_below(box)
    if text not in names:
        problem("a box says %r, not %r" % ([n for n in names if n], text))
    press(wait_for("button %r" % answer, lambda: find(box, pyatspi.ROLE_PUSH_BUTTON, answer)))
    wait_for("closing of the box %r" % text,
             lambda: not any(set(names) == set(names_below(b)) for b in shown_windows(app, pyatspi.ROLE_ALERT)))
