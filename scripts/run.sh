#!/usr/bin/env bash
# Starts Tessary from a build tree: the window when a display is available.
set -euo pipefail
build=${1:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/tessary" ]; then
    exec "$build/tessary"
fi
echo "run: no display; the desktop window needs an X or Wayland display" >&2
exit 1
