#!/bin/sh
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            Qt 5 and Qt 6
#   scripts/test.sh qt5|qt6    one of them
#   scripts/test.sh sanitize   Qt 5 with AddressSanitizer and UndefinedBehaviorSanitizer
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

run() {
    name=$1
    shift
    echo "== $name: build"
    scripts/build.sh "build/$name" "$@"
    echo "== $name: test"
    ctest --test-dir "build/$name" --output-on-failure -j"$(nproc)"
}

case "${1:-all}" in
    all) run qt5; run qt6 -DLUSTBUS_QT6=ON ;;
    qt5) run qt5 ;;
    qt6) run qt6 -DLUSTBUS_QT6=ON ;;
    sanitize)
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run sanitize -DLUSTBUS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug ;;
    *) echo "usage: scripts/test.sh [all|qt5|qt6|sanitize]" >&2; exit 2 ;;
esac
