#!/usr/bin/env bash
# Part of `make bench`: the line server (tervix-line) under load on loopback. 16 stations reserve
# numbers at once, 1,000 each, each reservation ended as used with its board's record, on SQLite
# and on PostgreSQL (a cluster of the benchmark's own, with the disk synced on every commit as
# in production); then 1,000,000 records spread over 30 days in PostgreSQL and the yield of the
# last day by station and by hour.
#
#   scripts/bench-line.sh [BIN_DIR]    (default: build/default/bin)
#
# Goals: a reservation's round trip at most 20 ms at the 99th percentile on each engine; each
# yield query answered within 200 ms (the slowest of 20).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
pg_bin=/usr/lib/postgresql/15/bin
clients=16
count=1000
records=1000000
for program in tervix-line tervix-line-load; do
    if [ ! -x "$bin/$program" ]; then
        echo "bench-line: $bin/$program is missing; run make build first" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tervix-bench-line.XXXXXX")
server_pid=
pg_started=
# PostgreSQL will not run as root: as nobody then, in a folder of its own.
as_cluster=()
if [ "$(id -u)" -eq 0 ]; then
    as_cluster=(runuser -u nobody --)
    chown nobody "$work"
fi
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    if [ -n "$pg_started" ]; then
        "${as_cluster[@]}" "$pg_bin/pg_ctl" -D "$work/pg" -m fast -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A loopback port nothing answers on.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}

# serve URL: starts tervix-line on a free port; sets server_pid and server_port.
serve() {
    "$bin/tervix-line" serve --db "$1" --listen 127.0.0.1:0 2>"$work/serve.err" &
    server_pid=$!
    local i
    for i in $(seq 100); do
        server_port=$(sed -n 's/.*listening on http:\/\/127\.0\.0\.1:\([0-9]*\),.*/\1/p' \
            "$work/serve.err")
        [ -n "$server_port" ] && return
        sleep 0.1
    done
    echo "bench-line: tervix-line did not start:" >&2
    cat "$work/serve.err" >&2
    exit 1
}

stop_server() {
    kill -TERM "$server_pid"
    wait "$server_pid" || true
    server_pid=
}

# value FILE NAME: the value of "NAME: value" in FILE.
value() { sed -n "s/^$2: //p" "$1"; }

pg_port=$(free_port)
"${as_cluster[@]}" "$pg_bin/initdb" -D "$work/pg" -U tervix -A trust -E UTF8 --locale=C \
    >"$work/initdb.log"
"${as_cluster[@]}" "$pg_bin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w \
    -o "-p $pg_port -k $work -c listen_addresses=127.0.0.1" start >/dev/null
pg_started=1
"$pg_bin/createdb" -h 127.0.0.1 -p "$pg_port" -U tervix line
pg_url="postgresql://tervix@127.0.0.1:$pg_port/line"

echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores, $(uname -sr)"
echo "Load average (1, 5, 15 min) at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo
echo "| Engine | Reservations | p50 (ms) | p99 (ms) | max (ms) | Reservations/s | used: p99 (ms) |"
echo "|---|---|---|---|---|---|---|"
failed=0
for engine in sqlite postgresql; do
    url=$pg_url
    [ "$engine" = sqlite ] && url="sqlite:$work/line.db"
    "$bin/tervix-line" pool add widget --start 1 --db "$url" >/dev/null
    token=$("$bin/tervix-line" token add bench --role station --db "$url")
    serve "$url"
    "$bin/tervix-line-load" reserve "$server_port" "$token" "$clients" "$count" \
        >"$work/$engine.out" || failed=1
    stop_server
    f="$work/$engine.out"
    echo "| $engine | $(value "$f" reservations) | $(value "$f" reserve_p50_ms) |" \
        "$(value "$f" reserve_p99_ms) | $(value "$f" reserve_max_ms) |" \
        "$(value "$f" reservations_per_second) | $(value "$f" used_p99_ms) |"
