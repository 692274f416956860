#!/usr/bin/env bash
# Part of `make bench`: tervix-flash station against paced simulated boards plugged in and taken
# off while it runs. Three measures, in one run:
#   - from a board answering on a waiting position to its first erase request (the board's own
#     first_erase_ms, counted from its start), over five boards in turn on one position;
#   - the station's CPU time while its 16 positions wait: behind adapters with no board (ports
#     that open and stay silent), and with boards left on that are not flashed again;
#   - 16 positions flashing 16 paced boards plugged in at once, against one position and one
#     board before and after.
#
#   scripts/bench-station.sh [BIN_DIR]    (default: build/default/bin)
#
# Goals: at most 1.5 s from answer to erase; idle under 1 % of one core per position; 16 boards
# in at most 1.15 times the wall time of one.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare bench-station tervix-flash
awk -f "$here/bench/image.awk" >"$work/full.hex"
awk -v program_last=4607 -v eeprom_last=7 -f "$here/bench/image.awk" >"$work/small.hex"
mkdir -p "$work/ports"
export TERVIX_PORTS="$work/ports"
station_pid=
failed=0
load_start=$(cut -d ' ' -f 1-3 /proc/loadavg)

stop_station() {
    if [ -n "$station_pid" ]; then
        kill -TERM "$station_pid" 2>/dev/null || true
        wait "$station_pid" 2>/dev/null || true
        station_pid=
    fi
}
trap 'stop_station; board_cleanup' EXIT

# project NAME FIRMWARE COUNT: a locked project in $work/NAME with COUNT positions, COM3 on.
project() {
    local name=$1 firmware=$2 count=$3 ports="" i
    mkdir -p "$work/$name"
    for i in $(seq 3 $((count + 2))); do
        ports+="${ports:+, }\"COM$i\""
    done
    cat >"$work/$name/line.toml" <<EOF
name = "bench"
[firmware]
file = "$work/$firmware.hex"
fast = true
[serial]
counter = "serials.txt"
at = "id:0x200000"
format = "u32le"
[records]
file = "boards.jsonl"
[station]
name = "bench"
ports = [$ports]
EOF
    (cd "$work/$name" && "$bin/tervix-flash" serial init serials.txt --start 1000 >/dev/null &&
        "$bin/tervix-flash" project lock line.toml >/dev/null)
}

# start_station NAME POSITIONS [OPTION...]: the station of project NAME, its lines in
# $work/NAME/out, once each of its positions has looked at its port (a board that answers before
# that waits to be taken off).
start_station() {
    local name=$1 positions=$2
    shift 2
    (cd "$work/$name" && exec "$bin/tervix-flash" station line.toml --plain "$@" \
        >"$work/$name/out" 2>"$work/$name/err") &
    station_pid=$!
    await ": waiting for a board\|: a board was there before" "$positions" "$work/$name/out"
}

# await TEXT COUNT FILE: until FILE holds COUNT lines with TEXT (60 s at most).
await() {
    local count
    for _ in $(seq 600); do
        count=$(grep -c -- "$1" "$3" 2>/dev/null) || true
        [ "${count:-0}" -ge "$2" ] && return 0
        sleep 0.1
    done
    echo "bench-station: no $2 lines with '$1' in $3:" >&2
    cat "$3" >&2
    exit 1
}

# plug NAME [SIM_OPTION...]: a paced board on COM NAME; its statistics in $work/NAME.out.
plug() {
    local name=$1
    shift
    "$bin/tervix-sim" --link "$work/ports/$name" --pace --stats "$@" >"$work/$name.out" \
        2>"$work/$name.err" &
    more_pids+=("$!")
}

# cpu_ticks PID: user + system clock ticks of the process so far.
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

now() {
    date +%s.%N
}

echo
echo "Station: answer to first erase, five boards in turn on one position..."
project latency small 1
start_station latency 1 --until 5
latencies=()
for i in 1 2 3 4 5; do
    plug COM3
    await "PASS" "$i" "$work/latency/out"
    boards_stop
    latencies+=("$(awk -F': ' '$1 == "first_erase_ms" { print $2 }' "$work/COM3.out")")
    [ "$i" -lt 5 ] && await "taken off" "$i" "$work/latency/out"
