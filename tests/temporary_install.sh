# Sourced by the install tests: installs the build tree BUILD into $prefix, a fresh temporary
# prefix inside $work, and undoes everything on exit. `cmake --install` rewrites the build
# tree's install manifest; the one a real install left there is put back afterwards, so that
# `make uninstall` still finds it. A test adds its own clean-up as a function
# temporary_install_cleanup, called first.
#   install_into_temporary_prefix BUILD LOG
install_into_temporary_prefix() {
    build=$1
    work=$(mktemp -d)
    manifest=$build/install_manifest.txt
    [ -f "$manifest" ] && cp -p "$manifest" "$work/saved_manifest"
    trap undo_temporary_install EXIT
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
        cat "$work/install.log" >&2
        fail "cmake --install failed"
    }
}

undo_temporary_install() {
    if declare -F temporary_install_cleanup >/dev/null; then
        temporary_install_cleanup
    fi
    if [ -f "$work/saved_manifest" ]; then
        mv -f "$work/saved_manifest" "$manifest"
    else
        rm -f "$manifest"
    fi
    rm -rf "$work"
}
