#!/bin/bash
# Sustained load: the real program, log in Detailed mode, alone in the namespace sandbox
# (tests/support/sandbox.sh: an overlay on /etc, only loopback), under dnsperf for DURATION seconds
# at 90% of the highest rate it takes, the server pinned to core 1 and dnsperf to core 0. Reports
# the queries sent and lost, the resident memory at a tenth, half and all of the run (1, 5 and 10
# minutes by default), and its growth per million queries answered in between. With -w the window
# is shown, on Xvfb (a real X server, so every repaint paints), and -Q sets a fixed rate instead of
# 90% of the highest. With -L MIB the log folder is a file system of ten times MIB, so that the log
# is bounded to MIB (a tenth of its file system), and the load is a flood at the highest rate: the
# folder's largest size during the run and the rate in its first and last minute are reported.
# Needs root, unshare, dnsperf and python3 (xvfb-run for -w); the program from a
# build folder.
#   bench/soak.sh [-b BUILD_DIR] [-r RULES] [-d SECONDS] [-w] [-Q RATE] [-L MIB]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" = --inside ]; then
    # In the sandbox: PROGRAM_FOLDER PREFIX DURATION SHOWN FIXED_RATE LOG_BOUND_MIB
    folder=$2 prefix=$3 duration=$4 shown=$5 fixed_rate=$6 bound=$7
    cp "$prefix.hosts" /etc/hosts
    probe_name=$(grep -v -m1 nowhere "$prefix.queries" | cut -d' ' -f1)
    cd "$folder"
    [ "$bound" = 0 ] || mount -t tmpfs -o size=$((bound * 10))m tmpfs log
    if [ "$shown" = 1 ]; then
        QT_QPA_PLATFORM=xcb taskset -c 1 xvfb-run -a -s "-screen 0 1280x800x24" ./tarnowlock >/dev/null 2>&1 &
    else
        QT_QPA_PLATFORM=offscreen taskset -c 1 ./tarnowlock -silent >/dev/null 2>&1 &
    fi
    runner=$!
    trap 'kill -TERM "$server" 2>/dev/null || true; wait "$runner" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        server=$(pgrep -n -x tarnowlock) && break
        sleep 0.1
    done
    [ "$(python3 "$here/probe.py" "$probe_name" "$(date +%s%N)" 120)" != -1 ] || { echo "no answer" >&2; exit 1; }

    # The highest rate it takes: 100 queries outstanding for ten seconds.
    full=$(taskset -c 0 dnsperf -s 127.0.0.1 -d "$prefix.queries" -l 10 -t 1 -q 100 2>&1)
    rate=$(awk '/Queries per second/ {printf "%d", $4 * 0.9}' <<<"$full")
    [ "$fixed_rate" = 0 ] || rate=$fixed_rate

    rss() { awk '/VmRSS/ {print $2}' "/proc/$server/status"; }
    start_rss=$(rss)
    pace=(-Q "$rate")
    [ "$bound" = 0 ] || { pace=(-q 100); rate=highest; }
    taskset -c 0 dnsperf -s 127.0.0.1 -d "$prefix.queries" -l "$duration" -t 1 "${pace[@]}" -S 1 \
        >"$folder/dnsperf.log" 2>&1 &
    load=$!
    if [ "$bound" != 0 ]; then
        # The log folder's size every half second; its largest.
        (largest=0
         while kill -0 "$load" 2>/dev/null; do
             size=$(du -sb log | cut -f1)
             [ "$size" -gt "$largest" ] && largest=$size
             sleep 0.5
         done
         echo "$largest" >"$folder/largest") &
        sampler=$!
    fi
    # Resident memory and answered queries at a tenth, half and the end of the run.
    samples=()
    elapsed=0
    for at in $((duration / 10)) $((duration / 2)) $((duration - 1)); do
        sleep $((at - elapsed))
        elapsed=$at
        answered=$(awk '/^[0-9.]+: [0-9.]+$/ {sum += $2} END {printf "%d", sum}' "$folder/dnsperf.log" 2>/dev/null ||
            echo 0)
        samples+=("$at $(rss) $answered")
    done
    wait "$load"
    sent=$(awk '/Queries sent/ {print $3}' "$folder/dnsperf.log")
    lost=$(awk '/Queries lost/ {print $3, $4}' "$folder/dnsperf.log")
    printf 'window %s; rate %s queries/s (highest taken: %s); sent %s, lost %s\n' \
        "$([ "$shown" = 1 ] && echo shown || echo hidden)" "$rate" \
        "$(awk '/Queries per second/ {print $4}' <<<"$full")" "$sent" "$lost"
    printf 'resident memory before the load: %.1f MB\n' "$(awk -v k="$start_rss" 'BEGIN {print k / 1024}')"
    for sample in "${samples[@]}"; do
        read -r at kb answered <<<"$sample"
        printf 'after %4d s: %8.1f MB resident, %10d queries answered\n' "$at" \
            "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" "$answered"
    done
    read -r _ first_kb first_answered <<<"${samples[0]}"
    read -r _ last_kb last_answered <<<"${samples[2]}"
    awk -v a="$first_kb" -v b="$last_kb" -v qa="$first_answered" -v qb="$last_answered" 'BEGIN {
        if (qb > qa) printf "growth: %.1f MB per million queries answered\n", (b - a) / 1024 / ((qb - qa) / 1e6) }'
    awk -v a="$start_rss" -v b="$last_kb" 'BEGIN { printf "growth over the run: %.1f MB\n", (b - a) / 1024 }'
    printf 'the log on disk: %s lines; lines lost: %s\n' "$(cat log/*.unfinished | wc -l)" \
        "$(grep -h -o '[0-9]* log line(s) lost' log/*.unfinished | awk '{n += $1} END {print n + 0}')"
    if [ "$bound" != 0 ]; then
        wait "$sampler"
        awk -v l="$(cat "$folder/largest")" -v b="$bound" 'BEGIN {
            printf "log folder: at most %.1f MiB, bound %d MiB: %s\n", l / 1048576, b, l <= b * 1048576 ? "kept" : "EXCEEDED" }'
        # dnsperf -S 1: one "time: queries per second" line a second.
        awk '/^[0-9.]+: [0-9.]+$/ {rate[++n] = $2}
             END {for (i = 1; i <= 60 && i <= n; ++i) {first += rate[i]; last += rate[n - i + 1]; k = i}
                  if (k) printf "queries/s: first minute %.0f, last minute %.0f\n", first / k, last / k}' "$folder/dnsperf.log"
    fi
    exit 0
fi

build=$root/build-perf
rules=10000
duration=600
shown=0
fixed_rate=0
bound=0
while getopts "b:r:d:wQ:L:" option; do
    case $option in
    b) build=$OPTARG ;;
    r) rules=$OPTARG ;;
    d) duration=$OPTARG ;;
    w) shown=1 ;;
    Q) fixed_rate=$OPTARG ;;
    L) bound=$OPTARG ;;
    *) exit 2 ;;
    esac
done
[ -x "$build/tarnowlock" ] || { echo "no $build/tarnowlock: build the target tarnowlock first" >&2; exit 1; }
[ "$duration" -ge 30 ] || { echo "the run takes at least 30 seconds" >&2; exit 2; }

work=$(mktemp -d /tmp/tarnowlock-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/rules
python3 "$here/generate.py" --rules "$rules" --match 0.5 --prefix "$prefix"
# A fresh folder: the program creates its settings with the defaults, the log in Detailed mode.
mkdir -p "$work/program/log"
cp "$build/tarnowlock" "$build/Tray.ico" "$work/program/"
bash "$root/tests/support/sandbox.sh" "$work/sandbox" bash "$0" --inside "$work/program" "$prefix" "$duration" \
    "$shown" "$fixed_rate" "$bound"
