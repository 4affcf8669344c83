#!/bin/sh
# scripts/build.sh DIR [cmake options...]: configures and builds into DIR.
set -eu
dir=$1
shift
cmake -S . -B "$dir" -DLUSTBUS_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
