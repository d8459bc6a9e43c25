#!/usr/bin/env bash
# Velloa side by side with a bare Qt 6 tray program (bench/bare_tray.cpp) on a virtual X server
# with a tray host: time from exec to the first window mapped, memory 5 s after, and CPU time
# and wake-ups over an idle minute while the app's 30 s refresh runs against a local velloa-hub
# serving 50 and then 10,000 tasks.
#
#   bench/desktop.sh [--rounds N] [--idle SECONDS] [--sizes "50 10000"]
#
# One warm-up launch of each program is discarded (font caches, page cache), then every round
# starts both programs, alternating which goes first, and measures them over the same idle
# window. Prints every sample, then min / median / max and the app-to-bare ratio of medians.
# The bare program's --required mode (the start-up question, then the panel's fonts over a kept
# picture; see bench/bare_tray.cpp) is started in each round too, for start and memory only, and
# printed as a third column: what any program showing these screens costs.
#
# The app asks which list to show at every start; the probe answers with Return (the first
# list) the moment the question maps, so "panel" is exec to the note panel mapped, less the
# time the answer took to send. Memory is from /proc/PID/status, CPU time and wake-ups (times a
# thread was put on a CPU) are summed over /proc/PID/task/*/schedstat; each round also prints
# the app's share of them thread by thread.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

rounds=3
idle=60
sizes="50 10000"
while [ $# -gt 0 ]; do
    case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    *) echo "usage: bench/desktop.sh [--rounds N] [--idle SECONDS] [--sizes \"50 10000\"]" >&2; exit 2 ;;
    esac
done

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}" "${VELLOA_TEST_PACKAGES[@]}" \
    "${VELLOA_DESKTOP_BENCH_PACKAGES[@]}"
build=build/bench
velloa_log "Building the app, the hub and the probes (Release) in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target velloa velloa-hub velloa-bench-bare \
    velloa-bench-launch velloa-bench-feed
app=$build/app/velloa
bare=$build/bench/velloa-bench-bare
probe=$build/bench/velloa-bench-launch

