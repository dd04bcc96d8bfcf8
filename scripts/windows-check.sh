#!/bin/bash
# Compiles every source of the Windows executable with MinGW-w64 (syntax only, _WIN32 and so Q_OS_WIN
# defined) against the Qt 6 headers: the Windows implementation keeps compiling although it is built
# on Windows alone, and a Linux-only call reachable on Windows fails here. The resource script is
# compiled with windres.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
qt=/usr/include/x86_64-linux-gnu/qt6
compiler=x86_64-w64-mingw32-g++-posix
windres=x86_64-w64-mingw32-windres
for tool in "$compiler" "$windres"; do
    command -v "$tool" >/dev/null || { echo "windows-check: no $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
# Everything CMake builds into the Windows executable: all our sources but the Linux implementation.
mapfile -t sources < <(cd "$root" && find app dns log options platform settings -name '*.cpp' \
    ! -name 'Linux*' | sort)
sources+=(resources/tarnowlock.rc)
flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Wpedantic -Werror -DUNICODE -D_UNICODE -fPIC
    -DQT_NO_CAST_FROM_BYTEARRAY -DQT_NO_URL_CAST_FROM_STRING
    '-DTARNOWLOCK_INSTALL_BINDIR="C:/Tarnowlock/bin"' '-DTARNOWLOCK_STATE_DIR="C:/Tarnowlock/var/lib/tarnowlock"'
    -I"$root" -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtNetwork" -isystem "$qt/QtGui"
    -isystem "$qt/QtWidgets" -isystem "$qt/QtSql" -isystem "$qt/QtCore5Compat"
    -isystem /usr/lib/x86_64-linux-gnu/qt6/mkspecs/win32-g++)
check() {
    local command=("$compiler" "${flags[@]}" "$root/$1")
    [[ $1 == *.rc ]] && command=("$windres" -i "$root/$1" -o "$1.o")
    if "${command[@]}" 2>"$1.windows-check.log"; then
        echo "windows-check: ok   $1"
    else
        echo "windows-check: FAIL $1"
        cat "$1.windows-check.log"
    fi
    rm -f "$1.windows-check.log"
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir -p app dns log options platform settings resources
export -f check
export compiler windres root
export flags_text="${flags[*]}"
status=0
printf '%s\n' "${sources[@]}" | xargs -P"$(nproc)" -I{} bash -c 'flags=($flags_text); check "$1"' _ {} \
    | tee results.txt
if grep -q FAIL results.txt; then
    status=1
fi
echo "windows-check: ${#sources[@]} sources, $(grep -c FAIL results.txt || true) failed"
exit $status
