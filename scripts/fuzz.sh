#!/bin/bash
# Builds the libFuzzer targets with clang against the core library and runs each for $FUZZ_SECONDS
# (60 by default) from the seed corpus; new inputs go to a scratch folder, not into fuzz/corpus.
# Any crash, leak or sanitizer report fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNOWLOCK_FUZZ=ON -DTARNOWLOCK_TESTS=OFF -DTARNOWLOCK_WERROR=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_dns_message fuzz_hosts_line fuzz_rule_lookup
status=0
for target in dns_message hosts_line rule_lookup; do
    scratch=$(mktemp -d)
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$scratch/" "$scratch" "$root/fuzz/corpus/$target" >"$scratch.log" 2>&1; then
        echo "fuzz: ok   $target ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$scratch.log" | grep -o '[0-9]*$') runs)"
    else
        echo "fuzz: FAIL $target"
        tail -40 "$scratch.log"
        status=1
    fi
    rm -rf "$scratch" "$scratch.log"
done
exit $status
