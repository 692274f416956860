#!/usr/bin/env bash
# `make run`: the desktop program against a simulated board on COM3. Answer Yes to "COM3" and
# pick examples/blink.hex (or any HEX file). temp.log is written into a temporary folder.
#
#   scripts/run-desktop.sh [BIN_DIR]     (default: build/default/bin)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
for program in tervix tervix-sim; do
    if [ ! -x "$bin/$program" ]; then
        echo "run: $bin/$program is missing; run make build first" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tervix-run.XXXXXX")
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

. "$here/scripts/board-on-com3.sh"
echo "Simulated PIC18F452 board on $(head -n 1 "$work/sim.out"), linked as COM3."
echo "Example file: $here/examples/blink.hex"
(cd "$work" && "$bin/tervix")
