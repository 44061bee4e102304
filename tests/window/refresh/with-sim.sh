#!/bin/sh
# Runs a test program against norvane-sim started here, so that the program
# need not start or stop the simulator itself: a Windows build under wine
# cannot stop a Linux process. Call it inside a private segment. The program
# finds the simulator's list of appliances in $NORVANE_SIM_OUT and its request
# log in $NORVANE_SIM_LOG.
#
#   with-sim.sh SIM COMMAND [ARGS...]
. "$(dirname "$0")/../../../tools/support/lib.sh"
sim=$1
shift
make_workdir norvane-refresh
start_ready sim "$sim" --count 3 --first-ip 10.200.4.1 --log "$work/sim.log"

export NORVANE_SIM_OUT="$work/sim.out" NORVANE_SIM_LOG="$work/sim.log"
"$@"
