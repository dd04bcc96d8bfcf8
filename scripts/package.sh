#!/bin/bash
# Builds the Debian package: a Release build for the prefix /usr (the executable in /usr/bin, its
# working files in /var/lib/tarnowlock), packed by cpack into build-deb/tarnowlock_*.deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
BUILD_DIR=${BUILD_DIR:-$root/build-deb} BUILD_TYPE=Release bash "$root/scripts/build.sh" \
    -DCMAKE_INSTALL_PREFIX=/usr -DTARNOWLOCK_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
cd "${BUILD_DIR:-$root/build-deb}"
cpack -G DEB
ls "$PWD"/tarnowlock_*.deb
