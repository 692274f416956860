#!/usr/bin/env bash
# The wine tests' private Wine prefix and the virtual display its windows open on. "start"
# starts an Xvfb (its display in PREFIX.display), makes the prefix afresh, keeps its wineserver
# running between tests (Wine's first start is the slow part) and drops the COM links Wine made
# for this machine's serial ports, so no test reaches a real one. "hold PROGRAM" starts a Windows
# program that keeps Wine's desktop up until the end of the run. "stop" ends every Wine process
# of the prefix and the Xvfb, so none outlives the test run.
set -uo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for tool in wine wineserver winepath Xvfb; do
    if ! command -v "$tool" >/dev/null; then
        echo "Wine cannot start: $tool is missing (Debian packages wine, wine64 and xvfb, see packages.txt)" >&2
        exit 1
    fi
done

# Ends the Xvfb an earlier start left, found by the process number it recorded.
stop_display() {
    if [ -f "$prefix.xvfb-pid" ]; then
        kill "$(cat "$prefix.xvfb-pid")" 2>/dev/null
        rm -f "$prefix.xvfb-pid" "$prefix.display"
    fi
}

case $action in
start)
    wineserver -k >/dev/null 2>&1 # left over from an interrupted run
    stop_display
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # A screen large enough that message boxes, centred on it, leave the dialog in its top-left
    # corner uncovered; 24 bits, so colours read back exactly; no screen saver to blank it in a
    # long run. Xvfb picks a free display.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -s 0 -nolisten tcp 3>"$prefix.display-number" \
        </dev/null >"$prefix.xvfb.log" 2>&1 &
    echo $! >"$prefix.xvfb-pid"
    for _ in $(seq 100); do
        [ -s "$prefix.display-number" ] && break
        sleep 0.1
    done
    if [ ! -s "$prefix.display-number" ]; then
        echo "Wine cannot start: Xvfb gave no display; its output follows" >&2
        cat "$prefix.xvfb.log" >&2
        stop_display
        exit 1
    fi
    echo ":$(cat "$prefix.display-number")" >"$prefix.display"
    export DISPLAY
    DISPLAY=$(cat "$prefix.display")
    # Detached, with no descriptor of ctest's, or ctest would wait for it.
    wineserver -p </dev/null >/dev/null 2>&1
    if ! wine wineboot -i </dev/null >"$prefix.log" 2>&1 || [ ! -d "$prefix/drive_c/windows/system32" ]; then
        echo "Wine cannot start: wineboot failed to make $prefix; its output follows" >&2
        cat "$prefix.log" >&2
        wineserver -k >/dev/null 2>&1
        stop_display
        exit 1
    fi
    rm -f "$prefix"/dosdevices/com*
    # Windows drawn by Wine itself, caption included: there is no window manager to wait for.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wine --version
    echo "display $DISPLAY"
    ;;
hold)
    # Detached, with no descriptor of ctest's (a desktop started by a test would keep its output
    # open); wineserver -k ends it. It leaves PREFIX.held once the desktop is up.
    rm -f "$prefix.held"
    DISPLAY=$(cat "$prefix.display") setsid wine "$3" --hold-desktop "$(winepath -w "$prefix.held")" \
        </dev/null >/dev/null 2>&1 &
    for _ in $(seq 300); do
        [ -e "$prefix.held" ] && exit 0
        sleep 0.1
    done
    echo "Wine's desktop did not come up for $3" >&2
    exit 1
    ;;
stop)
    wineserver -k >/dev/null 2>&1
    stop_display
    exit 0
    ;;
*)
    echo "usage: $0 start|stop PREFIX, or $0 hold PREFIX PROGRAM" >&2
    exit 64
    ;;
esac
