#!/usr/bin/env bash
# Screenshots of the desktop program for the documentation: runs one job against the simulated
# board on a virtual X display and saves docs/screenshots/{start,writing,end}.png.
#
#   scripts/screenshots.sh [BIN_DIR]     (default: build/default/bin)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare screenshots tervix-screenshots
if ! command -v xvfb-run >/dev/null; then
    echo "screenshots: xvfb-run is missing (Debian package xvfb)" >&2
    exit 1
fi

board_start --pace
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" \
    "$bin/tervix-screenshots" "$here/examples/blink.hex" "$here/docs/screenshots")
