#!/usr/bin/env bash
# Starts the real tessary binary in the current X server, waits for its window,
# saves a screenshot and checks the colours that must be on screen: the window
# background, the two grey panels and the blue START disc.
#   smoke_test.sh TESSARY SCREENSHOT.png
set -euo pipefail
tessary=$1
screenshot=$2

"$tessary" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true' EXIT

window=$(timeout 20 xdotool search --sync --onlyvisible --class tessary | head -n1)
if [ -z "$window" ]; then
    echo "smoke: no tessary window appeared" >&2
    exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y, WIDTH, HEIGHT
xdotool mousemove 0 0 # off the window, so that no tooltip covers the panels

# Pixels of one colour (hex, upper case) in the screenshot.
count() {
    convert "$screenshot" -format %c histogram:info:- |
        awk -v want="#$1" '$3 == want { sub(":", "", $1); n += $1 } END { print n + 0 }'
}

# Lengths of the grey runs down the column 30 pixels in from the window's left
# edge: inside both panels (margin 20) and clear of their text (padding 16).
panel_runs() {
    convert "$screenshot" -crop "1x${HEIGHT}+$((X + 30))+${Y}" +repage txt:- |
        awk 'NR > 1 { grey = ($3 == "#D3D3D3") }
             grey { run++ } !grey && run { print run; run = 0 }
             END { if (run) print run }'
}

# The first frames may still be on their way: retry for a few seconds.
for attempt in $(seq 20); do
    sleep 0.25
    import -window root "$screenshot"
    background=$(count F5F5F5)
    disc=$(count 4287F5)
    mapfile -t runs < <(panel_runs)
    if [ "$background" -ge 20000 ] && [ "$disc" -ge 10000 ] && [ "${#runs[@]}" -eq 2 ] &&
        [ "${runs[0]}" -ge 80 ] && [ "${runs[1]}" -ge 150 ]; then
        echo "smoke: window ${WIDTH}x${HEIGHT} at ${X},${Y}; background ${background} px," \
            "disc ${disc} px, panels ${runs[*]} px high at x+30; screenshot ${screenshot}"
        exit 0
    fi
done
echo "smoke: colours missing after ${attempt} tries: background ${background} px (want >= 20000)," \
    "disc ${disc} px (want >= 10000), grey runs '${runs[*]}' (want two, >= 80 and >= 150);" \
    "see ${screenshot}" >&2
exit 1
