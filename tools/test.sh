#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice: once with warnings
# as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer. In CI (CI=true), or
# with VELLOA_FUZZ=1, each fuzz target then runs for half a minute (tools/fuzz.sh), two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" "${VELLOA_TEST_PACKAGES[@]}"

jobs=$(nproc)
# Each step prints its wall time and the CPU time it spent (its child processes included), so a
# slow run shows which step it lost time in whatever else the machine was doing.
TIMEFORMAT='    %R s wall, %U s user, %S s system'
run_suite() {
    local name=$1
    shift
    velloa_log "Configuring build/$name"
    cmake -S . -B "build/$name" -G Ninja "$@"
    velloa_log "Building build/$name"
    time cmake --build "build/$name" -j "$jobs"
    velloa_log "Testing build/$name"
    time (cd "build/$name" && ctest --output-on-failure -j "$jobs")
}

# Neither build is for a debugger: the warnings build needs no debug information at all, the
# sanitizer build only line tables for its reports. Writing and linking full debug information
# was about a quarter of each build's time.
run_suite werror -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g0 -DVELLOA_WERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DVELLOA_SANITIZE=ON -DVELLOA_BUILD_BENCH=OFF
if [ "${CI:-}" = true ] || [ "${VELLOA_FUZZ:-}" = 1 ]; then
    time tools/fuzz.sh 30
fi
velloa_log "All tests passed (warnings-as-errors and sanitizer builds)"
