#!/usr/bin/env bash
# Installs what is missing, builds Vantry normally, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and with ThreadSanitizer, and runs every test in each build; then
# builds the fuzz targets with clang and runs each for 20 seconds, failing when one finds a
# crash. VANTRY_TSAN=0 leaves the ThreadSanitizer build out. Prints the time of each stage.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS

# Runs a stage and prints how long it took.
stage() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}

# php-cgi runs the PHP pages of the end-to-end tests, haproxy the load balancer in front of two
# instances; chromium, chromium-driver and python3-selenium the browser test of the modern
# look's pages (tests/browser/). The network drive's tests with real clients (tests/webdav/):
# litmus runs its suites against it, rclone copies and syncs a tree of files through it (and
# curl locks a file), davfs2 mounts it (as root, with /dev/fuse). pebble is the certificate
# authority the servers obtain their certificates from in the tests (tests/acme/).
stage dependencies tools/install-deps.sh php-cgi haproxy chromium chromium-driver python3-selenium \
    litmus rclone davfs2 pebble
# Includes run one way through the layers.
stage layers tools/check-layers.sh
# Every C++ file keeps the layout of .clang-format.
stage layout bash -c "git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror"

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    stage "$dir: build" cmake --build "$dir" -j2
    stage "$dir: tests" ctest --test-dir "$dir" --output-on-failure -j4 --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTRY_WERROR=ON
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRY_ASAN=ON -DVANTRY_WERROR=ON
if [ "${VANTRY_TSAN:-1}" != 0 ]; then
    run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DVANTRY_TSAN=ON -DVANTRY_WERROR=ON
fi
stage fuzzing tools/fuzz.sh all 20
echo "== all: $((SECONDS - started)) s"
