#!/bin/sh
# Simple reads per second against the minimal responder on one pseudo-terminal. Each
# round runs, one after the other: the minimal blocking master, the same master with
# the system calls that the driver's rules and watch add (the floor for the stack),
# and `lustbus watch INT16:12 --interval 0 --port` with its CSV lines in a file. The
# rate of a run moves with the machine from second to second, so each round is
# compared with itself; prints every round and the medians of the shares.
# Throughput figures: take them on a quiet machine only.
#   bench/lean/rate.sh BUILD_DIR [SECONDS [ROUNDS]]
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-3}
rounds=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill ${responder:-} 2>/dev/null; rm -rf "$work"' EXIT

# shellcheck source-path=SCRIPTDIR source=responder.sh
. "$here/responder.sh"
lean_start_responder master

round=0
while [ "$round" -lt "$rounds" ]; do
    round=$((round + 1))
    master=$("$work/master" "$pty" "$seconds")
    floor=$("$work/master" "$pty" "$seconds" "$work/floor.out")
    "$build/cli/lustbus" watch INT16:12 --interval 0 --duration "$seconds" --port "$pty" \
        >"$work/watch.out" 2>/dev/null
    lines=$(grep -c ',INT16:12,42,' "$work/watch.out")
    echo "$round $master $floor $lines $seconds"
done | awk '{
        stack = $4 / $5
        printf "round %d: master %d, floor %d, watch %d simple reads per second: " \
               "floor %.2f, watch %.2f of the master\n", $1, $2, $3, stack, $3 / $2, stack / $2
        floor[NR] = $3 / $2; watch[NR] = stack / $2
    }
    function median(a, n,    i, j, t) {
        for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j)
            if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END { printf "medians: floor %.2f, watch %.2f of the master\n", median(floor, NR), median(watch, NR) }'
