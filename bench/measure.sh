#!/bin/bash
# One server, measured inside the namespace sandbox (run by bench/run.sh; never alone on a machine:
# it binds 127.0.0.1:53 and replaces /etc/hosts of the namespace).
#   measure.sh LABEL PREFIX DURATION RATE COMMAND...
# Prints one line: LABEL qps avg_ms p99_ms lost startup_ms peak_rss_kB
set -euo pipefail
label=$1 prefix=$2 duration=$3 rate=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

cp "$prefix.hosts" /etc/hosts
probe_name=$(grep -v -m1 nowhere "$prefix.queries" | cut -d' ' -f1)
start_ns=$(date +%s%N)
taskset -c 1 "$@" >/dev/null 2>&1 &
server=$!
# shellcheck source=bench/common.sh
. "$here/common.sh"
trap 'end_process "$server"' EXIT
startup=$(python3 "$here/probe.py" "$probe_name" "$start_ns" 120)

# Throughput: as many queries as the server takes, 100 outstanding.
throughput=$(taskset -c 0 dnsperf -s 127.0.0.1 -d "$prefix.queries" -l "$duration" -t 1 -q 100 2>&1)
qps=$(awk '/Queries per second/ {print $4}' <<<"$throughput")

# Latency at a fixed moderate rate, every response's time.
latency=$(taskset -c 0 dnsperf -s 127.0.0.1 -d "$prefix.queries" -l "$duration" -t 1 -Q "$rate" -v 2>&1)
lost=$(awk '/Queries lost/ {print $3 $4}' <<<"$latency")
read -r avg p99 < <(awk '/^> / {print $NF * 1000}' <<<"$latency" | sort -g |
    awk '{v[NR] = $1; s += $1}
         END {i = int(NR * 0.99); if (i < 1) i = 1; if (NR) printf "%.3f %.3f\n", s / NR, v[i]; else print "- -"}')

rss=$(awk '/VmHWM/ {print $2}' "/proc/$server/status")
printf '%s %s %s %s %s %s %s\n' "$label" "${qps:--}" "$avg" "$p99" "${lost:--}" "$startup" "$rss"
