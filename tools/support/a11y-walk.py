#!/usr/bin/python3
"""Reads norvane-setup through the accessibility bus as a screen reader does.

Run by tools/support/a11y-check, inside a private segment with an X server, a session
bus, norvane-sim (its password PASSWORD, its log SIM_LOG) and a stand-in
browser (appending each URL to URL_LOG) already there. Starts the window,
waits for its list, then walks the tree of the sheet, of an alert, of a
Yes/No question and of the New IP Address dialog, each opened by pressing the
page's buttons through the bus. Fails when a control that can take focus (or
one shown, enabled and operable) has no name, when a hidden control is still
offered, and when a cell does not say its column.

Then it goes the whole way a blind administrator goes, by role and name
alone, with the keyboard (xdotool keys) and the bus, never a coordinate:
reads the rows; picks the second appliance with Space and with the cell's
action; hears the current row announced after a refresh while the list has
the focus, and not while the password field has it; Start Configuration
(the browser must get the exact login URL); a new address through the New
IP Address dialog (norvane discover must find that appliance moved and no
other); Reboot, answered Yes (the simulator must have seen the reboot sent
to that appliance alone); last Escape, which must do nothing while Cancel is
disabled, and Enter, which must close the window.

    a11y-walk.py PROGRAM APPLIANCES NORVANE PASSWORD SIM_LOG URL_LOG
"""
import json
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


def picks(table, address, rows):
    """Space and the cell's action make the second row the target; the keys
    that move there do not, and the mark stays with the target."""
    mac, ip = rows[1][0], rows[1][1]
    keys("Home", "Down")
    wait_for("keys moving to the second row", lambda: current_row(table) == 1, seconds=3)
    if address_of(address) == ip:
        problem("moving to a row with the keys made it the target")
    heard = listen(["object:property-change:accessible-description"], lambda: keys("space"),
                   lambda h: any(mac == e[2] and "commands act on" in e[3] for e in h), 3)
    if expect_address(address, ip, "Space on the second row"):
        if any(mac == e[2] and "commands act on" in e[3] for e in heard):
            print("Space's pick was announced: %r" % [e[3] for e in heard if e[2] == mac][0])
        else:
            problem("Space's pick was not announced (heard %r)" % heard)
    activate_row(table, rows[3][0])
    expect_address(address, rows[3][1], "the action on the fourth row")
    activate_row(table, mac)
    expect_address(address, ip, "the action on the second row")
    keys("Down", "Down")
    wait_for("keys moving to the fourth row", lambda: current_row(table) == 3, seconds=3)
    marks = steady(lambda: ["commands act on" in cell(table, row).description for row in range(4)])
    if marks != [False, True, False, False]:
        problem("with the keys on the fourth row, the target's mark is on rows %r, not on the second alone" % marks)
    else:
        print("the keys moved on; the second row still says %r" % steady(lambda: cell(table, 1).description))


def refresh_focus(sheet, table):
    """A refresh tells the current row focused while the list has the
    focus, and never while the password field has it."""
    mac = steady(lambda: cell(table, current_row(table)).name)
    focused = lambda h: [e[2] for e in h if e[1] == "table cell" and e[4]]
    heard = listen(["object:state-changed:focused"], lambda: None, lambda h: focused(h), 8)
    if focused(heard) != [mac]:
        problem("with the list focused, a refresh did not announce its current row %r (heard %r)"
                % (mac, focused(heard)))
    else:
        print("with the list focused, a refresh announced its current row %r again" % mac)
    password = find(sheet, pyatspi.ROLE_PASSWORD_TEXT, "Admin.'s Password")
    password.queryComponent().grabFocus()
    wait_for("focus in the password field", lambda: password.getState().contains(pyatspi.STATE_FOCUSED), seconds=3)
    heard = listen(["object:state-changed:focused"], lambda: None, lambda h: focused(h), 6)
    if focused(heard):
        problem("with the password field focused, a refresh announced row %r as focused" % focused(heard))
    else:
        print("with the password field focused, a refresh announced nothing")
    return password


