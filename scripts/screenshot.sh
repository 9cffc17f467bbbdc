#!/usr/bin/env bash
# Captures Tessary's window, as AppStream and the README show it, in a private Xvfb with
# the default theme, so that the picture does not depend on the desktop it is made on.
# With --after-run it first presses START and waits for the benchmark to finish (minutes);
# with --running it captures ten seconds into the run instead. With --keyboard the window
# is used from the keyboard only: Tab shows the focus outline and Space presses START.
# --about opens the About dialog from the keyboard (F10, Enter); --dark uses the theme's
# dark variant. Dialogs the program shows are captured beside the window.
#   screenshot.sh [--keyboard] [--dark] [--about | --after-run | --running] TESSARY OUTPUT.png
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --in-xvfb ]; then
    exec env -u DISPLAY -u WAYLAND_DISPLAY "$here/with-xvfb.sh" "$0" --in-xvfb "$@"
fi
shift
after_run=0
running=0
keyboard=0
about=0
while [ $# -gt 0 ]; do
    case $1 in
    --after-run) after_run=1 ;;
    --running) running=1 ;;
    --keyboard) keyboard=1 ;;
    --about) about=1 ;;
    --dark) export GTK_THEME=Adwaita:dark ;;
    --*) echo "screenshot: unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
    shift
done
tessary=$1
output=$2
scratch=$(mktemp --suffix=.png)

"$tessary" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$scratch"' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n1) || true
if [ -z "$window" ]; then
    echo "screenshot: no window of $tessary appeared" >&2
    exit 1
fi
xdotool mousemove 0 0 # off the window, so that no tooltip shows
sleep 1 # let the first frames arrive

# Processor time of the program so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

if [ "$keyboard" -eq 1 ]; then
    # Tab goes on to the menu button and back to START, which then shows its outline.
    xdotool windowfocus --sync "$window" key Tab Tab
    sleep 0.5
fi

# Presses START: Space on the focused button, or a click on the middle of the blue disc.
press_start() {
    if [ "$keyboard" -eq 1 ]; then
        xdotool key space
        return
    fi
    import -window "$window" "$scratch"
    read -r width height x y < <(convert "$scratch" -fill white +opaque '#4287F5' \
        -fill black -opaque '#4287F5' -trim -format '%w %h %X %Y\n' info:- | tr -d '+')
    xdotool mousemove --window "$window" $((x + width / 2)) $((y + height / 2)) click 1
}

if [ "$about" -eq 1 ]; then
    xdotool windowfocus --sync "$window" key F10
    sleep 0.5
    xdotool key Return
    sleep 1
elif [ "$running" -eq 1 ]; then
    press_start
    sleep 10
elif [ "$after_run" -eq 1 ]; then
    # Wait until the worker has used some processor time and the program has gone idle again.
    press_start
    start=$(cpu_ticks)
    last=$start
    while sleep 3; do
        now=$(cpu_ticks)
        [ $((now - start)) -gt 500 ] && [ $((now - last)) -lt 10 ] && break
        last=$now
    done
    sleep 1
fi
# The window alone, or with the program's other windows (dialogs) beside it. Each is moved
# clear of the others first: a covered part of a window has no picture.
mapfile -t others < <(xdotool search --onlyvisible --pid "$pid" | grep -vx "$window")
if [ "${#others[@]}" -eq 0 ]; then
    import -window "$window" -strip "$output"
else
    xdotool windowmove --sync "$window" 0 0
    eval "$(xdotool getwindowgeometry --shell "$window")" # WIDTH
    right=$WIDTH
    parts=("$scratch")
    for i in "${!others[@]}"; do
        xdotool windowmove --sync "${others[$i]}" $((right + 10)) 0
        eval "$(xdotool getwindowgeometry --shell "${others[$i]}")"
        right=$((right + 10 + WIDTH))
        parts+=(-size 10x1 xc:'#d0d0d0' "$scratch.$i.png")
    done
    sleep 1
    import -window "$window" "$scratch"
    for i in "${!others[@]}"; do
        import -window "${others[$i]}" "$scratch.$i.png"
    done
    convert -background '#d0d0d0' "${parts[@]}" +append -strip "$output"
    rm -f "$scratch".*.png
fi
echo "screenshot: $(identify -format '%wx%h' "$output") saved to $output"
