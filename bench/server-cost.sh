#!/bin/bash
# Instructions the server spends on a question, counted by callgrind: the real program in the
# namespace sandbox on RULES plain rules, answering QUESTIONS dnsperf questions, its
# UI_ServerPanel::handler counted inclusively (reading the datagrams, the lookup, the replies, the
# log line, the hour's counts), once per log mode and build. Throughput on this machine moves by
# 10 % between runs; these counts move by far less, so two builds compare to a percent. Needs root,
# unshare, valgrind, dnsperf, sqlite3 and python3.
#   bench/server-cost.sh [-b "BUILD_DIR ..."] [-r RULES] [-q QUESTIONS] [-u NAMES] [-l "Off Detailed"]
# The questions go through the first NAMES names of the generated query file in turn (by default
# all of them: every question a name of its own, the costliest case for the hour's name counts).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
builds=$root/build-perf rules=100000 questions=20000 names=0 logs="Off Detailed"
while getopts "b:r:q:u:l:" option; do
    case $option in
    b) builds=$OPTARG ;;
    r) rules=$OPTARG ;;
    q) questions=$OPTARG ;;
    u) names=$OPTARG ;;
    l) logs=$OPTARG ;;
    *) exit 2 ;;
    esac
done

work=$(mktemp -d /tmp/tarnowlock-cost.XXXXXX)
trap 'rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
. "$here/common.sh"

prefix=$work/rules
python3 "$here/generate.py" --rules "$rules" --shape plain --prefix "$prefix"
# One question per line, each name in turn; dnsperf goes through the file once.
python3 - "$prefix.queries" "$questions" "$names" >"$work/questions" <<'PY'
import itertools, sys
names = [line for line in open(sys.argv[1]) if line.strip()][: int(sys.argv[3]) or None]
sys.stdout.writelines(itertools.islice(itertools.cycle(names), int(sys.argv[2])))
PY

# Runs inside the sandbox: the program under callgrind, counting within the handler alone (the probe
# that waits for the start adds a question or two to the count).
cat >"$work/inside.sh" <<'SH'
set -euo pipefail
here=$1 prefix=$2 questions=$3 out=$4
shift 4
cp "$prefix.hosts" /etc/hosts
valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
    --toggle-collect='UI_ServerPanel::handler()' "$@" >/dev/null 2>&1 &
server=$!
[ "$(python3 "$here/probe.py" "$(head -1 "$questions" | cut -d' ' -f1)" "$(date +%s%N)" 600)" != -1 ]
dnsperf -s 127.0.0.1 -d "$questions" -n 1 -t 10 -Q 2000 2>&1 | awk '/Queries completed/ {print $3}'
kill -TERM "$server" # the quit under callgrind takes a while; its counts are written at the end
wait "$server" || true
SH

printf '%-16s %-9s %10s %21s\n' build log questions instructions/question
for build in $builds; do
    for log in $logs; do
        folder=$work/program-$log
        program_folder "$folder" "$build" "$log" Wildcard
        answered=$(cd "$folder" && QT_QPA_PLATFORM=offscreen bash "$root/tests/support/sandbox.sh" \
            "$work/sandbox-$(basename "$build")-$log" bash "$work/inside.sh" "$here" "$prefix" "$work/questions" "$work/callgrind.out" \
            "$folder/tarnowlock" -silent)
        awk -v b="$(basename "$build")" -v l="$log" -v a="$answered" \
            '/^(summary|totals):/ {t = $2} END {printf "%-16s %-9s %10s %21.0f\n", b, l, a, t / a}' \
            "$work/callgrind.out"
        rm -f "$work/callgrind.out"*
    done
done
