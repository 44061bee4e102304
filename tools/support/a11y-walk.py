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
import os
import subprocess
import sys
import time

import pyatspi

sys.dont_write_bytecode = True  # nothing written into the checkout
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from a11ybus import *  # noqa: E402,F401,F403
from a11ybus import problems  # noqa: E402

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
