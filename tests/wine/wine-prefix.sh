#!/usr/bin/env bash
# The wine tests' private Wine prefix. "start" makes it afresh, keeps its wineserver running
# between tests (Wine's first start is the slow part) and drops the COM links Wine made for
# this machine's serial ports, so no test reaches a real one. "stop" ends every Wine process
# of the prefix, so none outlives the test run.
set -uo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for tool in wine wineserver winepath; do
    if ! command -v "$tool" >/dev/null; then
        echo "Wine cannot start: $tool is missing (Debian packages wine and wine64, see packages.txt)" >&2
        exit 1
    fi
done

case $action in
start)
    wineserver -k >/dev/null 2>&1 # left over from an interrupted run
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # Detached, with no descriptor of ctest's, or ctest would wait for it.
    wineserver -p </dev/null >/dev/null 2>&1
    if ! wine wineboot -i </dev/null >"$prefix.log" 2>&1 || [ ! -d "$prefix/drive_c/windows/system32" ]; then
        echo "Wine cannot start: wineboot failed to make $prefix; its output follows" >&2
        cat "$prefix.log" >&2
        wineserver -k >/dev/null 2>&1
        exit 1
    fi
    rm -f "$prefix"/dosdevices/com*
    wine --version
    ;;
stop)
    wineserver -k >/dev/null 2>&1
    exit 0
    ;;
*)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 64
    ;;
esac
