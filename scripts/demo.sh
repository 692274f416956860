#!/usr/bin/env bash
# `make demo`: flashes the bundled example onto the simulated board, then compares the board's
# memories with the file and prints a summary; then flashes three simulated boards at once, each
# with a serial number from a counter, with a record of each. Exits non-zero if anything failed or differs.
#
#   scripts/demo.sh [BIN_DIR]     (default: build/default/bin; make builds it first)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
hex=$here/examples/blink.hex
. "$here/scripts/board-on-com3.sh"
board_prepare demo tervix-flash
board_start --dump "$work/board.hex" --stats
echo "Simulated PIC18F452 board on $(head -n 1 "$work/sim.out"), linked as COM3"
echo
echo "\$ tervix-flash flash --port COM3 examples/blink.hex"

# Run from the work folder: the programmer writes its log temp.log into the current folder.
cp "$hex" "$work/blink.hex"
started=$(date +%s%N)
flash_status=0
(cd "$work" && "$bin/tervix-flash" flash --port COM3 blink.hex) ||
    flash_status=$?
finished=$(date +%s%N)

# Ending the board makes it write its memories and statistics.
sim_status=0
board_stop || sim_status=$?
if [ "$sim_status" -ne 0 ] || [ ! -f "$work/board.hex" ]; then
    echo "demo: the simulated board did not end cleanly (status $sim_status):" >&2
    cat "$work/sim.err" >&2
    exit 1
fi

stat() { awk -v key="$1" -F': ' '$1 == key { print $2 }' "$work/sim.out"; }
echo
echo "Board memories against the file (program memory and data EEPROM):"
compare_status=0
awk -f "$here/scripts/hex-compare.awk" "$hex" "$work/board.hex" || compare_status=$?

rows=0
[ -f "$work/temp.log" ] && rows=$(wc -l <"$work/temp.log")
violations=$(stat violations)
mode=$(stat mode)
echo
echo "Summary"
printf '  %-28s %s\n' "tervix-flash exit status" "$flash_status" \
    "rows written and verified" "$rows" \
    "requests to the board" "$(stat requests)" \
    "  erase / write / read" "$(stat erase_program) / $(stat write_program) / $(stat read_program)" \
    "  EEPROM write / read" "$(stat write_eeprom) / $(stat read_eeprom)" \
    "boot block violations" "$violations" \
    "board mode afterwards" "$mode" \
    "time" "$(awk -v ns=$((finished - started)) 'BEGIN { printf "%.2f s", ns / 1e9 }')"

if [ "$flash_status" -ne 0 ] || [ "$compare_status" -ne 0 ] || [ "$violations" != 0 ] ||
    [ "$mode" != run ]; then
    echo "demo: FAILED" >&2
    exit 1
fi
echo "demo: OK, the board holds the example and runs it"

echo
echo "Three boards at once, each in a folder of its own, each with a serial number from a counter,"
echo "with a record line per board"
boards_start COM3 COM4 COM5 -- --stats
mkdir "$work/line"
cp "$hex" "$work/line/blink.hex"
serial=(--serial-at eeprom:0x10 --serial-format u32le --serial-counter serials.txt)
echo "\$ tervix-flash serial init serials.txt --start 1000"
echo "\$ tervix-flash flash blink.hex --port COM3 --port COM4 --port COM5 --record boards.jsonl \\"
echo "      ${serial[*]} --tag operator=demo"
boards_status=0
(cd "$work/line" &&
    "$bin/tervix-flash" serial init serials.txt --start 1000 &&
    "$bin/tervix-flash" flash blink.hex --port COM3 --port COM4 --port COM5 \
        --record boards.jsonl "${serial[@]}" --tag operator=demo) || boards_status=$?
boards_stop || boards_status=1
echo
echo "\$ cat boards.jsonl"
cat "$work/line/boards.jsonl"
echo
echo "\$ tervix-flash serial status serials.txt"
(cd "$work/line" && "$bin/tervix-flash" serial status serials.txt) || boards_status=$?
records=$(grep -c '"exit_status":0,"serial":"100[012]"' "$work/line/boards.jsonl" || true)
if [ "$boards_status" -ne 0 ] || [ "$records" -ne 3 ]; then
    echo "demo: FAILED (three boards: status $boards_status, $records successful records)" >&2
    exit 1
fi
echo "demo: OK, three boards flashed at once with serial numbers 1000-1002 and recorded"
