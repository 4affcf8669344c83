#!/bin/sh
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            Qt 5 and Qt 6
#   scripts/test.sh qt5|qt6    one of them
#   scripts/test.sh sanitize   Qt 5 with AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/test.sh thread     Qt 5 with ThreadSanitizer, the tests that run threads
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

run() {
    name=$1
    shift
    echo "== $name: build"
    scripts/build.sh "build/$name" "$@"
    echo "== $name: test"
    # shellcheck disable=SC2086
    ctest --test-dir "build/$name" --output-on-failure -j"$(nproc)" ${CTEST_FILTER:-}
}

case "${1:-all}" in
    all) run qt5; run qt6 -DLUSTBUS_QT6=ON ;;
    qt5) run qt5 ;;
    qt6) run qt6 -DLUSTBUS_QT6=ON ;;
    sanitize)
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run sanitize -DLUSTBUS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug ;;
    thread)
        # Qt's own libraries are not instrumented: only the suites whose threads share
        # our code run here, the others would only slow the run down.
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
        CTEST_FILTER="-R Concurrent|Parallel|SimulatedBus|Web|Bridge|Sparkplug|Discovery" run thread -DLUSTBUS_TSAN=ON \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    *) echo "usage: scripts/test.sh [all|qt5|qt6|sanitize|thread]" >&2; exit 2 ;;
esac
