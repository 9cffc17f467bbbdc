#!/usr/bin/env bash
# Removes what an install put in place, as listed in the build tree's install manifest
# (one absolute path per line), below $DESTDIR when that is set. Shared directories such
# as share/icons/hicolor stay; Tessary's own documentation directory goes once it is empty.
#   uninstall.sh [MANIFEST]      (default: build/install_manifest.txt)
set -euo pipefail
manifest=${1:-build/install_manifest.txt}
destdir=${DESTDIR:-}

if [ ! -f "$manifest" ]; then
    echo "uninstall: no install manifest at $manifest (was Tessary installed from this build?)" >&2
    exit 1
fi

removed=0
missing=0
own_dirs=()
while IFS= read -r path || [ -n "$path" ]; do
    [ -n "$path" ] || continue
    file=$destdir$path
    if [ -f "$file" ] || [ -L "$file" ]; then
        rm -f -- "$file"
        removed=$((removed + 1))
        dir=$(dirname -- "$file")
        [ "$(basename -- "$dir")" = tessary ] && own_dirs+=("$dir")
    else
        echo "uninstall: already gone: $file" >&2
        missing=$((missing + 1))
    fi
done <"$manifest"

for dir in "${own_dirs[@]}"; do
    rmdir --ignore-fail-on-non-empty -- "$dir" 2>/dev/null || true
done
if [ "$missing" -gt 0 ]; then
    echo "uninstall: removed $removed files, $missing were already gone"
else
    echo "uninstall: removed $removed files"
fi
