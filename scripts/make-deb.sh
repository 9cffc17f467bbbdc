#!/usr/bin/env bash
# Builds the Debian package tessary_<version>_<arch>.deb in a build tree of its own
# (Release, with Debian's hardening flags, without the tests) and checks it with lintian.
#   make-deb.sh [BUILD]      (default: build-deb; the package is left there)
set -euo pipefail
build=${1:-build-deb}
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build"
rm -f "$build"/tessary_*.deb
(cd "$build" && cpack -G DEB)

package=$(echo "$build"/tessary_*.deb)
[ -f "$package" ] || {
    echo "make-deb: cpack made no package in $build" >&2
    exit 1
}
# The results store's SQLite: named in debian_package.cmake, found by dpkg-shlibdeps too once
# a program links the store.
depends=$(dpkg-deb --field "$package" Depends)
case $depends in
*libsqlite3-0*) ;;
*)
    echo "make-deb: $package does not depend on libsqlite3-0 (Depends: $depends)" >&2
    exit 1
    ;;
esac
lintian --fail-on error "$package"
echo "make-deb: $package"
