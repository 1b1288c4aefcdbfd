#!/usr/bin/env bash
# run_in_prefix.sh TEMPLATE PREFIX SECONDS PROGRAM [ARGS...]
# Runs one Windows program in a fresh copy of the template prefix, bounded in time.
# The program's output goes to files (never a pipe: Wine's services would hold it open)
# and is shown afterwards. Exits with the program's exit status. The prefix is removed
# after a pass and kept after a failure.
set -uo pipefail
seconds=$3
source "$(dirname "$0")/lib.sh"
use_template "$1"
new_prefix "$2"
shift 3
timeout --kill-after=10 "$seconds" wine "$@" >"$prefix.out" 2>"$prefix.err"
status=$?
timeout 30 wineserver -k >/dev/null 2>&1  # only this prefix's server
cat "$prefix.out"
if [ "$status" -ne 0 ]; then
    [ "$status" -eq 124 ] && echo "timed out after $seconds s"
    echo "exit status $status; stderr:"
    cat "$prefix.err"
else
    rm -rf "$prefix"
fi
exit "$status"
