#!/usr/bin/env bash
# Tries Tessary as a new user would, in a fresh minimal Debian 12 root (debootstrap's
# minbase with only git, make and ca-certificates added):
#   fresh-root-check.sh COMMAND          clones this checkout's HEAD into the root and runs
#                                        COMMAND there, e.g. 'make test' or 'make run'
#   fresh-root-check.sh --deb PACKAGE    installs the package with apt, runs both programs
#                                        (the window under Xvfb), removes it again and
#                                        checks that nothing of it is left
# Needs root and the Debian archive. The minimal root is made once and kept as a tarball in
# $TESSARY_ROOT_CACHE (default /var/cache/tessary-fresh-root); every run unpacks a new copy
# and deletes it afterwards (KEEP_ROOT=1 keeps it for a look). A check to run by hand, not
# part of `make test`.
set -euo pipefail

suite=bookworm
mirror=${TESSARY_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TESSARY_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=${TESSARY_ROOT_CACHE:-/var/cache/tessary-fresh-root}
arch=$(dpkg --print-architecture)
tarball=$cache/$suite-minbase-$arch.tar
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "fresh-root: $*" >&2
    exit 1
}

# The .deb check, run inside the root as root.
check_package_in_root() {
    local package=$1
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    dpkg-query -W -f='${Package}\n' | sort >/tmp/before
    apt-get install -y -q "$package" >/tmp/apt.log || {
        cat /tmp/apt.log >&2
        fail "apt cannot install $package"
    }
    dpkg-query -W -f='${Package}\n' | sort >/tmp/after
    local added
    added=$(comm -13 /tmp/before /tmp/after)
    echo "fresh-root: the package pulled in $(echo "$added" | wc -l) packages: $(echo "$added" | paste -sd" ")"
    local unwanted
    unwanted=$(echo "$added" | grep -E -e '-dev$' -e '^(cmake|g\+\+|gcc|clang|ninja-build|help2man|googletest|xvfb|xdotool|imagemagick)' || true)
    [ -z "$unwanted" ] || fail "the package pulls in build or test tools: $unwanted"

    dpkg -L tessary | sort >/tmp/ours
    for path in /usr/bin/tessary /usr/bin/tessary-cli /usr/share/applications/com.tessary.gtk.desktop \
        /usr/share/metainfo/com.tessary.gtk.metainfo.xml \
        /usr/share/icons/hicolor/256x256/apps/com.tessary.gtk.png \
        /usr/share/man/man1/tessary.1.gz /usr/share/man/man1/tessary-cli.1.gz; do
        grep -qx "$path" /tmp/ours || fail "the package does not install $path"
    done

    local digits
    digits=$(tessary-cli --digits 1000 --print) || fail "tessary-cli --digits 1000 --print failed"
    [ "${#digits}" -eq 1002 ] && [ "${digits:0:12}" = 3.1415926535 ] ||
        fail "tessary-cli printed ${#digits} characters starting '${digits:0:12}'"
    echo "fresh-root: tessary-cli printed 3. and 1000 decimals, ending ${digits: -10}"

    # The window, in an X server installed for this check only.
    apt-get install -y -q --no-install-recommends xvfb xauth x11-utils x11-apps >/tmp/apt.log || {
        cat /tmp/apt.log >&2
        fail "cannot install Xvfb for the window check"
    }
    Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp 3>/tmp/display 2>/dev/null &
    local xvfb=$!
    for _ in $(seq 100); do
        [ -s /tmp/display ] && break
        sleep 0.1
    done
    DISPLAY=":$(head -n1 /tmp/display)"
    export DISPLAY
    tessary &
    local window_pid=$!
    local found=
    for _ in $(seq 40); do
        sleep 0.5
        if xwininfo -root -tree | grep -q '"Tessary"'; then
            found=1
            break
        fi
    done
    sleep 1
    xwd -root -silent >/tmp/window.xwd
    kill "$window_pid" "$xvfb"
    wait "$window_pid" "$xvfb" 2>/dev/null || true
    [ -n "$found" ] || fail "no Tessary window appeared under Xvfb"
    echo "fresh-root: the window appeared under Xvfb"

    apt-get remove -y -q tessary >/tmp/apt.log || {
        cat /tmp/apt.log >&2
        fail "apt remove tessary failed"
    }
    local left=()
    while read -r path; do
        if [ -d "$path" ]; then
            # Directories of our own go; shared ones such as /usr/share/man/man1 stay.
            case $path in */tessary | */tessary/*) left+=("$path") ;; esac
        elif [ -e "$path" ] || [ -L "$path" ]; then
            left+=("$path")
        fi
    done </tmp/ours
    [ ${#left[@]} -eq 0 ] || fail "left after apt remove: ${left[*]}"
    echo "fresh-root: apt remove left none of the package's $(wc -l </tmp/ours) paths behind"
}

make_cached_root() {
    local fresh
    fresh=$(mktemp -d /var/tmp/tessary-bootstrap.XXXXXX)
    chmod 755 "$fresh"
    echo "fresh-root: bootstrapping $suite ($arch) from $mirror into the cache $tarball"
    debootstrap --variant=minbase "$suite" "$fresh" "$mirror" >"$fresh.log" 2>&1 || {
        tail -n 20 "$fresh.log" >&2
        fail "debootstrap failed (log: $fresh.log)"
    }
    cat >"$fresh/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security_mirror $suite-security main
EOF
    # No services start inside the root.
    printf '#!/bin/sh\nexit 101\n' >"$fresh/usr/sbin/policy-rc.d"
    chmod +x "$fresh/usr/sbin/policy-rc.d"
    cp /etc/resolv.conf "$fresh/etc/resolv.conf"
    chroot "$fresh" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends git make ca-certificates &&
               apt-get clean' >>"$fresh.log" 2>&1 || {
        tail -n 20 "$fresh.log" >&2
        fail "cannot add git, make and ca-certificates (log: $fresh.log)"
    }
    mkdir -p "$cache"
    tar --numeric-owner -cpf "$tarball.part" -C "$fresh" .
    mv "$tarball.part" "$tarball"
    rm -rf --one-file-system "$fresh" "$fresh.log"
}

# Unmounts what was mounted in the root, then deletes it, unless it must stay.
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R "${mounted[i]}" || umount -lR "${mounted[i]}" || true
    done
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "fresh-root: something is still mounted below $root; not deleting it" >&2
    elif [ "${KEEP_ROOT:-0}" = 1 ]; then
        echo "fresh-root: the root is kept in $root"
    else
        rm -rf --one-file-system "$root"
    fi
}

in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root CI=true TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# The whole run is one function, read before it starts, so that editing this file
# meanwhile cannot change what a running check does.
main() {
    [ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts)"
    [ $# -ge 1 ] || fail "usage: fresh-root-check.sh COMMAND | --deb PACKAGE.deb"
    command -v debootstrap >/dev/null || fail "debootstrap is not installed (apt-get install debootstrap)"

    [ -f "$tarball" ] || make_cached_root

    root=$(mktemp -d /var/tmp/tessary-root.XXXXXX)
    chmod 755 "$root" # it becomes /, which apt's own user must be able to enter
    trap cleanup EXIT

    tar --numeric-owner -xpf "$tarball" -C "$root"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    mount -t proc proc "$root/proc" || fail "cannot mount /proc in the root"
    mounted+=("$root/proc")
    for dir in dev sys; do
        mount --rbind "/$dir" "$root/$dir" || fail "cannot mount /$dir in the root"
        mounted+=("$root/$dir")
        mount --make-rslave "$root/$dir"
    done

    start=$(date +%s)
    if [ "$1" = --deb ]; then
        [ $# -eq 2 ] && [ -f "$2" ] || fail "usage: fresh-root-check.sh --deb PACKAGE.deb"
        cp "$2" "$here/fresh-root-check.sh" "$root/tmp/"
        in_root bash /tmp/fresh-root-check.sh --in-root-deb "/tmp/$(basename "$2")"
        local screen=${TMPDIR:-/tmp}/tessary-deb-window.xwd
        cp "$root/tmp/window.xwd" "$screen" && echo "fresh-root: the screen with the window: $screen"
        what="the package check"
    else
        checkout=$(git -C "$here/.." rev-parse --show-toplevel)
        [ -z "$(git -C "$checkout" status --porcelain --untracked-files=no)" ] ||
            echo "fresh-root: note: uncommitted changes are not part of the check (it clones HEAD)" >&2
        git clone -q --no-hardlinks "$checkout" "$root/root/tessary"
        git -C "$root/root/tessary" checkout -q --detach "$(git -C "$checkout" rev-parse HEAD)"
        echo "fresh-root: running '$*' in a fresh $suite root at $(git -C "$checkout" rev-parse --short HEAD)"
        in_root bash -c 'cd /root/tessary && eval "$1"' fresh-root "$*"
        what="'$*'"
    fi
    echo "fresh-root: $what passed in $(($(date +%s) - start)) s"
}

root=
mounted=()
if [ "${1:-}" = --in-root-deb ]; then
    check_package_in_root "$2"
else
    main "$@"
fi
exit
