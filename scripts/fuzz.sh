#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) in a tree of their own
# and runs each from its seed corpus; new inputs go to a work corpus in the build tree, crashes to
# its artifacts folder.
#
#   scripts/fuzz.sh [--build-dir DIR] [--build-only | --no-build] [--seconds N | --runs N]
#                   [TARGET...]
#
# Defaults: build/fuzz, FUZZ_SECONDS (600) seconds per target, every target
# (receive_packet boot_read program_hex). FUZZ_ARGS adds libFuzzer options, for instance
# "-fork=1 -ignore_crashes=1" to go on after a crash. Exit status 77 when no clang++ is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$root/build/fuzz
seconds=${FUZZ_SECONDS:-600}
runs=
build=yes
run=yes
targets=()
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build_dir=$2; shift 2 ;;
    --seconds) seconds=$2; runs=; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build-only) run=no; shift ;;
    --no-build) build=no; shift ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 64 ;;
    *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=(receive_packet boot_read program_hex)

cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
    for candidate in clang++ clang++-14; do
        if command -v "$candidate" >/dev/null 2>&1; then
            cxx=$candidate
            break
        fi
    done
fi
if [ -z "$cxx" ]; then
    echo "fuzz.sh: clang++ not found (packages clang and libclang-rt-14-dev); not fuzzing" >&2
    exit 77
fi

if [ $build = yes ]; then
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVIX_CORE_ONLY=ON -DTERVIX_FUZZ=ON \
        -DTERVIX_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
    cmake --build "$build_dir" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}"
fi
[ $run = yes ] || exit 0

if [ -n "$runs" ]; then
    budget=(-runs="$runs")
else
    budget=(-max_total_time="$seconds")
fi
status=0
for target in "${targets[@]}"; do
    work=$build_dir/corpus/$target
    artifacts=$build_dir/artifacts/$target
    log=$build_dir/logs/$target.log
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    # The first folder receives new inputs; the seeds in the source tree are only read.
    # shellcheck disable=SC2086 # FUZZ_ARGS is a list of options
    if "$build_dir/bin/fuzz_$target" "${budget[@]}" ${FUZZ_ARGS:-} -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$work" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
        summary=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
        echo "$target: ok: $summary"
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" | sed "s/^/$target: /" || true
    else
        status=1
        echo "$target: FAILED (log $log, inputs in $artifacts)" >&2
        tail -n 40 "$log" >&2
    fi
done
exit $status
