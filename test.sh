#!/usr/bin/env bash
# Installs what is missing, builds Vantry normally and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds; then builds the fuzz targets
# with clang and runs each for 20 seconds, failing when one finds a crash.
# VANTRY_TSAN=1 adds a ThreadSanitizer build and its test run.
set -euo pipefail
cd "$(dirname "$0")"
# php-cgi runs the PHP pages of the end-to-end tests, haproxy the load balancer in front of two
# instances.
tools/install-deps.sh php-cgi haproxy
# Includes run one way through the layers.
tools/check-layers.sh

run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j2
    ctest --test-dir "$dir" --output-on-failure -j4 --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRY_ASAN=ON
if [ "${VANTRY_TSAN:-0}" = 1 ]; then
    run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DVANTRY_TSAN=ON
fi
tools/fuzz.sh all 20
