#!/usr/bin/env bash
# Part of `make bench`: what a serial-number journal's history costs. A small image with --fast
# onto four paced simulated boards at once, numbers from a counter whose journal is empty, then
# from one whose journal holds 100,000 lines (first as an earlier version left it, without a
# checkpoint, then with the checkpoint that first run wrote), then empty again; and `serial
# status` on a journal of 1,000,000 lines.
#
#   scripts/bench-serial.sh [BIN_DIR]    (default: build/default/bin)
#
# Goals: four boards with the 100,000-line journal take at most 1.05 times as long as with an
# empty one (wall, against the mean of the two empty runs); serial status on 1,000,000 lines
# within 1 s.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare bench-serial tervix-flash
awk -v program_last=4607 -v eeprom_last=7 -f "$here/bench/image.awk" >"$work/small.hex"

# history COUNTER LINES: a counter whose journal holds LINES lines after its first, a board's
# reservation and use for every two, as runs write them; the counter stands after them.
history() {
    local counter=$1 lines=$2
    "$bin/tervix-flash" serial init "$counter" --start 100000 >/dev/null
    awk -v lines="$lines" -v first=100000 'BEGIN {
        for (i = 0; i < lines / 2; i++) {
            pid = 4000 + i % 30000
            port = "COM" (3 + i % 4)
            printf "{\"time\":\"2026-12-07T16:02:11Z\",\"event\":\"reserved\",\"serial\":\"%d\"," \
                "\"port\":\"%s\",\"host\":\"line-3\",\"pid\":%d,\"record_time\":null}\n", \
                first + i, port, pid
            printf "{\"time\":\"2026-12-07T16:02:14Z\",\"event\":\"used\",\"serial\":\"%d\"," \
                "\"port\":\"%s\",\"host\":\"line-3\",\"pid\":%d," \
                "\"record_time\":\"2026-12-07T16:02:14Z\"}\n", first + i, port, pid
        }
    }' >>"$counter.journal"
    echo $((100000 + lines / 2)) >"$counter"
}

# four_boards NAME COUNTER: flashes four fresh paced boards with numbers from COUNTER; sets wall.
four_boards() {
    local name=$1 counter=$2 status=0
    boards_start COM3 COM4 COM5 COM6 -- --pace
    TIMEFORMAT='%3R'
    { time "$bin/tervix-flash" flash --quiet --fast --port COM3 --port COM4 --port COM5 \
        --port COM6 "$work/small.hex" --serial-at eeprom:0x40 --serial-format u32le \
        --serial-counter "$counter" 2>"$work/$name.err"; } 2>"$work/$name.time" || status=$?
    boards_stop
    if [ "$status" -ne 0 ]; then
        echo "bench-serial: the run with $name failed with status $status:" >&2
        cat "$work/$name.err" >&2
        exit 1
    fi
    wall=$(cat "$work/$name.time")
}

echo
echo "Four paced boards, a journal empty and of 100,000 lines; serial status on 1,000,000 lines..."
"$bin/tervix-flash" serial init "$work/empty" --start 1000 >/dev/null
four_boards empty-before "$work/empty"
empty_before=$wall
history "$work/long" 100000
long_size=$(stat -c %s "$work/long.journal")
four_boards long-first "$work/long"
long_first=$wall
four_boards long "$work/long"
long=$wall
"$bin/tervix-flash" serial init "$work/empty2" --start 1000 >/dev/null
four_boards empty-after "$work/empty2"
empty_after=$wall

history "$work/status" 1000000
status_size=$(stat -c %s "$work/status.journal")
TIMEFORMAT='%3R %3U %3S'
{ time "$bin/tervix-flash" serial status "$work/status" >"$work/status.out"; } 2>"$work/status.time"
read -r status_wall status_user status_sys <"$work/status.time"

awk -v before="$empty_before" -v after="$empty_after" -v first="$long_first" -v long="$long" \
    -v long_mb="$long_size" -v status_wall="$status_wall" -v status_cpu="$status_user" \
    -v status_sys="$status_sys" -v status_mb="$status_size" 'BEGIN {
    empty = (before + after) / 2
    ratio = long / empty
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| Four boards, empty journal (wall), before and after | %.3f s, %.3f s |\n", before, after
    printf "| Four boards, 100,000-line journal (%.1f MB), no checkpoint yet | %.3f s (%.3f x) |\n", \
        long_mb / 1e6, first, first / empty
    printf "| Four boards, 100,000-line journal with its checkpoint | %.3f s |\n", long
    printf "| 100,000 lines / empty (wall) | %.3f |\n", ratio
    printf "| Goal <= 1.05 | %s |\n", ratio <= 1.05 ? "met" : "MISSED"
    printf "| serial status, 1,000,000 lines (%.1f MB): wall, CPU | %.3f s, %.3f s |\n", \
        status_mb / 1e6, status_wall, status_cpu + status_sys
    printf "| Goal <= 1 s | %s |\n", status_wall <= 1 ? "met" : "MISSED"
}'
