#!/bin/bash
# `cmake --install` into a staging folder: the files a Debian package holds, where it holds them,
# the polkit action naming the installed executable and keeping the display, the state folder.
#   tst_install.sh BUILD_DIR PREFIX INSTALLED_EXECUTABLE STATE_DIR
set -euo pipefail
build=$1 share=${2#/}/share executable=$3 state=${4#/}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" >/dev/null
cd "$stage"
expected=$(printf '%s\n' "${executable#/}" "$share/applications/tarnowlock.desktop" "$state/Tray.ico" \
    "$share/icons/hicolor/256x256/apps/tarnowlock.png" "$share/polkit-1/actions/org.tarnowlock.policy" \
    "$state/hosts/" "$state/log/" | sort)
actual=$({ find . -type f; find . -type d -empty -printf '%p/\n'; } | sed 's|^\./||' | sort)
diff <(echo "$expected") <(echo "$actual") || { echo "FAIL: installed files differ"; exit 1; }
[ -x ".$executable" ] &&
    grep -q "\"org.freedesktop.policykit.exec.path\">$executable<" "$share/polkit-1/actions/org.tarnowlock.policy" &&
    grep -q '"org.freedesktop.policykit.exec.allow_gui">true<' "$share/polkit-1/actions/org.tarnowlock.policy" &&
    grep -qx 'Exec=tarnowlock' "$share/applications/tarnowlock.desktop" || { echo "FAIL: contents"; exit 1; }
echo "PASS: $(wc -l <<<"$actual") paths installed where expected"
