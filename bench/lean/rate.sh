#!/bin/sh
# Simple reads per second against the minimal responder on one pseudo-terminal, in one
# run: the minimal blocking master, then `lustbus watch INT16:12 --interval 0 --port`,
# then the master again; prints both rates and the stack's share of the master's.
# Throughput figures: take them on a quiet machine only.
#   bench/lean/rate.sh BUILD_DIR [SECONDS]
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill $responder 2>/dev/null; rm -rf "$work"' EXIT

cc -O2 -o "$work/responder" "$here/responder.c"
cc -O2 -o "$work/master" "$here/master.c"
"$work/responder" >"$work/pty" &
responder=$!
while [ ! -s "$work/pty" ]; do sleep 0.05; done
pty=$(cat "$work/pty")

first=$("$work/master" "$pty" "$seconds")
"$build/cli/lustbus" watch INT16:12 --interval 0 --duration "$seconds" --port "$pty" \
    >"$work/watch.out" 2>/dev/null
second=$("$work/master" "$pty" "$seconds")
awk -v a="$first" -v b="$second" -v n="$(grep -c ',INT16:12,42,' "$work/watch.out")" \
    -v s="$seconds" 'BEGIN {
        master = (a + b) / 2; stack = n / s
        printf "master %d and %d, stack %d simple reads per second: %.2f of the master\n",
               a, b, stack, stack / master
    }'
