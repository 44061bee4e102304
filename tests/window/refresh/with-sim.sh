#!/bin/sh
# Runs a test program against norvane-sim started here, so that the program
# need not start or stop the simulator itself: a Windows build under wine
# cannot stop a Linux process. Call it inside a private segment. The program
# finds the simulator's list of appliances in $NORVANE_SIM_OUT and its request
# log in $NORVANE_SIM_LOG.
#
#   with-sim.sh SIM COMMAND [ARGS...]
sim=$1
shift
dir=$(mktemp -d) || exit 1
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$sim" --count 3 --first-ip 10.200.4.1 --log "$dir/sim.log" >"$dir/sim.out" 2>"$dir/sim.err" &
pid=$!
tries=0
until grep -qs '^ready$' "$dir/sim.out"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$pid" 2>/dev/null; then
        echo "with-sim.sh: norvane-sim did not start" >&2
        cat "$dir/sim.err" >&2
        exit 1
    fi
    sleep 0.1
done

export NORVANE_SIM_OUT="$dir/sim.out" NORVANE_SIM_LOG="$dir/sim.log"
"$@"
