#!/bin/bash
# Runs a command where it may change /etc and bind loopback ports without touching this machine:
# in private mount and network namespaces, with an overlay over /etc (changes land in WORKDIR/upper)
# and only the loopback interface, brought up.
#   sandbox.sh WORKDIR COMMAND [ARGUMENT...]
# Exit code 77: the sandbox cannot be made here (not root, or no unshare).
set -euo pipefail
work=$1
shift
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "sandbox: needs root and unshare" >&2
    exit 77
fi
mkdir -p "$work/upper" "$work/work"
exec unshare --mount --net --propagation private -- bash -c '
    set -e
    work=$1
    shift
    ip link set lo up
    mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/upper,workdir=$work/work" /etc
    # A resolv.conf that links out of /etc (systemd-resolved) would be written through to the
    # real one: replace the link by a plain copy inside the overlay.
    if [ -L /etc/resolv.conf ]; then
        content=$(cat /etc/resolv.conf 2>/dev/null || true)
        rm /etc/resolv.conf
        printf "%s\n" "$content" >/etc/resolv.conf
    fi
    exec "$@"' sandbox "$work" "$@"
