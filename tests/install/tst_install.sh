#!/bin/bash
# `cmake --install` of the build into a staging folder: the files a Debian package holds, where it
# holds them, the polkit action naming the installed executable, the state folder ready to use.
#   tst_install.sh BUILD_DIR PREFIX INSTALLED_EXECUTABLE STATE_DIR
set -euo pipefail
build=$1 prefix=$2 executable=$3 state=$4
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" >/dev/null

expected=$(sort <<LIST
${executable#/}
${prefix#/}/share/applications/tarnowlock.desktop
${prefix#/}/share/icons/hicolor/256x256/apps/tarnowlock.png
${prefix#/}/share/polkit-1/actions/org.tarnowlock.policy
${state#/}/Tray.ico
${state#/}/hosts/
${state#/}/log/
LIST
)
# Files, and folders without files (the state folder's own).
actual=$(cd "$stage" && { find . -type f; find . -type d -empty -printf '%p/\n'; } | sed 's|^\./||' | sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: installed files differ"; diff <(echo "$expected") <(echo "$actual"); exit 1
fi
[ -x "$stage$executable" ] || { echo "FAIL: $executable is not executable"; exit 1; }
policy=$stage$prefix/share/polkit-1/actions/org.tarnowlock.policy
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$executable</annotate>" "$policy" ||
    { echo "FAIL: the polkit action does not name $executable"; exit 1; }
grep -q '<annotate key="org.freedesktop.policykit.exec.allow_gui">true</annotate>' "$policy" ||
    { echo "FAIL: the polkit action does not keep the display"; exit 1; }
grep -qx 'Exec=tarnowlock' "$stage$prefix/share/applications/tarnowlock.desktop" ||
    { echo "FAIL: the desktop entry does not start tarnowlock"; exit 1; }
echo "PASS: $(wc -l <<<"$actual") paths installed where expected"
