#!/bin/bash
# Configures and builds into build/ (or $BUILD_DIR); extra arguments go to cmake's configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DTARNOWLOCK_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
