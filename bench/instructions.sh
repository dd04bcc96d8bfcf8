#!/bin/bash
# Instructions per lookup, counted by callgrind: the lookup benchmarks of bench_rules on 1,000 names
# asked again and again, only the lookups counted (not the loading of the rules). Needs valgrind.
#   bench/instructions.sh [-b BUILD_DIR] [BENCHMARK_FILTER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$here")/build-perf
while getopts "b:" option; do
    case $option in
    b) build=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
filter=${1:-'BM_FindAnswer(IndexedRepeated/.*|Mix/.*/1000|Regex/.*/1000)$'}
bench=$build/bench/bench_rules
[ -x "$bench" ] || { echo "no $bench: build the target bench_rules first" >&2; exit 1; }

out=$(mktemp -d /tmp/tarnowlock-instructions.XXXXXX)
trap 'rm -rf "$out"' EXIT

printf '%-36s %12s %14s\n' benchmark lookups instructions/lookup
"$bench" --benchmark_list_tests --benchmark_filter="$filter" | while read -r name; do
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind" --collect-atstart=no \
        --toggle-collect='HostRules::findAnswer*' \
        "$bench" --benchmark_filter="^$name\$" --benchmark_min_time=0.05 >/dev/null 2>&1
    # The collected instructions, and the calls of findAnswer: a "calls=" line follows the line
    # that names the function called (by its number, once given with its name).
    python3 - "$out/callgrind" "$name" <<'PY'
import re, sys
names, called, calls, total = {}, None, 0, 0
for line in open(sys.argv[1]):
    if line.startswith(("summary:", "totals:")):
        total = int(line.split()[1])
    found = re.match(r"cfn=\((\d+)\)(?: (.*))?", line)
    if found:
        if found.group(2):
            names[found.group(1)] = found.group(2)
        called = names.get(found.group(1), "")
        continue
    if line.startswith("calls=") and called and called.startswith("HostRules::findAnswer"):
        calls += int(line[6:].split()[0])
    if not line.startswith("calls="):
        called = None
    defined = re.match(r"fn=\((\d+)\) (.*)", line)
    if defined:
        names[defined.group(1)] = defined.group(2)
print("%-36s %12d %14.0f" % (sys.argv[2], calls, total / calls if calls else float("nan")))
PY
done
