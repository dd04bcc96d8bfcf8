#!/bin/bash
# Installs what is missing, builds, and runs the whole test suite through CTest. Tests that start
# the real program run it inside private namespaces (tests/support/sandbox.sh), never against
# this machine's own /etc files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$@"
ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j"$(nproc)"
