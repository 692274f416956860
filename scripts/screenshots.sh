#!/usr/bin/env bash
# Screenshots of the desktop program for the documentation: runs one job against the simulated
# board on a virtual X display and saves docs/screenshots/{start,writing,end}.png.
#
#   scripts/screenshots.sh [BIN_DIR]     (default: build/default/bin)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
for program in tervix-screenshots tervix-sim; do
    if [ ! -x "$bin/$program" ]; then
        echo "screenshots: $bin/$program is missing; run make build first" >&2
        exit 1
    fi
done
if ! command -v xvfb-run >/dev/null; then
    echo "screenshots: xvfb-run is missing (Debian package xvfb)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tervix-shots.XXXXXX")
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
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" \
    "$bin/tervix-screenshots" "$here/examples/blink.hex" "$here/docs/screenshots")
