#!/usr/bin/env bash
# Installs a build tree into a temporary prefix, starts the installed tessary in the current
# X server and checks that its window is the one the desktop entry describes: WM_CLASS
# carries StartupWMClass, and the GTK application id names the entry's file, so that
# docks and window lists group the window with its launcher.
#   install_window_test.sh BUILD
set -euo pipefail
build=$1

# On a session bus of its own: GTK sets the application id only once it owns its name on a
# bus, and a Tessary already running in the caller's session would take the launch.
if [ -z "${TESSARY_OWN_SESSION_BUS:-}" ]; then
    command -v dbus-run-session >/dev/null || {
        echo "window: dbus-run-session is missing (package dbus-daemon)" >&2
        exit 1
    }
    exec env TESSARY_OWN_SESSION_BUS=1 dbus-run-session -- "$0" "$@"
fi

fail() {
    echo "window: $*" >&2
    exit 1
}

pid=
temporary_install_cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
}
. "$(dirname "$0")/temporary_install.sh"
install_into_temporary_prefix "$build"
desktop=$prefix/share/applications/com.tessary.gtk.desktop
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ -n "$wm_class" ] || fail "the desktop entry has no StartupWMClass"

# Started the way a launcher starts it: by the name on Exec=, from the installed bin/.
exec_name=$(sed -n 's/^Exec=//p' "$desktop" | cut -d' ' -f1)
PATH=$prefix/bin:$PATH "$exec_name" &
pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n1) || true
[ -n "$window" ] || fail "no window of the installed tessary appeared"

# WM_CLASS(STRING) = "instance", "class"
read -r instance class < <(xprop -id "$window" WM_CLASS |
    sed -n 's/^WM_CLASS(STRING) = "\([^"]*\)", "\([^"]*\)"$/\1 \2/p')
[ "$class" = "$wm_class" ] ||
    fail "the window's WM_CLASS is \"$instance\", \"$class\"; the desktop entry says $wm_class"

app_id=$(xprop -id "$window" _GTK_APPLICATION_ID | sed -n 's/.* = "\(.*\)"$/\1/p')
[ "$app_id.desktop" = "$(basename "$desktop")" ] ||
    fail "the application id '$app_id' does not name the desktop entry $(basename "$desktop")"
echo "window: WM_CLASS \"$instance\", \"$class\" and application id $app_id match the desktop entry"
