#!/bin/bash
# Installs, from Debian 12's packages, everything the build, the tests, the end-to-end tests and
# the benchmarks need. Idempotent: with everything present it changes nothing and downloads nothing.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-5compat-dev libqt6sql6-sqlite qt6-qpa-plugins
    # tests: the namespace sandbox, real DNS clients, a display for screenshots
    util-linux iproute2 e2fsprogs procps bind9-dnsutils dnsperf xvfb xauth x11-utils sqlite3
    # the Debian package: its library scan, and the elevation tool it depends on
    dpkg-dev pkexec
    # benchmarks and fuzzing: dnsmasq's binary only (the dnsmasq package would start a system
    # service on port 53), Google Benchmark, clang with its sanitizer and fuzzer runtimes
    dnsmasq-base libbenchmark-dev clang-14 libclang-rt-14-dev valgrind python3
    # the Windows compile check: the compiler, and windres for the resource script
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
