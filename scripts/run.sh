#!/usr/bin/env bash
# Starts Tessary from a build tree: the window when a display is available,
# otherwise the same benchmark in the terminal.
set -euo pipefail
build=${1:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$build/tessary"
fi
echo "run: no display, running the benchmark in the terminal (tessary-cli)" >&2
exec "$build/tessary-cli"
