#!/usr/bin/env bash
# Installs a build tree into a fresh temporary prefix and checks the result.
#   install_test.sh layout BUILD SOURCE     exactly the expected files, each one usable
#   install_test.sh uninstall BUILD SOURCE  the manifest lists them all; uninstalling empties the prefix
#   install_test.sh version BUILD SOURCE VERSION
#                                           the programs, the metainfo and the manual pages
#                                           carry the project's VERSION
set -euo pipefail
mode=$1
source=$3

fail() {
    echo "install: $*" >&2
    exit 1
}

. "$(dirname "$0")/temporary_install.sh"
install_into_temporary_prefix "$2"

installed_files() {
    (cd "$prefix" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
}

check_layout() {
    local icon_sizes=(16 24 32 48 64 128 256)
    {
        printf '%s\n' bin/tessary bin/tessary-cli \
            share/applications/com.tessary.gtk.desktop \
            share/metainfo/com.tessary.gtk.metainfo.xml \
            share/man/man1/tessary.1 share/man/man1/tessary-cli.1 share/doc/tessary/LICENSE
        for size in "${icon_sizes[@]}"; do
            echo "share/icons/hicolor/${size}x${size}/apps/com.tessary.gtk.png"
        done
    } | LC_ALL=C sort >"$work/expected"
    installed_files >"$work/actual"
    diff -u "$work/expected" "$work/actual" >&2 ||
        fail "the prefix does not hold exactly the expected files (- expected, + installed)"

    for program in tessary tessary-cli; do
        [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
    done

    # Every theme icon is drawn at its own size with an alpha channel, and the largest is
    # the picture that the program carries in its resources: a stale data/icon.png differs
    # in thousands of pixels, another cairo's antialiasing in a few edge pixels at most.
    for size in "${icon_sizes[@]}"; do
        icon=$prefix/share/icons/hicolor/${size}x${size}/apps/com.tessary.gtk.png
        read -r width height channels < <(identify -format '%w %h %[channels]\n' "$icon")
        [ "$width" = "$size" ] && [ "$height" = "$size" ] && [ "$channels" = srgba ] ||
            fail "${size}x${size} icon is ${width}x${height} ($channels)"
    done
    differing=$(compare -metric AE -fuzz 3% "$source/data/icon.png" \
        "$prefix/share/icons/hicolor/256x256/apps/com.tessary.gtk.png" null: 2>&1) || true
    [ "${differing%%.*}" -le 64 ] 2>/dev/null ||
        fail "the 256x256 theme icon differs from data/icon.png in $differing pixels:" \
            "regenerate data/icon.png with tessary-icon"

    # The desktop entry launches an installed program and names the installed icon; the
    # AppStream data launches that entry.
    desktop=$prefix/share/applications/com.tessary.gtk.desktop
    desktop-file-validate "$desktop" >"$work/desktop.log" 2>&1 && [ ! -s "$work/desktop.log" ] || {
        cat "$work/desktop.log" >&2
        fail "the installed desktop entry does not validate cleanly"
    }
    entry() { sed -n "s/^$1=//p" "$desktop"; }
    [ -x "$prefix/bin/$(entry Exec | cut -d' ' -f1)" ] || fail "Exec=$(entry Exec) is not installed"
    [ "$(entry Icon)" = com.tessary.gtk ] || fail "Icon=$(entry Icon) is not the installed icon"
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' \
        "$prefix/share/metainfo/com.tessary.gtk.metainfo.xml")
    [ "$launchable" = com.tessary.gtk.desktop ] ||
        fail "the metainfo launches '$launchable', not the installed desktop entry"
    appstreamcli validate-tree --no-net "$prefix" >"$work/tree.log" 2>&1 || {
        cat "$work/tree.log" >&2
        fail "appstreamcli validate-tree rejects the installed tree"
    }

    # The manual pages format without warnings, and whatis and apropos find their names.
    for name in tessary tessary-cli; do
        page=$prefix/share/man/man1/$name.1
        LC_ALL=C MANWIDTH=80 man --warnings -l "$page" >"$work/$name.txt" 2>"$work/page.err" ||
            fail "man cannot format $name.1"
        [ ! -s "$work/page.err" ] || {
            cat "$work/page.err" >&2
            fail "$name.1 formats with warnings"
        }
        lexgrog "$page" >"$work/whatis" 2>&1 || fail "lexgrog finds no description in $name.1"
        grep -q "\"$name - ." "$work/whatis" || fail "lexgrog reads $name.1 as $(cat "$work/whatis")"
    done
    # The terminal front end's page documents every option of its --help.
    "$prefix/bin/tessary-cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/options"
    [ -s "$work/options" ] || fail "tessary-cli --help lists no options"
    while read -r option; do
        grep -q -- "$option" "$work/tessary-cli.txt" || fail "tessary-cli.1 does not mention $option"
    done <"$work/options"
    echo "install: $(wc -l <"$work/actual") files in place and valid"
}

check_uninstall() {
    installed_files | sed "s|^|$prefix/|" >"$work/actual"
    LC_ALL=C sort "$manifest" >"$work/listed"
    diff -u "$work/listed" "$work/actual" >&2 ||
        fail "the install manifest does not list exactly the installed files (- listed, + installed)"

    "$source/scripts/uninstall.sh" "$manifest" >"$work/uninstall.log" || {
        cat "$work/uninstall.log" >&2
        fail "uninstall.sh failed"
    }
    installed_files >"$work/left"
    [ ! -s "$work/left" ] || {
        cat "$work/left" >&2
        fail "files left after uninstalling"
    }
    [ ! -e "$prefix/share/doc/tessary" ] || fail "share/doc/tessary left after uninstalling"
    echo "install: $(cat "$work/uninstall.log")"
}

# What a user reads as the version, from each installed file, against the project's.
check_version() {
    local version=$1
    local shown
    shown=$("$prefix/bin/tessary-cli" --version | head -n1)
    [ "$shown" = "tessary-cli $version" ] || fail "tessary-cli --version says '$shown', not $version"
    shown=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' \
        "$prefix/share/metainfo/com.tessary.gtk.metainfo.xml" | head -n1)
    [ "$shown" = "$version" ] || fail "the metainfo's newest release is '$shown', not $version"
    for name in tessary tessary-cli; do
        shown=$(sed -n 's/^\.TH //p' "$prefix/share/man/man1/$name.1")
        [[ $shown == *" $version\""* ]] || fail "$name.1 is headed '$shown', without $version"
    done
    echo "install: tessary-cli, the metainfo and both manual pages say $version"
}

case $mode in
layout) check_layout ;;
uninstall) check_uninstall ;;
version) check_version "$4" ;;
*) fail "unknown mode $mode" ;;
esac
