#!/bin/sh
# scripts/fuzz.sh [SECONDS]: builds the libFuzzer harnesses with clang (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for SECONDS (default 12) on its seed
# corpus in fuzz/corpus/NAME. A crash, leak, timeout or out-of-memory fails the run; the
# input is left in build/fuzz/ (crash-*, leak-*, timeout-*, oom-*). New inputs go to
# build/fuzz/corpus/NAME, not to the seeds.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-12}
EXTRA_PACKAGES="clang libclang-rt-14-dev" scripts/install-deps.sh
harnesses="fuzz_replies fuzz_requests fuzz_addresses fuzz_settings fuzz_packer fuzz_segmentbuffer
  fuzz_catalogue"
cmake -S . -B build/fuzz -DLUSTBUS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# shellcheck disable=SC2086
cmake --build build/fuzz -j"$(nproc)" --target $harnesses
# Full stacks on every allocation, so that the leak suppressions in scripts/lsan.supp
# (Qt's own) can see the Qt function a leak comes from.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
rm -f build/fuzz/crash-* build/fuzz/leak-* build/fuzz/timeout-* build/fuzz/oom-*
status=0
for h in $harnesses; do
    mkdir -p "build/fuzz/corpus/$h"
    echo "== $h: ${seconds}s"
    # A crash, leak, timeout or out-of-memory stops the fuzzer with a non-zero status
    # and leaves the input behind in build/fuzz/.
    if (cd build/fuzz && "./fuzz/$h" -max_total_time="$seconds" -print_final_stats=0 \
            -rss_limit_mb=1024 -timeout=10 "corpus/$h" "../../fuzz/corpus/$h" \
            >"$h.log" 2>&1); then
        tail -n 2 "build/fuzz/$h.log"
    else
        tail -n 40 "build/fuzz/$h.log"
        echo "$h found a failing input:" build/fuzz/crash-* build/fuzz/leak-* \
            build/fuzz/timeout-* build/fuzz/oom-* 2>/dev/null
        status=1
    fi
done
exit $status
