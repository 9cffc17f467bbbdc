#!/usr/bin/env bash
# A faulty machine end to end: START on a build of the program whose third run computes
# wrong digits. A message window appears beside the main window, standard error names the
# run and where its digits go wrong, and the main window shows no score.
#   main_faulty_test.sh PROBE OUTPUT_PREFIX   (writes PREFIX-window.png, PREFIX-message.png)
set -euo pipefail
probe=$1
prefix=$2
errors=$(mktemp)
scratch=$(mktemp --suffix=.png)
# The failed benchmark is saved: in a store of the test's own, never the user's.
export XDG_DATA_HOME=$(mktemp -d)

"$probe" 2>"$errors" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; rm -rf "$errors" "$scratch" "$XDG_DATA_HOME"' EXIT

fail() {
    echo "faulty: $*" >&2
    echo "faulty: standard error of the program:" >&2
    cat "$errors" >&2
    exit 1
}

window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n1) || true
[ -n "$window" ] || fail "no window appeared"
xdotool mousemove 0 0
sleep 1

# Pixels of one colour (hex, upper case) in a screenshot.
count() {
    convert "$1" -format %c histogram:info:- |
        awk -v want="#$2" '$3 == want { sub(":", "", $1); n += $1 } END { print n + 0 }'
}

# START: a click on the middle of the blue disc.
import -window "$window" "$scratch"
read -r width height x y < <(convert "$scratch" -fill white +opaque '#4287F5' \
    -fill black -opaque '#4287F5' -trim -format '%w %h %X %Y\n' info:- | tr -d '+')
xdotool mousemove --window "$window" $((x + width / 2)) $((y + height / 2)) click 1
xdotool mousemove 0 0

# Three runs of the benchmark, then the message.
message=
while [ "$SECONDS" -lt 280 ] && [ -z "$message" ]; do
    sleep 2
    message=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$window" | head -n1) ||
        true
done
[ -n "$message" ] || fail "no message appeared"
xdotool windowmove "$message" 0 620 # off the main window, which it may cover
sleep 1
import -window "$window" "$prefix-window.png"
import -window "$message" "$prefix-message.png"

grep -q '^tessary: Benchmark run 3 computed wrong digits of pi .*arithmetic error$' "$errors" ||
    fail "standard error does not name run 3"
[ "$(count "$prefix-window.png" 000080)" -eq 0 ] || fail "a score is shown"
[ "$(count "$prefix-window.png" 4287F5)" -ge 10000 ] || fail "START is not idle again"
[ "$(count "$prefix-message.png" FFFFFF)" -lt 1000000 ] || fail "the message window is empty"
echo "faulty: $(cat "$errors"); screenshots $prefix-window.png, $prefix-message.png"
