# shellcheck shell=sh disable=SC2034,SC2154
# Sourced by the lean scripts, after they made $work and set their trap: builds the
# minimal responder and the C programs named (from this folder, into $work), starts the
# responder on a new pseudo-terminal and sets $responder and $pty.
#   lean_start_responder [PROGRAM...]
lean_start_responder() {
    for program in responder "$@"; do
        cc -O2 -o "$work/$program" "$here/$program.c"
    done
    "$work/responder" >"$work/pty" &
    responder=$!
    while [ ! -s "$work/pty" ]; do sleep 0.05; done
    pty=$(cat "$work/pty")
}
