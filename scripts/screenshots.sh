#!/bin/bash
# Takes the README's screenshots under Xvfb: the main window with a running server, and the
# Options dialog. The program runs on sample lists in a temporary folder and a free loopback port.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
mkdir -p "$root/docs"
xvfb-run -a -s "-screen 0 1280x800x24" "${BUILD_DIR:-$root/build}/tarnowlock_screenshots" "$root/docs"
echo "screenshots: $root/docs/main-window.png $root/docs/options.png"
