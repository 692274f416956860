#!/usr/bin/env bash
# `make run`: the desktop program against a simulated board on COM3. Answer Yes to "COM3" and
# pick examples/blink.hex (or any HEX file). temp.log is written into a temporary folder.
#
#   scripts/run-desktop.sh [BIN_DIR]     (default: build/default/bin)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/default/bin}" && pwd)
. "$here/scripts/board-on-com3.sh"
board_prepare run tervix
board_start --pace
echo "Simulated PIC18F452 board on $(head -n 1 "$work/sim.out"), linked as COM3."
echo "Example file: $here/examples/blink.hex"
(cd "$work" && "$bin/tervix")
