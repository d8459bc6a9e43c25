#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice, with clang: once with
# warnings as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer. In CI
# (CI=true), or with VELLOA_FUZZ=1, the sanitizer build also makes the fuzz targets, and each
# runs for half a minute (tools/fuzz.sh), two at a time, beside that build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" "${VELLOA_TEST_PACKAGES[@]}"

fuzz=OFF
if [ "${CI:-}" = true ] || [ "${VELLOA_FUZZ:-}" = 1 ]; then
    fuzz=ON
fi

jobs=$(nproc)
# Each step prints its wall time and the CPU time it spent (its child processes included), so a
# slow run shows which step it lost time in whatever else the machine was doing.
TIMEFORMAT='    %R s wall, %U s user, %S s system'
build_suite() {
    local name=$1
    shift
    velloa_log "Configuring build/$name"
    cmake -S . -B "build/$name" -G Ninja -DCMAKE_CXX_COMPILER=clang++ "$@"
    velloa_log "Building build/$name"
    time "${buildPriority[@]}" cmake --build "build/$name" -j "$jobs"
}
buildPriority=()
test_suite() {
    velloa_log "Testing build/$1"
    time (cd "build/$1" && ctest --output-on-failure -j "$jobs")
}

# Neither build is for a debugger: the warnings build needs no debug information at all, the
# sanitizer build only line tables for its reports. Writing and linking full debug information
# was about a quarter of each build's time. clang compiles these builds in about two thirds of
# gcc's CPU time.
build_suite werror -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g0 -DVELLOA_WERROR=ON

# The tests mostly wait (on sockets, timers and child processes), so the warnings build's run
# while the sanitizer build compiles; their report follows that build's. The build runs at a
# lower priority: several tests wait on real time, and under a build at full priority one of
# them ran out of it.
test_suite werror >build/werror/tests.log 2>&1 &
werrorTests=$!
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
buildPriority=(nice -n 10)
build_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DVELLOA_SANITIZE=ON -DVELLOA_BUILD_BENCH=OFF -DVELLOA_BUILD_FUZZ=$fuzz
werrorStatus=0
wait $werrorTests || werrorStatus=$?
cat build/werror/tests.log
if [ $werrorStatus -ne 0 ]; then
    velloa_log "Tests failed in build/werror"
    exit 1
fi

# The fuzz targets, built above, run beside the sanitizer build's tests, at a lower priority so
# that the tests keep the CPU they ask for; the targets run for a fixed time either way.
fuzzing=
if [ $fuzz = ON ]; then
    VELLOA_FUZZ_BUILD=build/sanitize nice -n 10 tools/fuzz.sh 30 >build/sanitize/fuzz.log 2>&1 &
    fuzzing=$!
fi
sanitizeStatus=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    test_suite sanitize || sanitizeStatus=$?
fuzzStatus=0
if [ -n "$fuzzing" ]; then
    wait $fuzzing || fuzzStatus=$?
    cat build/sanitize/fuzz.log
fi
if [ $sanitizeStatus -ne 0 ]; then
    velloa_log "Tests failed in build/sanitize"
fi
if [ $fuzzStatus -ne 0 ]; then
    velloa_log "Fuzzing failed (build/sanitize/fuzz.log)"
fi
if [ $sanitizeStatus -ne 0 ] || [ $fuzzStatus -ne 0 ]; then
    exit 1
fi
velloa_log "All tests passed (warnings-as-errors and sanitizer builds${fuzzing:+, and fuzzing})"
