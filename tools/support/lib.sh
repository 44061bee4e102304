# Sourced, never run, by the scripts in tools/ and the tests' wrappers:
#
#   root=$(cd "$(dirname "$0")/../.." && pwd)
#   . "$root/tools/support/lib.sh"
#
# Only functions are defined here (their own variables start with lib_);
# those that exit on failure say so.

is_root() { [ "$(id -u)" = 0 ]; }

# COMMAND as root: directly when we are, else through sudo (which drops the
# environment, so pass variables with `env NAME=VALUE COMMAND`).
as_root() {
    if is_root; then "$@"; else sudo "$@"; fi
}

# unshare's flags for a new network namespace: a user who is not root needs
# an unprivileged user namespace to own it.
unshare_net_flags() {
    if is_root; then printf "%s\n" -n; else printf "%s\n" -rn; fi
}

# True when the only network interface is loopback, as in a private segment.
only_loopback() {
    [ "$(ip -o link show 2>/dev/null | cut -d: -f2 | tr -d ' \n')" = lo ]
}

# True in a network namespace just made: loopback alone, and down. Check it
# before configuring one, lest a mistake configure the host's.
fresh_netns() {
    only_loopback && ! ip -o link show lo | grep -q '[<,]UP[,>]'
}

# The program's name for messages: a script's, or an `sh -c` script's $0.
lib_me() { basename "$0"; }

# A temporary folder in $work, made once; on exit (an interrupt included)
# the commands given to on_exit run, the children given to kill_on_exit
# (and those that start_ready and start_xvfb start) are ended, the last
# started first, and the folder is removed. The script's exit status stands,
# under set -e too.
lib_hooks=
lib_pids=
make_workdir() { # [NAME]
    work=$(mktemp -d "${TMPDIR:-/tmp}/${1:-norvane}.XXXXXX")
    trap lib_cleanup EXIT
    trap 'exit 130' INT TERM
}
on_exit() { # COMMAND: shell text, run by eval
    lib_hooks="$lib_hooks
$1"
}
kill_on_exit() { # PID
    lib_pids="$1 $lib_pids"
}
lib_cleanup() {
    eval "$lib_hooks" || true
    for lib_pid in $lib_pids; do
        kill "$lib_pid" 2>/dev/null && wait "$lib_pid" 2>/dev/null || true
    done
    [ -z "$work" ] || rm -rf "$work"
}

# Runs CONDITION... every 0.1 s until it holds; fails once process PID has
# ended or after 10 s.
await() { # PID CONDITION...
    lib_await_pid=$1 lib_tries=0
    shift
    until "$@"; do
        lib_tries=$((lib_tries + 1))
        if [ $lib_tries -gt 100 ] || ! kill -0 "$lib_await_pid" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
}

# Starts COMMAND in the background, its output in $work/NAME.out (its
# errors go where ours do), and waits for its line "ready" (norvane-sim
# prints it once its socket is bound and its appliances listed). Sets
# $ready_pid. Exits when the child ends or is not ready within 10 s.
start_ready() { # NAME COMMAND [ARGS...]
    lib_name=$1
    shift
    "$@" >"$work/$lib_name.out" &
    ready_pid=$!
    kill_on_exit $ready_pid
    if ! await $ready_pid grep -qs '^ready$' "$work/$lib_name.out"; then
        echo "$(lib_me): $lib_name did not start" >&2
        exit 1
    fi
}

# Starts an Xvfb with one screen of GEOMETRY (e.g. 1024x768x24) and exports
# its $DISPLAY. -displayfd has it pick a free display (another Xvfb may
# share /tmp) and tell it once it accepts clients. An X server is reached
# through the network namespace, so start it inside the segment of its
# clients. Exits when Xvfb does not start. -noreset: without it the server
# resets when its last client leaves, and drops a client that connects just
# then (an xdotool or xprop of ours beside a window starting up).
start_xvfb() { # GEOMETRY
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1" 3>"$work/display" 2>"$work/xvfb.log" &
    lib_xvfb=$!
    kill_on_exit $lib_xvfb
    if ! await $lib_xvfb test -s "$work/display"; then
        echo "$(lib_me): Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
}

# The Release build (build/release) of TARGETs, with what it needs
# installed first, in the checkout at $root; sets $build.
release_build() { # TARGET...
    "$root/tools/support/install-deps"
    build="$root/build/release"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVANE_BUILD_TESTS=OFF \
          -DNORVANE_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target "$@"
}
