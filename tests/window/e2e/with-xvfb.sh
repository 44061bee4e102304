#!/bin/sh
# Runs a command on the xcb platform against an Xvfb of its own, started here
# so that it lives in the caller's network namespace. $BROWSER is a stand-in
# that appends every URL it is handed to $NORVANE_URL_LOG.
#
#   with-xvfb.sh COMMAND [ARGS...]
. "$(dirname "$0")/../../../tools/support/lib.sh"
make_workdir norvane-e2e
start_xvfb 1024x768x24

printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"$NORVANE_URL_LOG"\n' >"$work/browser"
chmod +x "$work/browser"

export QT_QPA_PLATFORM=xcb
export BROWSER="$work/browser"
export NORVANE_URL_LOG="$work/urls"
# No desktop and no registered handlers: xdg-open falls through to $BROWSER.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export XDG_CONFIG_HOME="$work" XDG_DATA_HOME="$work" XDG_CONFIG_DIRS="$work/none" XDG_DATA_DIRS="$work/none"

"$@"
