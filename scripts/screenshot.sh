#!/usr/bin/env bash
# Captures Tessary's window, as AppStream and the README show it, in a private Xvfb with
# the default theme, so that the picture does not depend on the desktop it is made on.
#   screenshot.sh TESSARY OUTPUT.png
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --in-xvfb ]; then
    exec env -u DISPLAY -u WAYLAND_DISPLAY "$here/with-xvfb.sh" "$0" --in-xvfb "$@"
fi
tessary=$2
output=$3

"$tessary" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n1) || true
if [ -z "$window" ]; then
    echo "screenshot: no window of $tessary appeared" >&2
    exit 1
fi
sleep 1 # let the first frames arrive
import -window "$window" -strip "$output"
echo "screenshot: $(identify -format '%wx%h' "$output") window saved to $output"
