#!/bin/bash
# Takes the README's screenshots under Xvfb: the main window with a running server, and the
# Options dialog. The program runs on sample lists in a temporary folder and a free loopback port,
# inside the namespace sandbox: the lists it would fetch at start never reach the network.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
cmake --build "$build" --target tarnowlock_screenshots >/dev/null
mkdir -p "$root/docs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/tests/support/sandbox.sh" "$work" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/tarnowlock_screenshots" "$root/docs"
echo "screenshots: $root/docs/main-window.png $root/docs/options.png"
