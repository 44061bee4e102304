#!/bin/sh
# Runs a command on the xcb platform against an Xvfb of its own, started here
# so that it lives in the caller's network namespace. $BROWSER is a stand-in
# that appends every URL it is handed to $NORVANE_URL_LOG.
#
#   with-xvfb.sh COMMAND [ARGS...]
dir=$(mktemp -d) || exit 1
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# -displayfd picks a free display: another test's Xvfb may share /tmp.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
tries=0
while [ ! -s "$dir/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "with-xvfb.sh: Xvfb did not start" >&2
        cat "$dir/xvfb.log" >&2
        exit 1
    fi
    sleep 0.1
done

printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"$NORVANE_URL_LOG"\n' >"$dir/browser"
chmod +x "$dir/browser"

export DISPLAY=":$(cat "$dir/display")"
export QT_QPA_PLATFORM=xcb
export BROWSER="$dir/browser"
export NORVANE_URL_LOG="$dir/urls"
# No desktop and no registered handlers: xdg-open falls through to $BROWSER.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export XDG_CONFIG_HOME="$dir" XDG_DATA_HOME="$dir" XDG_CONFIG_DIRS="$dir/none" XDG_DATA_DIRS="$dir/none"

"$@"
