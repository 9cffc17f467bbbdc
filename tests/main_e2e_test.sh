#!/usr/bin/env bash
# End to end with the real engine: starts tessary in the current X server,
# clicks START and checks two screenshots, one during the run (grey disc, green
# arc growing clockwise from the top) and one after it (blue disc again, the
# score in navy and a time below it).
#   main_e2e_test.sh TESSARY OUTPUT_PREFIX   (writes PREFIX-running.png, PREFIX-result.png)
set -euo pipefail
tessary=$1
prefix=$2
running_shot=$prefix-running.png
result_shot=$prefix-result.png
scratch=$(mktemp --suffix=.png)
# The finished benchmark is saved: in a store of the test's own, never the user's.
export XDG_DATA_HOME=$(mktemp -d)

"$tessary" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; rm -rf "$scratch" "$XDG_DATA_HOME"' EXIT

fail() {
    echo "e2e: $*" >&2
    exit 1
}

window=$(timeout 20 xdotool search --sync --onlyvisible --class tessary | head -n1)
[ -n "$window" ] || fail "no tessary window appeared"

# Pixels of one colour (hex, upper case) in a screenshot.
count() {
    convert "$1" -format %c histogram:info:- |
        awk -v want="#$2" '$3 == want { sub(":", "", $1); n += $1 } END { print n + 0 }'
}

# Colour of one pixel, as upper-case hex without '#'.
colour_at() {
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- |
        awk 'NR == 2 { sub("#", "", $3); print substr($3, 1, 6) }'
}

# Bounding box "W H X Y" of the pixels of one colour.
box_of() {
    convert "$1" -fill white +opaque "#$2" -fill black -opaque "#$2" -trim \
        -format '%w %h %X %Y\n' info:- | tr -d '+'
}

# The idle disc: wait until it is drawn, then find its centre and radius.
for _ in $(seq 40); do
    sleep 0.25
    import -window root "$scratch"
    [ "$(count "$scratch" 4287F5)" -ge 10000 ] && break
done
read -r disc_w disc_h disc_x disc_y < <(box_of "$scratch" 4287F5)
cx=$((disc_x + disc_w / 2))
cy=$((disc_y + disc_h / 2))
radius=$((disc_h / 2))
ring=$((radius + 6)) # the ring's centre line, 6.5 outside the disc's edge
echo "e2e: START disc ${disc_w}x${disc_h} centred at ${cx},${cy}"

xdotool mousemove "$cx" "$cy" click 1

# During the run: the first screenshot with a grey disc and some green, then a
# later one with more green. The whole benchmark takes minutes.
green_first=0
while [ "$SECONDS" -lt 900 ]; do
    sleep 1
    import -window root "$scratch"
    grey=$(count "$scratch" 969696)
    green=$(count "$scratch" 4CAF50)
    if [ "$grey" -ge 10000 ] && [ "$green" -ge 20 ]; then
        if [ "$green_first" -eq 0 ]; then
            green_first=$green
            cp "$scratch" "$running_shot"
        elif [ "$green" -gt "$green_first" ]; then
            break
        fi
    fi
    [ "$(count "$scratch" 4287F5)" -ge 10000 ] && fail "the run ended before the ring grew"
done
[ "$green_first" -gt 0 ] || fail "no grey disc with a green arc during the run"
echo "e2e: during the run $green_first green pixels, later $green; screenshot $running_shot"
[ "$(colour_at "$running_shot" "$cx" "$cy")" != 4287F5 ] || fail "the disc is not grey"
[ "$(colour_at "$running_shot" $((cx - radius / 2)) "$cy")" = 969696 ] ||
    fail "no grey disc left of the label"
[ "$(colour_at "$running_shot" $((cx + 3)) $((cy - ring)))" = 4CAF50 ] ||
    fail "the green arc does not start at the top"
[ "$(colour_at "$running_shot" $((cx - ring)) "$cy")" = CCCCCC ] ||
    fail "the left of the ring is not the grey track early in the run"

# After the run: the blue disc without a ring, the score in navy, a time below it.
# Polling is sparse so as to leave the processor to the benchmark.
idle_without_score=0
while [ "$SECONDS" -lt 1750 ]; do
    sleep 5
    import -window root "$scratch"
    if [ "$(count "$scratch" 4287F5)" -ge 10000 ]; then
        if [ "$(count "$scratch" 000080)" -ge 50 ]; then
            cp "$scratch" "$result_shot"
            break
        fi
        idle_without_score=$((idle_without_score + 1))
        if [ "$idle_without_score" -ge 3 ]; then
            cp "$scratch" "$result_shot"
            fail "the run ended without a score; see $result_shot"
        fi
    fi
done
[ -f "$result_shot" ] || fail "no score appeared"
[ "$(count "$result_shot" 4CAF50)" -eq 0 ] || fail "the ring is still shown"
[ "$(count "$result_shot" 969696)" -lt 100 ] || fail "the disc is still grey"
read -r score_w score_h score_x score_y < <(box_of "$result_shot" 000080)
# The time line: dark ink in the 40 rows below the score, centred under it.
time_box=$(convert "$result_shot" -crop "300x40+$((cx - 150))+$((score_y + score_h + 2))" +repage \
    -threshold 40% -trim -format '%w %h' info:-)
read -r time_w time_h <<<"$time_box"
echo "e2e: score ${score_w}x${score_h} in navy, time line ink ${time_w}x${time_h}; screenshot $result_shot"
[ "$score_w" -ge 20 ] || fail "the score is too narrow"
[ "$time_w" -ge 60 ] || fail "no time text below the score"
