#!/usr/bin/env bash
# How the program ends, in the current X server: an option it does not know
# gives status 1, Ctrl+Q in its window status 0, and main calls the engine's
# pi_cleanup either way. PROBE is the program built with pi_cleanup wrapped to
# print "pi_cleanup called" on standard error.
#   main_exit_test.sh TESSARY PROBE
set -uo pipefail
tessary=$1
probe=$2
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
    echo "exit: $*" >&2
    exit 1
}

# ends PROGRAM: starts it, presses Ctrl+Q in its window and prints its status.
quit_with_ctrl_q() {
    "$1" >/dev/null 2>"$log" &
    local pid=$!
    local window
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n1)
    if [ -z "$window" ]; then
        kill "$pid" 2>/dev/null
        fail "no window of $1 appeared"
    fi
    xdotool windowfocus --sync "$window" key ctrl+q
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        fail "$1 still runs 10 s after Ctrl+Q"
    fi
    wait "$pid"
    echo $?
}

for program in "$tessary" "$probe"; do
    "$program" --no-such-option >/dev/null 2>"$log"
    status=$?
    [ "$status" -eq 1 ] || fail "$program --no-such-option: status $status, want 1"
    if [ "$program" = "$probe" ]; then
        grep -qx "pi_cleanup called" "$log" || fail "no pi_cleanup after a bad option"
    fi

    status=$(quit_with_ctrl_q "$program") || exit 1
    [ "$status" -eq 0 ] || fail "$program after Ctrl+Q: status $status, want 0"
    if [ "$program" = "$probe" ]; then
        grep -qx "pi_cleanup called" "$log" || fail "no pi_cleanup after Ctrl+Q"
    fi
done
echo "exit: status 1 for a bad option, 0 for Ctrl+Q; pi_cleanup called on both ways out"
