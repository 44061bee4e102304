#!/bin/sh
# Runs COMMAND [ARGS...] as an ordinary user (nobody), so that the segment it
# asks for is made by unshare -rn. Exits 77, which ctest counts as skipped,
# unless run as root, or where nobody may not read a file named in the
# arguments or make a user namespace.
set -e
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null; then
    echo "as-user: needs root and setpriv; skipped" >&2
    exit 77
fi
user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
for arg; do
    if [ -e "$arg" ] && ! user test -r "$arg"; then
        echo "as-user: nobody may not read $arg; skipped" >&2
        exit 77
    fi
done
if ! user unshare -rn true 2>/dev/null; then
    echo "as-user: nobody may not make a user namespace here; skipped" >&2
    exit 77
fi
user "$@"