done
wait "$station_pid" || { echo "bench-station: the station failed:" >&2; cat "$work/latency/err" >&2; failed=1; }
station_pid=

# idle NAME [SIM_OPTION...]: sets idle_cpu, the CPU per position (% of one core) of a station of
# 16 positions over 10 s, each port behind a board with the options given; the station started
# after the boards, so none is flashed.
idle() {
    local name=$1 i before after
    shift
    project "$name" small 16
    for i in $(seq 3 18); do
        plug "COM$i" "$@"
    done
    sleep 1
    start_station "$name" 16
    sleep 2
    before=$(cpu_ticks "$station_pid")
    sleep 10
    after=$(cpu_ticks "$station_pid")
    stop_station
    boards_stop || true
    if grep -q "flashing it" "$work/$name/out"; then
        echo "bench-station: a board left on was flashed:" >&2
        cat "$work/$name/out" >&2
        failed=1
    fi
    idle_cpu=$(awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" \
        'BEGIN { print 100 * ticks / hz / 10 / 16 }')
}
echo "Station: 16 waiting positions, 10 s each way..."
idle silent --silent
idle_silent=$idle_cpu
idle left
idle_left=$idle_cpu

# flash_lot NAME COUNT: sets lot_wall, the seconds from COUNT boards plugged in at once to the
# station's end.
flash_lot() {
    local name=$1 count=$2 i start
    project "$name" full "$count"
    start_station "$name" "$count" --until "$count"
    start=$(now)
    for i in $(seq 3 $((count + 2))); do
        plug "COM$i"
    done
    if ! wait "$station_pid"; then
        echo "bench-station: the station of $count failed:" >&2
        cat "$work/$name/out" "$work/$name/err" >&2
        failed=1
    fi
    station_pid=
    lot_wall=$(awk -v start="$start" -v end="$(now)" 'BEGIN { printf "%.3f", end - start }')
    boards_stop
    if ! grep -q "passed $count  failed 0" "$work/$name/out"; then
        echo "bench-station: not every board of $count passed:" >&2
        cat "$work/$name/out" >&2
        failed=1
    fi
}
echo "Station: $(grep -c '^:10' "$work/full.hex") rows onto one paced board, sixteen at once, one again..."
flash_lot one 1
one_before=$lot_wall
flash_lot sixteen 16
sixteen=$lot_wall
flash_lot again 1
one_after=$lot_wall

printf '%s\n' "${latencies[@]}" | awk -v silent="$idle_silent" -v left="$idle_left" \
    -v before="$one_before" -v after="$one_after" -v sixteen="$sixteen" \
    -v load="$load_start, $(cut -d ' ' -f 1-3 /proc/loadavg)" '
{ sum += $1; if ($1 > worst) worst = $1; n++ }
END {
    one = (before + after) / 2
    ratio = sixteen / one
    printf "\n| Measure | Value |\n|---|---|\n"
    printf "| Answer to first erase, five boards (ms) | mean %.0f, worst %.0f |\n", sum / n, worst
    printf "| Goal <= 1500 ms | %s |\n", n == 5 && worst <= 1500 ? "met" : "MISSED"
    printf "| Idle CPU per position, adapters without boards | %.3f %% of one core |\n", silent
    printf "| Idle CPU per position, boards left on | %.3f %% of one core |\n", left
    printf "| Goal < 1 %% | %s |\n", silent < 1 && left < 1 ? "met" : "MISSED"
    printf "| One board alone (wall), before and after | %.3f s, %.3f s |\n", before, after
    printf "| Sixteen boards at once (wall) | %.3f s |\n", sixteen
    printf "| Sixteen at once / one (wall) | %.3f |\n", ratio
    printf "| Goal <= 1.15 | %s |\n", ratio <= 1.15 ? "met" : "MISSED"
    printf "| Load average (1, 5, 15 min), start and end | %s |\n", load
}'
exit "$failed"
