#!/usr/bin/env bash
# Part of `make bench`: what taking the numbers from the line server costs a station. A small
# image with --fast onto four paced simulated boards at once, numbers from a counter file, then
# from a tervix-line on loopback (SQLite, every commit synced; each board reserves, renews on
# its lease, says it writes the number, and ends as used with its record, all through the
# spool), twice each, the counter runs before and after.
#
#   scripts/bench-line-boards.sh [BIN_DIR]    (default: build/default/bin)
#
# Goal: four boards with numbers from the server take at most 1.05 times as long as with a
# counter file (wall, the means of the two runs of each).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare bench-line-boards tervix-flash tervix-line
awk -v program_last=4607 -v eeprom_last=7 -f "$here/bench/image.awk" >"$work/small.hex"

db="sqlite:$work/line.db"
"$bin/tervix-line" pool add widget --start 1000 --db "$db" >/dev/null
"$bin/tervix-line" token add bench --role station --db "$db" >"$work/token"
# Held where the board of board_start would be, so that it goes on every exit too.
"$bin/tervix-line" serve --db "$db" --listen 127.0.0.1:0 2>"$work/serve.err" &
sim_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on http:\/\/127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$work/serve.err")
    [ -n "$port" ] && break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "bench-line-boards: tervix-line did not start:" >&2
    cat "$work/serve.err" >&2
    exit 1
fi

# four_boards NAME SOURCE...: flashes four fresh paced boards with numbers from SOURCE (the
# options); sets wall.
four_boards() {
    local name=$1 status=0
    shift
    boards_start COM3 COM4 COM5 COM6 -- --pace
    TIMEFORMAT='%3R'
    { time "$bin/tervix-flash" flash --quiet --fast --port COM3 --port COM4 --port COM5 \
        --port COM6 "$work/small.hex" --serial-at eeprom:0x40 --serial-format u32le \
        --record "$work/$name.jsonl" "$@" 2>"$work/$name.err"; } 2>"$work/$name.time" ||
        status=$?
    boards_stop
    if [ "$status" -ne 0 ] || [ -s "$work/line-spool.jsonl" ]; then
        echo "bench-line-boards: the run with $name failed with status $status:" >&2
        cat "$work/$name.err" >&2
        exit 1
    fi
    wall=$(cat "$work/$name.time")
}

echo
echo "Four paced boards, numbers from a counter file and from the line server..."
cd "$work"
"$bin/tervix-flash" serial init "$work/counter" --start 1000 >/dev/null
line=(--line "http://127.0.0.1:$port" --line-pool widget --line-token-file "$work/token")
four_boards counter-before --serial-counter "$work/counter"
counter_before=$wall
four_boards line-1 "${line[@]}"
line_1=$wall
four_boards line-2 "${line[@]}"
line_2=$wall
four_boards counter-after --serial-counter "$work/counter"
counter_after=$wall
kill -TERM "$sim_pid"
wait "$sim_pid"
sim_pid=
used=$("$bin/tervix-line" status --db "$db" | sed -n 's/.*used \([0-9]*\),.*/\1/p')

awk -v before="$counter_before" -v after="$counter_after" -v l1="$line_1" -v l2="$line_2" \
    -v used="$used" 'BEGIN {
    counter = (before + after) / 2
    line = (l1 + l2) / 2
    ratio = line / counter
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| Four boards, numbers from a counter file (wall), before and after | %.3f s, %.3f s |\n", \
        before, after
    printf "| Four boards, numbers from the line server (wall), two runs | %.3f s, %.3f s |\n", l1, l2
    printf "| Numbers the server gave and saw used (of 8) | %d |\n", used
    printf "| Line server / counter file (wall) | %.3f |\n", ratio
    printf "| Goal <= 1.05 | %s |\n", ratio <= 1.05 ? "met" : "MISSED"
    exit used == 8 ? 0 : 1
}'
