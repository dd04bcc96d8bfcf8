#!/bin/bash
# The machine's lookup cost with big block lists: `getent ahosts` of a name in the lists (blocked)
# and of a name outside them (unruled, answered by dnsmasq on 127.0.0.2, the machine's upstream),
# with COUNT list lines ("0.0.0.0 name", as public block lists are), in two setups, each alone in
# the namespace sandbox (tests/support/sandbox.sh: an overlay on /etc, only loopback):
#   hosts file  the lines after the machine's own in /etc/hosts, resolv.conf naming the upstream
#               only: glibc reads the whole file at every lookup;
#   DNS server  the program with its lists in the DNS server: /etc/hosts keeps the machine's own
#               lines, the program answers the lists and points resolv.conf at itself before the
#               upstream, which glibc asks next when our server answers SERVFAIL (an unruled name).
# For each setup, count and name: the wall time of one `getent ahosts` (process start included) and
# the cost of glibc's getaddrinfo within a running process (bench/lookup.py), each the mean of CALLS
# calls; for the program, its start-up time until the first answer and its peak resident memory.
# Servers are pinned to core 1, lookups to core 0. Needs root, unshare, dnsmasq, python3, sqlite3
# and getent; the program from a build folder.
#   bench/lookup.sh [-b BUILD_DIR] [-r "100000 1000000"] [-n CALLS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=bench/common.sh
. "$here/common.sh"

if [ "${1:-}" = --inside ]; then
    # In the sandbox: SETUP LIST BLOCKED CALLS WORK [PROGRAM_FOLDER]
    setup=$2 list=$3 blocked=$4 calls=$5 work=$6 folder=${7:-}
    upstream=127.0.0.2 unruled=www.unruled.example unruled_address=192.0.2.1
    servers=()
    stop() {
        # The program first: it rolls its DNS change back at SIGTERM.
        for ((i = ${#servers[@]} - 1; i >= 0; --i)); do
            end_process "${servers[i]}"
        done
    }
    trap stop EXIT
    taskset -c 1 dnsmasq --keep-in-foreground --no-resolv --no-hosts --listen-address="$upstream" \
        --bind-interfaces --port=53 --user=root --pid-file= --log-facility="$work/dnsmasq-$setup.log" \
        --host-record="$unruled,$unruled_address" --local="/$unruled/" &
    servers+=($!)
    echo "nameserver $upstream" >/etc/resolv.conf
    for _ in $(seq 100); do
        getent ahosts "$unruled" >/dev/null && break
        sleep 0.1
    done
    startup=- peak=-
    if [ "$setup" = hosts-file ]; then
        machine=$(cat /etc/hosts)
        printf '%s\n' "$machine" | cat - "$list" >/etc/hosts
    else
        cd "$folder"
        start_ns=$(date +%s%N)
        QT_QPA_PLATFORM=offscreen taskset -c 1 ./tarnowlock -silent >/dev/null 2>&1 &
        servers+=($!)
        startup=$(python3 "$here/probe.py" "$blocked" "$start_ns" 120)
        [ "$startup" != -1 ] || { echo "lookup: the program answered no $blocked within 120 s" >&2; exit 1; }
        # Served: the machine's DNS pointed at the program, the lists out of the hosts file.
        served() {
            [ "$(awk '$1 == "nameserver" {print $2; exit}' /etc/resolv.conf)" = 127.0.0.1 ] &&
                ! grep -q -F " $blocked" /etc/hosts
        }
        for _ in $(seq 100); do
            served && break
            sleep 0.1
        done
        served || { echo "lookup: the program did not serve the lists (resolv.conf, /etc/hosts)" >&2; exit 1; }
    fi
    taskset -pc 0 $$ >/dev/null

    # The mean wall time of one `getent ahosts NAME` in milliseconds, once its first address is
    # ADDRESS.
    getent_ms() {
        local first start
        first=$(getent ahosts "$1" | awk '{print $1; exit}') || true
        [ "$first" = "$2" ] || { echo "lookup: getent ahosts $1 gives '$first', not $2" >&2; return 1; }
        start=$(date +%s%N)
        for ((i = 0; i < calls; ++i)); do
            getent ahosts "$1" >/dev/null
        done
        awk -v ns=$(($(date +%s%N) - start)) -v n="$calls" 'BEGIN {printf "%.3f", ns / n / 1e6}'
    }
    figures=()
    for pair in "$blocked 0.0.0.0" "$unruled $unruled_address"; do
        read -r name address <<<"$pair"
        wall=$(getent_ms "$name" "$address")
        call=$(python3 "$here/lookup.py" time "$name" "$address" "$calls")
        figures+=("$wall" "$call")
    done
    [ -z "$folder" ] || peak=$(awk '/VmHWM/ {print $2}' "/proc/${servers[1]}/status")
    echo "${figures[*]} $startup $peak"
    exit 0
fi

build=$root/build-perf
counts="100000 1000000"
calls=200
while getopts "b:r:n:" option; do
    case $option in
    b) build=$OPTARG ;;
    r) counts=$OPTARG ;;
    n) calls=$OPTARG ;;
    *) exit 2 ;;
    esac
done
[ -x "$build/tarnowlock" ] || { echo "no $build/tarnowlock: build the target tarnowlock first" >&2; exit 1; }

work=$(mktemp -d /tmp/tarnowlock-lookup.XXXXXX)
trap 'rm -rf "$work"' EXIT

printf '%-12s %8s | %-24s | %-24s | %10s %8s\n' "" "" "blocked name, ms/lookup" "unruled name, ms/lookup" \
    "program" ""
printf '%-12s %8s | %10s %13s | %10s %13s | %10s %8s\n' setup lines getent getaddrinfo getent getaddrinfo \
    startup_ms peak_MB
status=0
for count in $counts; do
    list=$work/list-$count.hosts
    blocked=$(python3 "$here/lookup.py" list "$count" "$list")
    for setup in hosts-file dns-server; do
        folder=
        if [ "$setup" = dns-server ]; then
            folder=$work/program
            program_folder "$folder" "$build" Off Wildcard "$list"
        fi
        if ! line=$(bash "$root/tests/support/sandbox.sh" "$work/sandbox-$setup-$count" \
            bash "$0" --inside "$setup" "$list" "$blocked" "$calls" "$work" ${folder:+"$folder"}); then
            printf '%-12s %8s | failed, see above\n' "${setup/-/ }" "$count"
            status=1
            continue
        fi
        read -r blocked_getent blocked_call unruled_getent unruled_call startup peak <<<"$line"
        [ "$peak" = - ] || peak=$(awk -v k="$peak" 'BEGIN {printf "%.1f", k / 1024}')
        printf '%-12s %8s | %10s %13s | %10s %13s | %10s %8s\n' "${setup/-/ }" "$count" "$blocked_getent" \
            "$blocked_call" "$unruled_getent" "$unruled_call" "$startup" "$peak"
    done
done
exit $status
