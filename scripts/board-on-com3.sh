# shellcheck shell=bash disable=SC2154  # $bin comes from the script that sources this file.
# Sourced by the scripts that run a program against the simulated board (demo, bench, run,
# screenshots). Needs $bin, the folder of the built programs.

# board_prepare NAME PROGRAM...: stops unless tervix-sim and every PROGRAM are built, then makes
# the temporary folder $work. The board and $work go on every exit, also on Ctrl-C. NAME prefixes
# the messages and names the folder.
board_prepare() {
    board_name=$1
    shift
    local program
    for program in "$@" tervix-sim; do
        if [ ! -x "$bin/$program" ]; then
            echo "$board_name: $bin/$program is missing; run make build first" >&2
            exit 1
        fi
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/tervix-$board_name.XXXXXX")
    sim_pid=
    more_pids=()
    trap board_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

board_cleanup() {
    local pid
    for pid in $sim_pid "${more_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}

# board_start [SIM_OPTION...]: starts tervix-sim on a pseudo-terminal linked as COM3 in a ports
# folder of its own under $work, and exports TERVIX_PORTS so that the port scan sees that folder
# as the whole map and touches no real serial port. The board's output goes to $work/sim.out and
# $work/sim.err.
board_start() {
    mkdir -p "$work/ports"
    "$bin/tervix-sim" --link "$work/ports/COM3" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$work/ports/COM3" ] && break
        if ! kill -0 "$sim_pid" 2>/dev/null; then
            echo "$board_name: the simulated board did not start:" >&2
            cat "$work/sim.err" >&2
            exit 1
        fi
        sleep 0.1
    done
    if [ ! -e "$work/ports/COM3" ]; then
        echo "$board_name: the simulated board did not appear as COM3" >&2
        exit 1
    fi
    export TERVIX_PORTS="$work/ports"
}

# boards_start NAME... -- [SIM_OPTION...]: one more board per NAME (COM4, ...) in the ports
# folder, with the same options; its output goes to $work/NAME.out and $work/NAME.err. Exports
# TERVIX_PORTS like board_start. Ended by boards_stop or on exit.
boards_start() {
    local names=() name
    while [ "$#" -gt 0 ] && [ "$1" != -- ]; do
        names+=("$1")
        shift
    done
    [ "$#" -gt 0 ] && shift
    mkdir -p "$work/ports"
    for name in "${names[@]}"; do
        "$bin/tervix-sim" --link "$work/ports/$name" "$@" >"$work/$name.out" \
            2>"$work/$name.err" &
        more_pids+=("$!")
    done
    for name in "${names[@]}"; do
        for _ in $(seq 100); do
            [ -e "$work/ports/$name" ] && break
            sleep 0.1
        done
        if [ ! -e "$work/ports/$name" ]; then
            echo "$board_name: the simulated board did not appear as $name:" >&2
            cat "$work/$name.err" >&2
            exit 1
        fi
    done
    export TERVIX_PORTS="$work/ports"
}

# boards_stop: ends the boards of boards_start; returns non-zero if one did not end cleanly.
boards_stop() {
    local status=0 pid
    for pid in "${more_pids[@]}"; do
        kill -TERM "$pid"
        wait "$pid" || status=$?
    done
    more_pids=()
    return "$status"
}

# board_stop: ends the board, which makes it write what --dump and --stats asked for; returns
# its exit status.
board_stop() {
    local status=0
    kill -TERM "$sim_pid"
    wait "$sim_pid" || status=$?
    sim_pid=
    return "$status"
}
