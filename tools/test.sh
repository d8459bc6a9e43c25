#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice: once with warnings
# as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer. In CI (CI=true), or
# with VELLOA_FUZZ=1, each fuzz target then runs for a minute (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" "${VELLOA_TEST_PACKAGES[@]}"

jobs=$(nproc)
run_suite() {
    local name=$1
    shift
    velloa_log "Configuring build/$name"
    cmake -S . -B "build/$name" -G Ninja "$@"
    velloa_log "Building build/$name"
    cmake --build "build/$name" -j "$jobs"
    velloa_log "Testing build/$name"
    (cd "build/$name" && ctest --output-on-failure -j "$jobs")
}

run_suite werror -DCMAKE_BUILD_TYPE=Debug -DVELLOA_WERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DVELLOA_SANITIZE=ON -DVELLOA_BUILD_BENCH=OFF
if [ "${CI:-}" = true ] || [ "${VELLOA_FUZZ:-}" = 1 ]; then
    tools/fuzz.sh 60
fi
velloa_log "All tests passed (warnings-as-errors and sanitizer builds)"
