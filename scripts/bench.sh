#!/bin/sh
# scripts/bench.sh [benchmark options...]: installs what is missing, builds Release in
# build/bench and runs every benchmark program in turn, passing the options on (for
# example --benchmark_repetitions=3). The figures and how to read them: bench/README.md.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/bench -DCMAKE_BUILD_TYPE=Release -DLUSTBUS_BUILD_TESTS=OFF
for b in build/bench/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" "$@"
done
