#!/bin/bash
# Installs what is missing, builds, and starts Tarnowlock. Without a display it starts with Qt's
# offscreen platform: it then runs (DNS server, log) with no visible window; Ctrl+C quits it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display found; starting with the offscreen platform (no window is shown; Ctrl+C quits)"
    export QT_QPA_PLATFORM=offscreen
fi
mkdir -p "$root/build/log"
exec "$root/build/tarnowlock" "$@"
