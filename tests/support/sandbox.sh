#!/bin/bash
# Runs a command in private mount and network namespaces, with only loopback (up) and an overlay over
# /etc whose changes land in WORKDIR/upper: it may bind loopback ports and rewrite /etc freely.
#   sandbox.sh WORKDIR COMMAND [ARGUMENT...]     exit code 77: no sandbox here (not root, no unshare),
#                                                which CTest shows as skipped; 1 in CI (CI=true) instead
set -euo pipefail
work=$1; shift
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "sandbox: needs root and unshare" >&2
    [ "${CI:-}" != true ] || exit 1 # CI must run every test
    exit 77
fi
mkdir -p "$work/upper" "$work/work"
chmod --reference=/etc "$work/upper" # the overlaid /etc takes its mode, whatever the umask
exec unshare --mount --net --propagation private -- bash -c '
    set -e
    work=$1; shift
    ip link set lo up
    mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/upper,workdir=$work/work" /etc
    # A resolv.conf linking out of /etc (systemd-resolved) would be written through to the real one.
    if [ -L /etc/resolv.conf ]; then
        content=$(cat /etc/resolv.conf 2>/dev/null || true)
        rm /etc/resolv.conf
        printf "%s\n" "$content" >/etc/resolv.conf
    fi
    exec "$@"' sandbox "$work" "$@"