work=$(mktemp -d /tmp/velloa-desktop-bench.XXXXXX)
services=()
running=()
cleanup() {
    for pid in "${running[@]:-}" "${services[@]:-}"; do
        if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Settings, caches and the single-instance socket stay in the work folder, away from the
# user's own.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

display=
for n in $(seq 140 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=:$n
        break
    fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
services+=($!)
export DISPLAY=$display
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
services+=($!)
sleep 1

# One hub per size, each with its own data folder and a free port.
declare -A feedUrl
for size in $sizes; do
    mkdir -p "$work/hub-$size"
    "$build/bench/velloa-bench-feed" "$size" >"$work/hub-$size/data.json"
    "$build/hub/velloa-hub" --port 0 --data "$work/hub-$size" >"$work/hub-$size.out" \
        2>"$work/hub-$size.err" &
    services+=($!)
    for _ in $(seq 100); do grep -q listening "$work/hub-$size.out" 2>/dev/null && break; sleep 0.1; done
    feedUrl[$size]=$(sed -n 's/^velloa-hub listening on \(http:[^ ]*\)$/\1/p' "$work/hub-$size.out")
    [ -n "${feedUrl[$size]}" ] || { echo "velloa-hub did not start" >&2; cat "$work/hub-$size.err" >&2; exit 1; }
done

# launch PROGRAM SIZE: starts it through the probe; sets launchPid and launchMs.
launch() {
    local which=$1 size=$2 line
    if [ "$which" = bare ]; then
        line=$("$probe" -- "$bare" 2>>"$work/programs.err")
        launchMs=$(sed -n 's/.*first_window_ms=\([0-9.]*\).*/\1/p' <<<"$line")
    elif [ "$which" = required ]; then
        line=$("$probe" --answer-dialog -- "$bare" --required 2>>"$work/programs.err")
        launchMs=$(sed -n 's/.*first_window_ms=\([0-9.]*\).*/\1/p' <<<"$line")
        panelMs=$(sed -n 's/.*second_window_ms=\([0-9.]*\).*/\1/p' <<<"$line")
    else
        line=$(VELLOA_DATA_URL="${feedUrl[$size]}data.json" VELLOA_RELAY_URL="${feedUrl[$size]}" \
            VELLOA_UPDATE_URL="${feedUrl[$size]}version.json" \
            "$probe" --answer-dialog -- "$app" 2>>"$work/programs.err")
        launchMs=$(sed -n 's/.*first_window_ms=\([0-9.]*\).*/\1/p' <<<"$line")
        panelMs=$(sed -n 's/.*second_window_ms=\([0-9.]*\).*/\1/p' <<<"$line")
    fi
    launchPid=$(sed -n 's/.*pid=\([0-9]*\).*/\1/p' <<<"$line")
    [ -n "$launchPid" ] || { echo "$which did not show a window" >&2; exit 1; }
    running+=("$launchPid")
}

# Stops a program and waits until it is gone, so the next start finds no instance running.
stop() {
    local pid=$1
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do [ -e "/proc/$pid" ] || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    for _ in $(seq 50); do [ -e "/proc/$pid" ] || return 0; sleep 0.1; done
}

statusKb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# CPU nanoseconds and times on a CPU per thread. A thread that ends takes its counts with it
# (Qt's pooled threads end after 30 idle seconds), so the threads are sampled every second and
# each one's last counts are kept: a thread ending between samples loses at most a second of
# being idle.
declare -A threadNs threadRuns threadName startNs startRuns
sampleThreads() {
    local pid=$1 file tid ns runs
    for file in /proc/"$pid"/task/*/schedstat; do
        tid=${file%/schedstat}
        tid=${tid##*/}
        read -r ns _ runs <"$file" 2>/dev/null || continue
        threadNs[$pid:$tid]=$ns
        threadRuns[$pid:$tid]=$runs
        [ -n "${threadName[$pid:$tid]:-}" ] ||
            threadName[$pid:$tid]=$(cat "/proc/$pid/task/$tid/comm" 2>/dev/null || echo "?")
    done
}
# The counts of every thread seen so far, as the start of the idle window.
markThreads() {
    local key
    for key in "${!threadNs[@]}"; do
        startNs[$key]=${threadNs[$key]}
        startRuns[$key]=${threadRuns[$key]}
    done
}
# What each of a program's threads spent in the idle window (one born in it starts from 0), so
# a wake-up can be put down to the thread that took it.
printThreads() {
    local pid=$1 key
    for key in "${!threadNs[@]}"; do
        [ "${key%%:*}" = "$pid" ] || continue
        printf '        thread %-8s %-18s %8s ms %4s runs\n' "${key#*:}" "${threadName[$key]}" \
            "$(awk -v a="${startNs[$key]:-0}" -v b="${threadNs[$key]}" 'BEGIN { printf "%.3f", (b - a) / 1e6 }')" \
            "$((threadRuns[$key] - ${startRuns[$key]:-0}))"
    done
}
# Totals over every thread seen: "NS RUNS".
threadTotals() {
    local pid=$1 key ns=0 runs=0
    for key in "${!threadNs[@]}"; do
        [ "${key%%:*}" = "$pid" ] || continue
        ns=$((ns + threadNs[$key]))
        runs=$((runs + threadRuns[$key]))
    done
    echo "$ns $runs"
}

results=$work/results
: >"$results"
record() { echo "$1 $2 $3 $4" >>"$results"; printf '  %-5s %-6s %-22s %s\n' "$2" "$1" "$3" "$4"; }

velloa_log "Warm-up (discarded)"
for which in bare required app; do
    launch "$which" "${sizes%% *}"
    sleep 2
    stop "$launchPid"
done

for round in $(seq "$rounds"); do
    for size in $sizes; do
        velloa_log "Round $round of $rounds, $size tasks"
        order=(bare required app)
        [ $((round % 2)) -eq 0 ] && order=(app required bare)
        declare -A pidOf=()
        for which in "${order[@]}"; do
            launch "$which" "$size"
            pidOf[$which]=$launchPid
            record "$size" "$which" start_ms "$launchMs"
            [ "$which" != bare ] && record "$size" "$which" panel_ms "$panelMs"
            sleep 5
            record "$size" "$which" vmrss_5s_kib "$(statusKb "$launchPid" VmRSS)"
            record "$size" "$which" rssanon_5s_kib "$(statusKb "$launchPid" RssAnon)"
            [ "$which" = required ] && stop "$launchPid"
        done
        for which in app bare; do sampleThreads "${pidOf[$which]}"; done
        markThreads
        read -r appNs appRuns < <(threadTotals "${pidOf[app]}")
        read -r bareNs bareRuns < <(threadTotals "${pidOf[bare]}")
        for _ in $(seq "$idle"); do
            sleep 1
            for which in app bare; do sampleThreads "${pidOf[$which]}"; done
        done
        read -r appNs2 appRuns2 < <(threadTotals "${pidOf[app]}")
        read -r bareNs2 bareRuns2 < <(threadTotals "${pidOf[bare]}")
        record "$size" app idle_cpu_ms_per_min "$(awk -v a="$appNs" -v b="$appNs2" -v s="$idle" 'BEGIN { printf "%.2f", (b - a) / 1e6 * 60 / s }')"
        record "$size" bare idle_cpu_ms_per_min "$(awk -v a="$bareNs" -v b="$bareNs2" -v s="$idle" 'BEGIN { printf "%.2f", (b - a) / 1e6 * 60 / s }')"
        printThreads "${pidOf[app]}"
        record "$size" app idle_wakeups_per_min "$(awk -v a="$appRuns" -v b="$appRuns2" -v s="$idle" 'BEGIN { printf "%.1f", (b - a) * 60 / s }')"
        record "$size" bare idle_wakeups_per_min "$(awk -v a="$bareRuns" -v b="$bareRuns2" -v s="$idle" 'BEGIN { printf "%.1f", (b - a) * 60 / s }')"
        record "$size" app rssanon_after_idle_kib "$(statusKb "${pidOf[app]}" RssAnon)"
        record "$size" bare rssanon_after_idle_kib "$(statusKb "${pidOf[bare]}" RssAnon)"
        stop "${pidOf[app]}"
        stop "${pidOf[bare]}"
        running=()
        threadNs=() threadRuns=() threadName=() startNs=() startRuns=()
    done
done

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -n <<<"$1" | awk -v med="$2" 'NR == 1 { min = $1 } { max = $1 } END { printf "%s / %s / %s", min, med, max }'; }
values() { awk -v s="$1" -v w="$2" -v m="$3" '$1 == s && $2 == w && $3 == m { print $4 }' "$results"; }

