#!/usr/bin/env bash
# Screenshots of tervix.exe, the desktop program for Windows, for the documentation: one job under
# Wine on a virtual display against a paced simulated board on COM1, saved as
# docs/screenshots/windows-{idle,running,finished}.png. The Windows test program takes them.
#
#   scripts/windows-screenshots.sh [BUILD_DIR]   (default: build/default, for tervix-sim)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/default}" && pwd)
windows=$here/build/windows
cmake --build "$windows" --target tervix tervix-desktop-tests >/dev/null

work=$(mktemp -d)
sim=
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    "$here/tests/wine/wine-prefix.sh" stop "$work/prefix"
    rm -rf "$work"
}
trap cleanup EXIT

"$here/tests/wine/wine-prefix.sh" start "$work/prefix" >/dev/null
"$here/tests/wine/wine-prefix.sh" hold "$work/prefix" "$windows/bin/tervix-desktop-tests.exe"
"$build/bin/tervix-sim" --pace --link "$work/prefix/dosdevices/com1" >"$work/sim.out" &
sim=$!
for _ in $(seq 100); do
    [ -L "$work/prefix/dosdevices/com1" ] && break
    sleep 0.1
done

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=$(cat "$work/prefix.display")
export DISPLAY
cp "$here/examples/blink.hex" "$work/"
(cd "$work" && wine "$windows/bin/tervix-desktop-tests.exe" --gtest_filter=Desktop.WholeJob \
    "--tervix=$(winepath -w "$windows/bin/tervix.exe")" --port=COM1 \
    "--file=$(winepath -w "$work/blink.hex")" "--screenshots=$(winepath -w "$work")") </dev/null
python3 "$here/scripts/bmp-to-png.py" "$work"/windows-*.bmp
mkdir -p "$here/docs/screenshots"
cp "$work"/windows-*.png "$here/docs/screenshots/"
ls "$here"/docs/screenshots/windows-*.png
