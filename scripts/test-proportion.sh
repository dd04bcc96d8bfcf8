#!/bin/bash
# Counts lines (wc -l, blank lines included) of the program (app/ settings/ dns/ options/ log/
# platform/, .cpp and .h) and of the tests (tests/ and fuzz/: .cpp .h .sh .py; the seed corpus is
# data) and fails when the tests pass 0.40 of the program.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$@" -type f | sort | xargs cat | wc -l; }
program=$(count app settings dns options log platform \( -name '*.cpp' -o -name '*.h' \))
tests=$(count tests fuzz \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \))
ratio=$(awk -v t="$tests" -v p="$program" 'BEGIN { printf "%.3f", t / p }')
echo "test-proportion: $tests lines of tests for $program lines of program: $ratio (at most 0.400)"
awk -v t="$tests" -v p="$program" 'BEGIN { exit !(t <= 0.4 * p) }'
