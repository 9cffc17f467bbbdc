#!/usr/bin/env bash
# Runs a command inside an X server: the current display when there is one,
# otherwise a private Xvfb (and a private D-Bus session) that ends with the command.
set -uo pipefail

if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi

fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fd_file" 2>/dev/null &
xvfb_pid=$!
cleanup() {
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    rm -f "$fd_file"
}
trap cleanup EXIT

for _ in $(seq 100); do
    [ -s "$fd_file" ] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "with-xvfb: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -s "$fd_file" ]; then
    echo "with-xvfb: Xvfb did not report a display" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$fd_file")"
export GDK_BACKEND=x11 NO_AT_BRIDGE=1

if command -v dbus-run-session >/dev/null; then
    dbus-run-session -- "$@"
else
    "$@"
fi
