#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a bounded time.
#
#   tools/fuzz.sh [SECONDS]          each target for SECONDS (default 60)
#   VELLOA_FUZZ_RUNS=N tools/fuzz.sh [SECONDS]   stops at N executions too, whichever comes first
#   VELLOA_FUZZ_TARGETS="feed http" tools/fuzz.sh   only these (feed, manifest, inbox, http)
#   VELLOA_FUZZ_BUILD=build/sanitize tools/fuzz.sh   the targets of that build (configured with
#                                    clang and VELLOA_BUILD_FUZZ=ON; tools/test.sh's in CI)
#
# Seeds are made here on every run, never committed: the JSONTestSuite corpus (found as the
# tests find it) for the three JSON readers, plus a few hand-made inputs for each. New inputs
# a run finds are kept in BUILD/corpus/NAME; a crash leaves BUILD/crashes/NAME-* and makes the
# script fail (BUILD is build/fuzz unless VELLOA_FUZZ_BUILD names another).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

seconds=${1:-60}
runs=${VELLOA_FUZZ_RUNS:-}
targets=${VELLOA_FUZZ_TARGETS:-feed manifest inbox http}
build=${VELLOA_FUZZ_BUILD:-build/fuzz}

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" "${VELLOA_FUZZ_PACKAGES[@]}"

if [ -z "${VELLOA_FUZZ_BUILD:-}" ]; then
    velloa_log "Configuring $build with clang"
    cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS=-O1 -DVELLOA_BUILD_FUZZ=ON -DVELLOA_BUILD_TESTS=OFF \
        -DVELLOA_BUILD_BENCH=OFF >/dev/null
fi
velloa_log "Building the fuzz targets (nothing to do when $build has them)"
TIMEFORMAT="    %R s wall, %U s user, %S s system"
time cmake --build "$build" -j "$(nproc)" --target $(printf 'velloa-fuzz-%s ' $targets)

testdata=${VELLOA_TESTDATA_DIR:-}
if [ -z "$testdata" ]; then
    for candidate in ../shared/testdata /work/shared/testdata; do
        if [ -d "$candidate/JSONTestSuite/test_parsing" ]; then
            testdata=$candidate
            break
        fi
    done
fi

selected() { [[ " $targets " == *" $1 "* ]]; }

seed() { # NAME FILE TEXT: one hand-made seed (printf escapes are honoured)
    selected "$1" || return 0
    mkdir -p "$build/seeds/$1"
    printf "$3" >"$build/seeds/$1/$2"
}

make_seeds() {
    local name
    for name in $targets; do
        rm -rf "${build:?}/seeds/$name"
    done
    for name in feed manifest inbox; do
        selected "$name" || continue
        mkdir -p "$build/seeds/$name"
        if [ -n "$testdata" ]; then
            cp "$testdata"/JSONTestSuite/test_parsing/*.json "$build/seeds/$name/"
        fi
    done
    if selected feed; then
        cp resources/sample/feed.json "$build/seeds/feed/sample.json"
    fi
    seed feed odd '\xef\xbb\xbf{"updated":"u","mine_title":"T","mine":"","mine_rows":[{"kind":"header","text":"S"},{"kind":"item","text":"\\ud800x","id":"a","done":true,"doneAt":"2026-12-06","cat":"S"},{"kind":"gap","x":1e400}],"hers_title":"H","hers":"","hers_rows":[],"mine":"again"}'
    seed manifest full '{"version":"2.14","url":"https://example.org/Velloa-2.14.zip","notes":"新","sha256":"'"$(printf '0%.0s' {1..64})"'"}'
    seed manifest nulls '{"version":"2.14","url":"http://127.0.0.1/v.zip","notes":null,"sha256":null}'
    seed inbox done '{"list":"mine","action":"done","id":"a1","ts":1765000000}'
    seed inbox edit '{"list":"hers","action":"edit","id":"a1","text":"新 \\"文本\\"","ts":1.765e9}'
    seed inbox add '{"list":"mine","action":"add","text":"买菜","ts":-9223372036854775808}'
    seed inbox reorder '{"list":"mine","action":"reorder","ts":0,"order":[{"id":"b","cat":"其他"},{"id":"a","cat":"S"}]}'
    # The HTTP seeds start with the 8 bytes that choose the cuts.
    local cut='\x01\x02\x03\x04\x05\x06\x07\x08'
    seed http get "${cut}GET /data.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
    seed http post "${cut}POST /topic HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\nhello"
    seed http pipelined "${cut}\r\nHEAD /a HTTP/1.0\nConnection: keep-alive\n\nGET /b?x HTTP/1.1\r\nConnection: close\r\n\r\n"
    seed http refused "${cut}POST /t HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nab"
    seed http chunked "${cut}POST /t HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"
}

make_seeds
mkdir -p "$build/crashes" "$build/logs"

fuzz_one() { # NAME: runs one target, its output in $build/logs/NAME.log
    local name=$1 dict=fuzz/json.dict
    # Feeds up to 64 KiB; requests up to 20 KiB, room for a head over the 16 KiB limit (a
    # body's limit is met by its declared length). Every request is also fed in pieces of 1 to
    # 16 bytes, so longer inputs would only slow that target down.
    local maxLen=65536
    if [ "$name" = http ]; then
        dict=fuzz/http.dict
        maxLen=20480
    fi
    mkdir -p "$build/corpus/$name"
    local limit=(-max_total_time="$seconds")
    [ -n "$runs" ] && limit+=(-runs="$runs")
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/velloa-fuzz-$name" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$maxLen" -dict="$dict" -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$name-" "$build/corpus/$name" "$build/seeds/$name" \
        >"$build/logs/$name.log" 2>&1
}

# The targets share nothing, so they run side by side, one per core: the time a run costs is
# the same CPU time over fewer minutes of waiting.
declare -A running=()
finish_one() { # waits for any target; records it when it failed
    local pid name status
    wait -n -p pid && status=0 || status=$?
    name=${running[$pid]}
    unset "running[$pid]"
    if [ "$status" -ne 0 ]; then
        failed+=("$name")
        tail -n 40 "$build/logs/$name.log"
    fi
    local units
    units=$(grep -o 'number_of_executed_units: [0-9]*' "$build/logs/$name.log" | grep -o '[0-9]*$' || echo '?')
    velloa_log "Fuzzed $name: $units inputs, exit $status"
}
failed=()
for name in $targets; do
    while [ ${#running[@]} -ge "$(nproc)" ]; do finish_one; done
    velloa_log "Fuzzing $name (at most $seconds s${runs:+ and $runs runs})"
    fuzz_one "$name" &
    running[$!]=$name
done
while [ ${#running[@]} -gt 0 ]; do finish_one; done
if [ ${#failed[@]} -gt 0 ]; then
    velloa_log "Crashes in: ${failed[*]} (inputs in $build/crashes/)"
    exit 1
fi
velloa_log "No crash in: $targets"
