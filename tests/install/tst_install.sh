#!/bin/bash
# `cmake --install` into a staging folder: the files a Debian package holds, where it holds them,
# the polkit action naming the installed executable and keeping the display, the state folder; then
# the package's maintainer scripts on them. Exit code 77: no sandbox here.
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
    grep -q '<action id="org.tarnowlock.run">' "$share/polkit-1/actions/org.tarnowlock.policy" &&
    # The menu entry asks for the rights first; its action starts the program without them.
    [ "$(grep '^Exec=\|^Actions=\|^\[' "$share/applications/tarnowlock.desktop")" = "[Desktop Entry]
Exec=pkexec $executable
Actions=without-rights;
[Desktop Action without-rights]
Exec=tarnowlock" ] || { echo "FAIL: contents"; exit 1; }
# The maintainer scripts as dpkg runs them, on the staged tree put in its place in the sandbox (and
# process ids of its own: no other test's copy counts as running). A removal rolls the recorded DNS
# change back, or fails and keeps the record; a purge deletes the state folder but a record left.
[[ /$state/ == "$2"/* ]] || { echo "FAIL: the state folder lies outside the prefix"; exit 1; }
bash "$(dirname "$0")/../support/sandbox.sh" "$stage/sandbox" unshare --pid --fork --mount-proc bash -euo pipefail -c '
    scripts=$1/packaging state=$2
    mount --bind "$PWD$3" "$3"
    fail() { echo "FAIL: $*"; exit 1; }
    rmdir "$state/hosts" && chmod 700 "$state"
    "$scripts/postinst" configure && [ -d "$state/hosts" ] && [ "$(stat -c %a "$state")" = 755 ] || fail postinst
    printf "nameserver 127.0.0.1\nnameserver 192.0.2.53\n" >/etc/resolv.conf
    echo "/etc/resolv.conf 192.0.2.53" >"$state/DNS"
    mount --bind -o ro /etc/resolv.conf /etc/resolv.conf
    ! "$scripts/prerm" remove && [ -e "$state/DNS" ] || fail "prerm went on, DNS not rolled back"
    "$scripts/postrm" purge && [ "$(ls "$state")" = DNS ] || fail "postrm purge did not keep the DNS record alone"
    umount /etc/resolv.conf
    "$scripts/prerm" remove && [ "$(cat /etc/resolv.conf)" = "nameserver 192.0.2.53" ] || fail "prerm remove"
    "$scripts/postrm" purge && [ ! -e "$state" ] || fail "postrm purge left $state"' check "$build" "/$state" "$2"
echo "PASS: $(wc -l <<<"$actual") paths installed where expected, maintainer scripts"
