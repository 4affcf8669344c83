#!/bin/sh
# System calls and voluntary context switches (the thread's wake-ups) per simple read
# of `lustbus watch INT16:12 --interval 0` against the minimal responder on a
# pseudo-terminal: once straight over --port, once relayed by `lustbus gateway`
# (counted in the gateway's process). Counts do not depend on the machine's load.
# Then, without strace, the gateway's CPU time and wake-ups per relayed exchange, summed
# over its threads from /proc (schedstat has nanoseconds); CPU time does depend on the
# machine: take it on a quiet one. The same for the minimal relay in C (lean/relay.c),
# the least that a relayed exchange can cost a process on this machine.
#   bench/lean/syscalls.sh BUILD_DIR [SECONDS]
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-2}
here=$(cd "$(dirname "$0")" && pwd)
lustbus=$build/cli/lustbus
work=$(mktemp -d)
trap 'kill ${responder:-} ${gateway:-} ${relay:-} 2>/dev/null; rm -rf "$work"' EXIT

# shellcheck source-path=SCRIPTDIR source=responder.sh
. "$here/responder.sh"
lean_start_responder relay

# $1: strace summary, $2: exchanges, $3: label
report() {
    awk -v n="$2" -v label="$3" '
        $NF ~ /^[a-z_0-9]+$/ && $4 ~ /^[0-9]+$/ && $NF != "total" {
            calls[$NF] = $4; total += $4
        }
        END {
            printf "%s: %d exchanges, %.2f system calls each:", label, n, total / n
            for (c in calls) if (calls[c] / n >= 0.05) printf " %s %.2f", c, calls[c] / n
            printf "\n"
        }' "$1"
}
switches() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/status"; }

strace -f -c -o "$work/watch.strace" \
    "$lustbus" watch INT16:12 --interval 0 --duration "$seconds" --port "$pty" \
    >"$work/watch.out" 2>/dev/null
report "$work/watch.strace" "$(grep -c ',INT16:12,42,' "$work/watch.out")" "watch --port"

/usr/bin/time -f '%w' -o "$work/watch.time" \
    "$lustbus" watch INT16:12 --interval 0 --duration "$seconds" --port "$pty" \
    >"$work/watch.out" 2>/dev/null
echo "watch --port: $(awk -v n="$(grep -c ',INT16:12,42,' "$work/watch.out")" \
    '{ printf "%.2f", $1 / n }' "$work/watch.time") voluntary context switches per exchange"

strace -f -c -o "$work/gateway.strace" "$lustbus" gateway --port "$pty" --listen 127.0.0.1:0 \
    >"$work/gateway.out" 2>/dev/null &
gateway=$!
while ! grep -q 'listening on tcp' "$work/gateway.out" 2>/dev/null; do sleep 0.05; done
endpoint=$(sed -n 's/.*listening on tcp \([^ ]*\).*/\1/p' "$work/gateway.out" | head -n 1)
"$lustbus" watch INT16:12 --interval 0 --duration "$seconds" --tcp "$endpoint" \
    >"$work/relay.out" 2>/dev/null
kill -TERM "$(pgrep -P $gateway)" # the gateway itself, not strace
wait $gateway || true
gateway=
report "$work/gateway.strace" "$(grep -c ',INT16:12,42,' "$work/relay.out")" "gateway relay"

# $1: process id; prints "CPU-ns voluntary-switches" summed over its threads.
threadsum() {
    cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1 } END { printf "%d ", ns }'
    cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'
}
"$lustbus" gateway --port "$pty" --listen 127.0.0.1:0 >"$work/gateway.out" 2>/dev/null &
gateway=$!
while ! grep -q 'listening on tcp' "$work/gateway.out" 2>/dev/null; do sleep 0.05; done
endpoint=$(sed -n 's/.*listening on tcp \([^ ]*\).*/\1/p' "$work/gateway.out" | head -n 1)
before=$(threadsum $gateway)
"$lustbus" watch INT16:12 --interval 0 --duration "$seconds" --tcp "$endpoint" \
    >"$work/relay.out" 2>/dev/null
after=$(threadsum $gateway)
kill -TERM $gateway
wait $gateway || true
gateway=
echo "$before $after $(grep -c ',INT16:12,42,' "$work/relay.out")" | awk '{
    printf "gateway relay: %d exchanges, %.1f us of CPU and %.2f voluntary context switches each\n",
           $5, ($3 - $1) / $5 / 1000, ($4 - $2) / $5 }'

"$work/relay" "$pty" >"$work/relay.port" &
relay=$!
while [ ! -s "$work/relay.port" ]; do sleep 0.05; done
before=$(threadsum $relay)
"$lustbus" watch INT16:12 --interval 0 --duration "$seconds" --tcp "127.0.0.1:$(cat "$work/relay.port")" \
    >"$work/relay.out" 2>/dev/null
after=$(threadsum $relay)
kill $relay
wait $relay || true
relay=
echo "$before $after $(grep -c ',INT16:12,42,' "$work/relay.out")" | awk '{
    printf "minimal relay: %d exchanges, %.1f us of CPU and %.2f voluntary context switches each\n",
           $5, ($3 - $1) / $5 / 1000, ($4 - $2) / $5 }'
