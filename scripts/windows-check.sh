#!/bin/bash
# Compiles every Windows-only source with MinGW-w64 (syntax only) against the Qt 6 headers, so the
# Windows implementation keeps compiling although it is built on Windows alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
qt=/usr/include/x86_64-linux-gnu/qt6
compiler=x86_64-w64-mingw32-g++-posix
# The Windows implementation, and every other source with a Windows branch.
mapfile -t sources < <(cd "$root" && { ls platform/Windows*.cpp; grep -rl --include='*.cpp' 'Q_OS_WIN' app dns log options platform settings; } | sort -u)
flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -fPIC
    -I"$root" -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtNetwork" -isystem "$qt/QtGui"
    -isystem "$qt/QtWidgets" -isystem "$qt/QtSql" -isystem "$qt/QtCore5Compat"
    -isystem /usr/lib/x86_64-linux-gnu/qt6/mkspecs/win32-g++)
status=0
for source in "${sources[@]}"; do
    if "$compiler" "${flags[@]}" "$root/$source"; then
        echo "windows-check: ok   $source"
    else
        echo "windows-check: FAIL $source"
        status=1
    fi
done
exit $status
