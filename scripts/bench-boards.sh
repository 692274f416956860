#!/usr/bin/env bash
# Part of `make bench`: a full application image flashed by one tervix-flash command onto four
# paced simulated boards at once, against the same image onto one board alone, in the same run.
#
#   scripts/bench-boards.sh [BIN_DIR]    (default: build/default/bin)
#
# Goals: four at once take at most 1.15 times as long as one alone (wall), and the host's CPU
# time (parent and children) stays under 5 % of one core per board.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare bench-boards tervix-flash
awk -f "$here/bench/full-image.awk" >"$work/full.hex"

# time_flash NAME PORT...: flashes the image onto the named ports from $work/NAME; sets wall and
# cpu (user + system of the command and its children) in seconds.
time_flash() {
    local name=$1 ports=() port status=0
    shift
    for port in "$@"; do
        ports+=(--port "$port")
    done
    mkdir "$work/$name"
    TIMEFORMAT='%3R %3U %3S'
    { time (cd "$work/$name" &&
        "$bin/tervix-flash" flash --quiet "${ports[@]}" "$work/full.hex" 2>"$work/$name.err"); } \
        2>"$work/$name.time" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "bench-boards: flashing $* failed with status $status:" >&2
        cat "$work/$name.err" >&2
        exit 1
    fi
    local user sys
    read -r wall user sys <"$work/$name.time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
}

echo "Flashing $(grep -c '^:10' "$work/full.hex") rows onto one paced board, then onto four at once..."
boards_start COM3 -- --pace
time_flash one COM3
one_wall=$wall
boards_stop
boards_start COM3 COM4 COM5 COM6 -- --pace
time_flash four COM3 COM4 COM5 COM6
boards_stop

awk -v one="$one_wall" -v four="$wall" -v cpu="$cpu" 'BEGIN {
    ratio = four / one
    per_board = 100 * cpu / 4 / four
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| One board alone (wall) | %.3f s |\n", one
    printf "| Four boards at once (wall) | %.3f s |\n", four
    printf "| Four boards at once / one board (wall) | %.3f |\n", ratio
    printf "| Goal R <= 1.15 | %s |\n", ratio <= 1.15 ? "met" : "MISSED"
    printf "| Host CPU per board, four at once | %.2f %% of one core (goal < 5 %%: %s) |\n", \
        per_board, per_board < 5 ? "met" : "MISSED"
}'