echo
echo "Summary ($rounds rounds, idle window ${idle} s, $(nproc) cores, $(uname -r)): min / median / max"
for size in $sizes; do
    echo "$size tasks:"
    for metric in start_ms panel_ms vmrss_5s_kib rssanon_5s_kib rssanon_after_idle_kib \
        idle_cpu_ms_per_min idle_wakeups_per_min; do
        appValues=$(values "$size" app "$metric")
        [ -n "$appValues" ] || continue
        appMedian=$(median <<<"$appValues")
        # The bare program's window is its whole start: the panel compares with it too.
        bareMetric=$metric
        [ "$metric" = panel_ms ] && bareMetric=start_ms
        bareValues=$(values "$size" bare "$bareMetric")
        bareMedian=$(median <<<"$bareValues")
        ratio=$(awk -v a="$appMedian" -v b="$bareMedian" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
        printf "  %-24s velloa %-28s bare %-28s ratio %s\n" "$metric" \
            "$(spread "$appValues" "$appMedian")" "$(spread "$bareValues" "$bareMedian")" "$ratio"
        requiredValues=$(values "$size" required "$metric")
        if [ -n "$requiredValues" ]; then
            requiredMedian=$(median <<<"$requiredValues")
            printf "  %-24s required %-26s ratio to bare %s\n" "" "$(spread "$requiredValues" "$requiredMedian")" \
                "$(awk -v a="$requiredMedian" -v b="$bareMedian" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
        fi
    done
done
echo "Targets: with 50 tasks start within 1.2x of bare and the panel within 1.3x; RssAnon within 1.5x"
echo "of bare, flat; idle at most 1 ms of CPU and 8 wake-ups a minute. With 10,000 tasks RssAnon at"
echo "most 32 MiB (32,768 KiB), flat."
