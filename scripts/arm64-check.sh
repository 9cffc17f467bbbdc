#!/bin/sh
# Cross-builds the engine and tessary-cli for 64-bit Arm and checks, under qemu-user, that they
# compute the same digits of pi as this machine's build, and verify them.
#   scripts/arm64-check.sh [HOST_BUILD_DIR [CROSS_BUILD_DIR]]
# HOST_BUILD_DIR (default build) holds this machine's tessary-cli; CROSS_BUILD_DIR defaults to
# build-arm64. Missing packages are installed, unless TESSARY_ARM64_NO_INSTALL is set: then
# the check is skipped with status 77 (CTest's skip).
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
host_cli=$(cd "${1:-$repo/build}" && pwd)/tessary-cli
cross_build=${2:-$repo/build-arm64}

missing=
for package in g++-aarch64-linux-gnu qemu-user nlohmann-json3-dev file; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
        missing="$missing $package"
done
if [ -n "$missing" ] && [ -n "${TESSARY_ARM64_NO_INSTALL:-}" ]; then
    echo "arm64-check: skipped, missing:$missing" >&2
    exit 77
elif [ -n "$missing" ]; then
    apt-get install -y --no-install-recommends $missing
fi

# nlohmann-json is headers only: its CMake package is staged where the cross build looks.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/share/cmake" "$stage/include"
cp -r /usr/share/cmake/nlohmann_json "$stage/share/cmake/"
ln -s /usr/include/nlohmann "$stage/include/nlohmann"

TESSARY_CROSS_STAGE=$stage cmake -S "$repo" -B "$cross_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake" -DTESSARY_ENGINE_ONLY=ON
cmake --build "$cross_build"
file "$cross_build/tessary-cli" | grep -q "ARM aarch64"

arm_cli="qemu-aarch64 -L /usr/aarch64-linux-gnu $cross_build/tessary-cli"
$arm_cli --version
for digits in 1000 65536 1000000; do
    $arm_cli --digits $digits --print >"$stage/arm.txt"
    "$host_cli" --digits $digits --print >"$stage/host.txt"
    if ! cmp -s "$stage/arm.txt" "$stage/host.txt"; then
        echo "arm64-check: the digits differ at --digits $digits" >&2
        exit 1
    fi
    echo "arm64-check: --digits $digits: the same $(wc -c <"$stage/arm.txt") bytes as $(uname -m)"
done
# This build has no results store: it says so and keeps the measurement's status.
XDG_DATA_HOME=$stage $arm_cli --digits 1000000 --json >"$stage/report.json" 2>"$stage/err.txt"
[ "$(cat "$stage/err.txt")" = "tessary-cli: this build keeps no results" ] ||
    { echo "arm64-check: unexpected standard error: $(cat "$stage/err.txt")" >&2; exit 1; }
status=0
XDG_DATA_HOME=$stage $arm_cli --history 2>/dev/null || status=$?
[ "$status" = 2 ] || { echo "arm64-check: --history gave status $status, not 2" >&2; exit 1; }
python3 - "$stage/report.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
assert report["success"] == 1, report["error_message"]
assert report["saved"] == 0 and report["save_message"] == "this build keeps no results", report
assert report["machine"]["architecture"] == "aarch64", report["machine"]["architecture"]
assert report["simd_path"] == "baseline", report["simd_path"]
run = report["runs"][0]
print(f"arm64-check: {report['summary']['digits']} digits, {run['verified_digits']} verified "
      f"on {report['simd_path']} kernels")
PY
