#!/usr/bin/env bash
# `make bench`: flashes a full application image (program memory 0x0200-0x7FFF and 256 bytes of
# data EEPROM) onto the simulated board paced at 115200 bit/s with the chip's programming times,
# and sets the host's wall and CPU time against the board's modelled wire-and-chip time.
#
#   scripts/bench.sh [BIN_DIR]    (default: build/default/bin; make builds it first)
#
# Goals: wall / modelled without the job's fixed 1000 ms pause at most 1.05, host CPU time under
# 5 % of the wall time. Exits non-zero when the flash fails or the board differs from the image.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare bench tervix-flash
awk -f "$here/bench/full-image.awk" >"$work/full.hex"
board_start --pace --dump "$work/board.hex" --stats

echo "Flashing $(grep -c '^:10' "$work/full.hex") rows onto the paced board..."
# Other work on the machine delays every wake-up of host and board: recorded with the result.
load=$(cut -d ' ' -f 1-3 /proc/loadavg)
# Run from the work folder: the programmer writes its log temp.log into the current folder.
flash() {
    cd "$work" &&
        "$bin/tervix-flash" flash --quiet --port COM3 "$work/full.hex" 2>"$work/flash.err"
}
# bash's own timer: real, user and system seconds of the flash process.
TIMEFORMAT='%3R %3U %3S'
flash_status=0
{ time flash; } 2>"$work/time" || flash_status=$?
read -r wall user sys <"$work/time"

board_stop || true

if [ "$flash_status" -ne 0 ]; then
    echo "bench: tervix-flash failed with status $flash_status:" >&2
    cat "$work/flash.err" >&2
    exit 1
fi
awk -f "$here/scripts/hex-compare.awk" "$work/full.hex" "$work/board.hex" >"$work/compare" || {
    cat "$work/compare" >&2
    echo "bench: the board differs from the image" >&2
    exit 1
}

modelled_ms=$(awk -F': ' '$1 == "modelled_ms" { print $2 }' "$work/sim.out")
requests=$(awk -F': ' '$1 == "requests" { print $2 }' "$work/sim.out")
cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)

awk -v wall="$wall" -v user="$user" -v sys="$sys" -v modelled_ms="$modelled_ms" \
    -v requests="$requests" -v when="$(date -u '+%Y-%m-%d %H:%M UTC')" \
    -v machine="$cpu_model, $(nproc) cores, $(uname -sr)" -v load="$load" 'BEGIN {
    modelled = modelled_ms / 1000
    cpu = user + sys
    ratio = wall / modelled
    ratio_np = (wall - 1) / modelled
    share = 100 * cpu / wall
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| Date | %s |\n| Machine | %s |\n| Load average (1, 5, 15 min) | %s |\n", when, \
        machine, load
    printf "| Host wall time | %.3f s |\n", wall
    printf "| Board modelled wire-and-chip time | %.3f s |\n", modelled
    printf "| Ratio wall / modelled | %.3f |\n", ratio
    printf "| Ratio without the 1000 ms pause | %.3f (goal <= 1.05: %s) |\n", ratio_np, \
        ratio_np <= 1.05 ? "met" : "MISSED"
    printf "| Host CPU time (user + system) | %.3f s = %.2f %% of wall (goal < 5 %%: %s) |\n", \
        cpu, share, share < 5 ? "met" : "MISSED"
    printf "| Requests | %d |\n", requests
    printf "| Excess per request: (wall - pause - modelled) / requests | %.3f ms |\n", \
        1000 * (wall - 1 - modelled) / requests
}'
echo
cat "$work/compare"
"$here/scripts/bench-boards.sh" "$bin"