done

# A million boards over the last 30 days: 16 stations, four ports each, ten lots, one in
# twenty failing (and without a serial number, as a failed board releases its number).
now_ms=$(($(date +%s) * 1000))
start=$(date +%s)
psql -q -h 127.0.0.1 -p "$pg_port" -U tervix -d line -v ON_ERROR_STOP=1 <<SQL
INSERT INTO records (id, time_ms, station, port, serial, lot, passed, received_ms, body)
SELECT 'fill-' || g, t, 'bench-' || (g % 16), 'COM' || (g % 4 + 3),
       CASE WHEN g % 20 = 0 THEN NULL ELSE g::text END, 'lot-' || (g % 10),
       CASE WHEN g % 20 = 0 THEN 0 ELSE 1 END, t,
       json_build_object('id', 'fill-' || g, 'time', to_char(to_timestamp(t / 1000.0) AT TIME ZONE 'UTC',
                         'YYYY-MM-DD"T"HH24:MI:SS"Z"'), 'host', 'line-3', 'command', 'flash',
                         'port', 'COM' || (g % 4 + 3), 'device', 33, 'file', 'widget.hex',
                         'rows', 2032, 'requests', 528, 'seconds', 16.7,
                         'result', '504 blocks erased, 2032 rows written and verified',
                         'exit_status', CASE WHEN g % 20 = 0 THEN 4 ELSE 0 END,
                         'serial', CASE WHEN g % 20 = 0 THEN NULL ELSE g::text END,
                         'tags', json_build_object('lot', 'lot-' || (g % 10)),
                         'station', 'bench-' || (g % 16))::text
FROM (SELECT g, $now_ms - g::bigint * 2592 AS t FROM generate_series(1, $records) AS g) AS s;
-- What autovacuum has done to a table whose rows came over 30 days.
VACUUM ANALYZE records;
SQL
fill_s=$(($(date +%s) - start))
total=$(psql -At -h 127.0.0.1 -p "$pg_port" -U tervix -d line -c "SELECT COUNT(*) FROM records")
serve "$pg_url"
token=$("$bin/tervix-line" token add viewer --role viewer --db "$pg_url")
until_iso=$(date -u -d "@$((now_ms / 1000))" '+%Y-%m-%dT%H:%M:%SZ')
since_iso=$(date -u -d "@$((now_ms / 1000 - 86400))" '+%Y-%m-%dT%H:%M:%SZ')
echo
echo "PostgreSQL: $total records over 30 days (filled in $fill_s s); yield of the last day, 20 times each:"
echo
echo "| Yield by | Groups | Boards | First (ms) | p50 (ms) | max (ms) |"
echo "|---|---|---|---|---|---|"
for by in station hour; do
    "$bin/tervix-line-load" yield "$server_port" "$token" "$by" "$since_iso" "$until_iso" 20 \
        >"$work/yield-$by.out" || failed=1
    f="$work/yield-$by.out"
    echo "| $by | $(value "$f" groups) | $(value "$f" boards) | $(value "$f" first_ms) |" \
        "$(value "$f" yield_p50_ms) | $(value "$f" yield_max_ms) |" | tee -a "$work/yield-rows"
done
stop_server
echo
echo "Load average (1, 5, 15 min) at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"

# The goals, from the rows printed above.
for engine in sqlite postgresql; do
    p99=$(value "$work/$engine.out" reserve_p99_ms)
    awk -v e="$engine" -v p="$p99" 'BEGIN { if (p == "") { print e ": reservations FAILED"; exit }
        printf "%s: reservation p99 %.2f ms (goal <= 20: %s)\n", e, p, p <= 20 ? "met" : "MISSED" }'
done
awk -F' *[|] *' '{ printf "yield by %s: slowest %.2f ms (goal <= 200: %s)\n", $2, $7, \
    $7 <= 200 ? "met" : "MISSED" }' "$work/yield-rows"
exit "$failed"
