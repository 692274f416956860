# Sourced by the desktop scripts: starts tervix-sim on a pseudo-terminal linked as COM3 in a
# ports folder of its own under $work, and exports TERVIX_PORTS so that the port scan sees that
# folder as the whole map and touches no real serial port. Needs $bin and $work; sets $sim_pid.

mkdir -p "$work/ports"
"$bin/tervix-sim" --pace --link "$work/ports/COM3" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$work/ports/COM3" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "the simulated board did not start:" >&2
        cat "$work/sim.err" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -e "$work/ports/COM3" ]; then
    echo "the simulated board did not appear as COM3" >&2
    exit 1
fi
export TERVIX_PORTS="$work/ports"
