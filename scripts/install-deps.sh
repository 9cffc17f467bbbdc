#!/usr/bin/env bash
# Installs the Debian packages that Tessary needs to build, run and test, skipping those
# already present; with the argument "deb", also those that build and check its package.
# Works as root or through sudo.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    # libraries
    libgtk-3-dev libgmp-dev libmpfr-dev libfftw3-dev nlohmann-json3-dev libsqlite3-dev
    # tests and benchmarks
    libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev clang-tidy
    # GUI tests: X server, input, screenshots, icons and fonts
    xvfb xauth xdotool x11-utils imagemagick adwaita-icon-theme librsvg2-common
    fonts-dejavu-core dbus-daemon
    # the window's numbers in a German locale, made by localedef
    locales
    # installation: manual page generator and reader, desktop entry and AppStream validators
    help2man man-db desktop-file-utils appstream
    # the engine and tessary-cli built for arm64 and run under qemu-user
    g++-aarch64-linux-gnu qemu-user file
)
if [ "${1:-}" = deb ]; then
    # CPack's DEB generator: dpkg-shlibdeps finds the ELF files with file(1)
    packages+=(dpkg-dev file lintian)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    echo "install-deps: missing packages (${missing[*]}) and no root or sudo to install them" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
