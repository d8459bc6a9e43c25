#!/usr/bin/env bash
# Builds the Debian package velloa_VERSION_ARCH.deb: a Release build installed under /usr
# (see packaging/CMakeLists.txt), packed by CPack with its dependencies computed by
# dpkg-shlibdeps, then checked by tests/package_check.sh. Prints the package's path.
#
#   tools/package.sh [--build DIR] [--out DIR]
#
#   --build  package this build folder as it is (default: configure and build build/package)
#   --out    where the .deb is written (default BUILD/dist)
#
# Install it with `apt install ./velloa_VERSION_ARCH.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. tools/deps.sh

build=''
out=''
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,11p' "$0"; exit 0 ;;
    *) printf 'package: unknown argument: %s\n' "$1" >&2; exit 2 ;;
    esac
done

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" dpkg-dev desktop-file-utils
if [ -z "$build" ]; then
    build=build/package
    velloa_log "Configuring $build"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DVELLOA_BUILD_TESTS=OFF -DVELLOA_BUILD_BENCH=OFF
    velloa_log "Building $build"
    cmake --build "$build" -j "$(nproc)"
fi
build=$(cd "$build" && pwd)
out=${out:-$build/dist}
mkdir -p "$out"
velloa_log "Packing into $out"
rm -f "$out"/velloa_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
    cat "$out/cpack.log" >&2
    exit 1
}
deb=$(ls "$out"/velloa_*.deb)
velloa_log "Checking $deb"
bash tests/package_check.sh "$deb" "$build"
printf '%s\n' "$deb"