def whole_path(app, sheet, table, norvane, password_text, sim_log, url_log):
    appliances = discover(norvane)
    rows = steady(lambda: [[cell(table, row, column).name for column in range(3)] for row in range(len(appliances))])
    for row in rows:
        print("    row: %s" % ", ".join(row))
    if {row[0]: row[1] for row in rows} != appliances:
        problem("the list %r is not what norvane discover finds, %r" % (rows, appliances))
    mac, ip = rows[1][0], rows[1][1]
    address = find(sheet, pyatspi.ROLE_PANEL, "Selected IP Address")

    picks(table, address, rows)
    password = refresh_focus(sheet, table)

    password.queryEditableText().setTextContents(password_text)
    press(button(sheet, "Start Configuration"))
    url = "http://%s:80/cgi-bin/qx_login-act.cgi?USER_NAME=admin&USER_PASSWD=%s" % (ip, password_text)
    opened = wait_for("the browser", lambda: os.path.exists(url_log) and open(url_log).read().split())
    if opened != [url]:
        problem("the browser was handed %r, not %r" % (opened, url))
    else:
        print("the browser was handed %s" % url)

    press(button(sheet, "Change IP Addr"))
    dialog = new_window(app, pyatspi.ROLE_DIALOG, "New IP Address")
    new_address = wait_for("the new address", lambda: find(dialog, pyatspi.ROLE_PANEL, "Enter New IP Address"))
    if address_of(new_address) != ip:
        problem("the New IP Address dialog opened on %r, not %s" % (address_of(new_address), ip))
    fields = children(new_address)
    fields[3].queryEditableText().setTextContents("300")
    if fields[3].queryText().getText(0, -1) != "255":
        problem("an octet set to 300 over the bus holds %r" % fields[3].queryText().getText(0, -1))
    moved_to = "10.200.7.2"
    for field, octet in zip(fields, moved_to.split(".")):
        field.queryEditableText().setTextContents(octet)
    press(button(dialog, "OK"))
    answer_box(app, "IP Address changed - OK", "OK")
    found = discover(norvane)
    if found != dict(appliances, **{mac: moved_to}):
        problem("norvane discover finds %r after %s was to move to %s" % (found, mac, moved_to))
    else:
        print("norvane discover finds %s at %s, the others where they were" % (mac, moved_to))

    # The field keeps the old address; the row, once refreshed, has the new one.
    wait_for("row of %s at %s" % (mac, moved_to),
             lambda: any(cell(table, r).name == mac and cell(table, r, 1).name == moved_to
                         for r in range(table.queryTable().nRows)))
    activate_row(table, mac)
    expect_address(address, moved_to, "the action on the moved appliance's row")
    press(button(sheet, "Reboot ..."))
    answer_box(app, "The selected Norvane will be rebooted. It takes 10 or 20 seconds. Do you want to reboot ... ?",
               "Yes")
    answer_box(app, "Rebooting ... OK.", "OK")
    reboots = [line.split()[3] for line in open(sim_log) if line.startswith("req type=0x13 ")]
    if reboots != ["to=" + moved_to]:
        problem("the simulator saw reboots %r, not one to %s" % (reboots, moved_to))
    else:
        print("the simulator saw one reboot, to %s" % moved_to)


program, appliances = sys.argv[1], int(sys.argv[2])
norvane, password_text, sim_log, url_log = sys.argv[3:7]
window = subprocess.Popen([program])
status = None
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
    run_box(app, sheet, "Reboot ...", "No")

    # The New IP Address dialog opens on a complete address.
    address = find(sheet, pyatspi.ROLE_PANEL, "Selected IP Address")
    for field, octet in zip(children(address), ("10", "200", "1", "1")):
        field.queryEditableText().setTextContents(octet)
    press(button(sheet, "Change IP Addr"))
    dialog = new_window(app, pyatspi.ROLE_DIALOG, "New IP Address")
    check_window(dialog)
    press(button(dialog, "Cancel"))
    gone(app, "New IP Address", pyatspi.ROLE_DIALOG)

    whole_path(app, sheet, table, norvane, password_text, sim_log, url_log)

    # Cancel is disabled: Escape does nothing. Enter presses OK, which closes the window.
    keys("Escape")
    time.sleep(0.5)
    if window.poll() is not None:
        problem("Escape closed the window while Cancel is disabled")
    else:
        keys("Return")
        try:
            status = window.wait(timeout=5)
            print("Escape did nothing; Enter closed the window")
        except subprocess.TimeoutExpired:
            problem("Enter did not close the window")
finally:
    if status is None:
        window.terminate()
        window.wait()

print("%d problems" % len(problems))
sys.exit(1 if problems else 0)
