#!/bin/bash
# Tries the Debian package as a new user would, inside the namespace sandbox with overlays over /etc,
# /usr and /var (this machine's own files stay as they are): apt-get installs it, the program
# starts from its desktop entry and keeps its files in /var/lib/tarnowlock, and removing the package
# leaves resolv.conf as it was, after a kill (the recorded change is rolled back) and with the
# program running (it is ended and rolls back itself); purge deletes the state folder. A removal that
# cannot undo the change (resolv.conf read-only, a copy that does not end) fails and keeps the package
# and its record, and succeeds once the obstacle is gone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ -n "$(ls "$root"/build-deb/tarnowlock_*.deb 2>/dev/null)" ] || bash "$root/scripts/package.sh" >/dev/null
deb=$(ls "$root"/build-deb/tarnowlock_*.deb | tail -1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen DEBIAN_FRONTEND=noninteractive
bash "$root/tests/support/sandbox.sh" "$work" bash -euo pipefail -c '
    deb=$1 work=$2 state=/var/lib/tarnowlock
    for dir in usr var; do # the sandbox has /etc overlaid; the package writes here too
        mkdir -p "$work/upper-$dir" "$work/work-$dir"
        mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$work/upper-$dir,workdir=$work/work-$dir" "/$dir"
    done
    fail() { echo "try-package: FAILED: $*"; exit 1; }
    wait_for() { for _ in $(seq 200); do eval "$1" && return 0; sleep 0.1; done; fail "$2"; }
    printf "search example.internal\nnameserver 192.0.2.53\n" >/etc/resolv.conf
    cp /etc/resolv.conf /tmp/resolv.conf.before
    start() {
        # The menu entry as root: pkexec would run the program itself (no polkit daemon runs here).
        command=$(sed -n "0,/^Exec=/s/^Exec=pkexec //p" /usr/share/applications/tarnowlock.desktop)
        $command >/dev/null 2>&1 &
        pid=$!
        wait_for "grep -q \"^nameserver 127.0.0.1\" /etc/resolv.conf" "the program did not point resolv.conf at itself"
    }
    refused() { # the removal must fail with message $2 and keep the package and the record
        apt-get remove -y -q tarnowlock >/tmp/removal 2>&1 && fail "apt-get remove $1 succeeded"
        grep -q "$2" /tmp/removal || fail "no message \"$2\" $1"
        [ -x /usr/bin/tarnowlock ] && [ -e $state/DNS ] || fail "apt-get remove $1 left no way back"
    }
    apt-get install -y -q "$deb" >/dev/null || fail "apt-get install"
    for path in /usr/bin/tarnowlock /usr/share/polkit-1/actions/org.tarnowlock.policy $state/hosts $state/log; do
        [ -e $path ] || fail "$path not installed"
    done
    start
    [ -e $state/settings ] && [ -e $state/hosts/default.hosts ] && [ -e $state/DNS ] || fail "no working files in $state"
    [ ! -e /usr/bin/settings ] && [ ! -e /usr/bin/hosts ] || fail "working files in /usr/bin"
    kill -KILL $pid; wait $pid 2>/dev/null || true
    mount --bind /etc/resolv.conf /etc/resolv.conf && mount -o remount,ro,bind /etc/resolv.conf
    refused "with resolv.conf read-only" "could not be rolled back"
    umount /etc/resolv.conf
    apt-get remove -y -q tarnowlock >/dev/null || fail "apt-get remove after a kill"
    cmp /etc/resolv.conf /tmp/resolv.conf.before || fail "resolv.conf not rolled back after a kill"
    [ -e $state/settings ] || fail "removal lost the settings"
    apt-get install -y -q "$deb" >/dev/null || fail "apt-get install again"
    start
    apt-get remove -y -q tarnowlock >/dev/null || fail "apt-get remove while running"
    cmp /etc/resolv.conf /tmp/resolv.conf.before || fail "resolv.conf not rolled back by the running program"
    ls $state/log/*.log >/dev/null 2>&1 || fail "the running program did not save its log"
    apt-get install -y -q "$deb" >/dev/null || fail "apt-get install a third time"
    start
    kill -STOP $pid
    refused "with a stopped copy" "pid $pid) did not end"
    kill -CONT $pid; wait $pid 2>/dev/null || true # it ends on the SIGTERM it kept
    apt-get remove -y -q tarnowlock >/dev/null || fail "apt-get remove once the copy ended"
    cmp /etc/resolv.conf /tmp/resolv.conf.before || fail "resolv.conf not rolled back once the copy ended"
    apt-get purge -y -q tarnowlock >/dev/null || fail "apt-get purge"
    [ ! -e $state ] || fail "purge left $state"
    echo "try-package: passed"' try-package "$deb" "$work"
