#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan and UBSan, in build-fuzz) when needed and runs
# one target, or all, for SECONDS each on a copy of its seed corpus. A crash or a broken
# invariant fails the run and leaves the input in build-fuzz/findings/.
# Usage: tools/fuzz.sh NAME|all SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
    echo "Usage: tools/fuzz.sh NAME|all SECONDS" >&2
    exit 2
fi
name=$1
seconds=$2
build=build-fuzz
corpora=tests/fuzz/corpus

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTRY_FUZZ=ON \
    -DVANTRY_TESTS=OFF >/dev/null
if [ "$name" = all ]; then
    targets=()
    for dir in "$corpora"/*/; do targets+=("$(basename "$dir")"); done
else
    [ -d "$corpora/$name" ] || { echo "No fuzz target named $name" >&2; exit 2; }
    targets=("$name")
fi
mkdir -p "$build/findings"
if ! cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >"$build/findings/build.log" 2>&1; then
    tail -40 "$build/findings/build.log" >&2
    exit 1
fi

# Targets that write files (the INI writer syncs each one) run several times faster in memory.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
failed=()
for target in "${targets[@]}"; do
    work=$(mktemp -d)
    cp -r "$corpora/$target/." "$work/"
    log="$build/findings/$target.log"
    status=0
    # Inputs up to 70000 bytes: enough to pass the 64 KiB head limit.
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=70000 -timeout=25 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$work" >"$log" 2>&1 ||
        status=$?
    rm -rf "$work"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$status" -eq 0 ]; then
        echo "fuzz $target: ${runs:-?} executions in ${seconds} s, no failure"
    else
        echo "fuzz $target: FAILED after ${runs:-?} executions (exit $status); see $log" >&2
        grep -E "invariant failed|ERROR:|SUMMARY:|Test unit written" "$log" >&2 || tail -20 "$log" >&2
        failed+=("$target")
    fi
done
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzz targets that failed: ${failed[*]}" >&2
    exit 1
fi
