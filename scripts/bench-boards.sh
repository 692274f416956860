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
awk -f "$here/bench/image.awk" >"$work/full.hex"

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

# One board alone before and after the four, so that a change in the machine's load during the
# run weighs on both sides alike.
echo "Flashing $(grep -c '^:10' "$work/full.hex") rows onto one paced board, four at once, one again..."
boards_start COM3 -- --pace
time_flash one COM3
one_before=$wall
boards_stop
boards_start COM3 COM4 COM5 COM6 -- --pace
time_flash four COM3 COM4 COM5 COM6
four_wall=$wall
four_cpu=$cpu
boards_stop
boards_start COM3 -- --pace
time_flash again COM3
boards_stop

awk -v before="$one_before" -v after="$wall" -v four="$four_wall" -v cpu="$four_cpu" 'BEGIN {
    one = (before + after) / 2
    ratio = four / one
    per_board = 100 * cpu / 4 / four
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| One board alone (wall), before and after | %.3f s, %.3f s |\n", before, after
    printf "| Four boards at once (wall) | %.3f s |\n", four
    printf "| Four boards at once / one board (wall) | %.3f |\n", ratio
    printf "| Goal R <= 1.15 | %s |\n", ratio <= 1.15 ? "met" : "MISSED"
    printf "| Host CPU per board, four at once | %.2f %% of one core (goal < 5 %%: %s) |\n", \
        per_board, per_board < 5 ? "met" : "MISSED"
}'
