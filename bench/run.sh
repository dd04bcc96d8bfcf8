#!/bin/bash
# The real program beside dnsmasq on the same generated rule sets, one server after the other, each
# alone in its own network and mount namespace (tests/support/sandbox.sh: an overlay on /etc, only
# loopback), the server pinned to core 1 and dnsperf to core 0. Needs root, unshare, dnsperf,
# dnsmasq and python3; the program from a build folder.
#   bench/run.sh [-b BUILD_DIR] [-r "100 10000 100000"] [-s "plain mix regex"] [-d SECONDS] [-q RATE]
#                [-m MATCH_SHARE] [-n RUNS] [-l "Off Detailed"] [-o]
# A count written SHAPE:COUNT (mix:1000000) is for that shape only. Each server runs RUNS times
# (default 3), each time started afresh; every figure is the median of its runs.
# Shapes (bench/generate.py): plain, today's lists; mix, a fifth of the rules with the star inside
# the name; regex, regular expressions in the Regular Expression mode (dnsmasq has no form for them).
# For each rule count and server: queries/s at full load, average and 99th-percentile latency and
# queries lost at RATE queries/s, start-up time until the first answer, peak resident memory; then
# our queries/s as a ratio to the faster dnsmasq configuration. -o runs ours alone, without dnsmasq.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build-perf
counts="100 10000 100000"
shapes="plain mix regex"
duration=10
rate=5000
match=0.5
runs=3
logs="Off Detailed"
ours_only=
while getopts "b:r:s:d:q:m:n:l:o" option; do
    case $option in
    b) build=$OPTARG ;;
    r) counts=$OPTARG ;;
    s) shapes=$OPTARG ;;
    d) duration=$OPTARG ;;
    q) rate=$OPTARG ;;
    m) match=$OPTARG ;;
    n) runs=$OPTARG ;;
    l) logs=$OPTARG ;;
    o) ours_only=1 ;;
    *) exit 2 ;;
    esac
done
[ -x "$build/tarnowlock" ] || { echo "no $build/tarnowlock: build the target tarnowlock first" >&2; exit 1; }

work=$(mktemp -d /tmp/tarnowlock-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# shellcheck source=bench/common.sh
. "$here/common.sh"

# RUNS measurements of one server; prints the median of each figure.
measure() {
    local label=$1 prefix=$2
    shift 2
    for _ in $(seq "$runs"); do
        bash "$root/tests/support/sandbox.sh" "$work/sandbox-$label-$(basename "$prefix")" \
            bash "$here/measure.sh" "$label" "$prefix" "$duration" "$rate" "$@"
    done | python3 -c '
import sys
rows = [line.split() for line in sys.stdin if line.strip()]
if not rows:
    sys.exit("no measurement")
def median(column):
    values = [row[column] for row in rows]
    try:
        numbers = sorted(float(value.split("(")[0]) for value in values)
    except ValueError:
        return values[0]
    middle = numbers[len(numbers) // 2]
    return next(value for value in values if float(value.split("(")[0]) == middle)
print(" ".join([rows[0][0]] + [median(column) for column in range(1, len(rows[0]))]))'
}

printf '%-13s %-20s %10s %9s %9s %9s %11s %9s\n' rules server queries/s avg_ms p99_ms lost startup_ms peak_MB
for shape in $shapes; do
declare -A base=() # per server: "rules peak_kB" of the shape's first count
for count in $counts; do
    if [[ $count == *:* ]]; then
        [ "${count%%:*}" = "$shape" ] || continue
        count=${count#*:}
    fi
    prefix=$work/rules-$shape-$count
    python3 "$here/generate.py" --rules "$count" --shape "$shape" --match "$match" --prefix "$prefix"
    server=Wildcard
    [ "$shape" = regex ] && server="Regular Expression"
    results=()
    for log in $logs; do
        folder=$work/program-$log
        program_folder "$folder" "$build" "$log" "$server"
        results+=("$(cd "$folder" && QT_QPA_PLATFORM=offscreen measure "tarnowlock-log-$log" "$prefix" \
            "$folder/tarnowlock" -silent)")
    done
    if [ "$shape" != regex ] && [ -z "$ours_only" ]; then
        for form in host-record address; do
            results+=("$(measure "dnsmasq-$form" "$prefix" dnsmasq --keep-in-foreground --no-resolv --no-hosts \
                --listen-address=127.0.0.1 --bind-interfaces --port=53 --user=root \
                --pid-file="$work/dnsmasq.pid" --log-facility="$work/dnsmasq.log" --conf-file="$prefix.$form.conf")")
        done
    fi
    for line in "${results[@]}"; do
        read -r label qps avg p99 lost startup rss <<<"$line"
        printf '%-13s %-20s %10s %9s %9s %9s %11s %9s\n' "$count $shape" "$label" "$qps" "$avg" "$p99" "$lost" \
            "$startup" "$(awk -v k="$rss" 'BEGIN {printf "%.1f", k / 1024}')"
        # Memory a rule costs beyond the program's own: the peak over that of the first count.
        if [ -z "${base[$label]:-}" ]; then
            base[$label]="$count $rss"
        else
            read -r first first_rss <<<"${base[$label]}"
            awk -v n="$count $shape" -v s="$label" -v c="$count" -v f="$first" -v k="$rss" -v b="$first_rss" 'BEGIN {
                printf "%-13s %-20s %.0f bytes/rule beyond %d rules\n", n, s, (k - b) * 1024 / (c - f), f }'
        fi
    done
    [ "$shape" = regex ] || [ -n "$ours_only" ] && continue
    ours=$(awk '$1 == "tarnowlock-log-Off" {print $2}' <<<"$(printf '%s\n' "${results[@]}")")
    best=$(printf '%s\n' "${results[@]}" | awk '$1 ~ /^dnsmasq/ && $2 > best {best = $2} END {print best}')
    host=$(printf '%s\n' "${results[@]}" | awk '$1 == "dnsmasq-host-record" {print $2}')
    awk -v o="$ours" -v b="$best" -v h="$host" -v n="$count $shape" 'BEGIN {
        printf "%-13s log Off / faster dnsmasq: %.2f   log Off / dnsmasq host-record: %.2f\n", n, o / b, o / h }'
done
done
