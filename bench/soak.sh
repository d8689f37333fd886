#!/usr/bin/env bash
# The fault soak: SOAK_REQUESTS requests over at most SOAK_SECONDS against both servers of one
# Vantry (files, a listing, the download page, administration pages, applications, CGI scripts
# and uploads), SOAK_ABORT_PERCENT of them cut short by their client in the head, the body or
# the answer (half with a reset), slow readers of a large file, a slow script whose clients
# leave while it writes, and the access log moved away half way. Then checks that the server
# still runs and settles back to its idle descriptors, threads and children, that its memory
# did not grow past SOAK_RSS_GROWTH_MAX_KIB, that every completed request is in the access log,
# and that every stored upload is whole and byte-identical, with none stored under its final
# name half written. SOAK_ASAN=1 runs an AddressSanitizer build instead of the Release build.
# Prints a report and keeps it in bench/out/soak-<time>/; exits 1 when a check fails.
set -uo pipefail
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"

SOAK_REQUESTS=${SOAK_REQUESTS:-100000}
SOAK_SECONDS=${SOAK_SECONDS:-600}
SOAK_CLIENTS=${SOAK_CLIENTS:-32}
SOAK_ABORT_PERCENT=${SOAK_ABORT_PERCENT:-10}
SOAK_ASAN=${SOAK_ASAN:-0}
SOAK_RSS_GROWTH_MAX_KIB=${SOAK_RSS_GROWTH_MAX_KIB:-4096}
SOAK_SETTLE_LIMIT=${SOAK_SETTLE_LIMIT:-40}  # seconds for descriptors and children to settle
SOAK_WARMUP=${SOAK_WARMUP:-3000}            # requests of the same mix before the readings

build() {
    if [ "$SOAK_ASAN" = 1 ]; then
        (
            cd "$BENCH_ROOT"
            cmake -S . -B build-soak-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRY_ASAN=ON \
                -DVANTRY_TESTS=OFF >/dev/null && cmake --build build-soak-asan -j2
        ) >"$BENCH_OUT/build.log" 2>&1 || bench_die "the ASan build failed (see $BENCH_OUT/build.log)"
        BENCH_VANTRY_BINARY=$BENCH_ROOT/build-soak-asan/vantry
    else
        bench_build_vantry
    fi
}

prepare() {
    local www=$BENCH_DIR/www www2=$BENCH_DIR/www2 i
    mkdir -p "$www/listing" "$www/cgi-bin" "$www2/cgi-bin" "$BENCH_DIR/uploads"
    head -c 1024 /dev/urandom | base64 -w 76 | head -c 1024 >"$www/file.html"
    head -c 102400 /dev/urandom >"$www/file-100k.html"
    head -c 2M /dev/urandom >"$www2/big.bin"
    for ((i = 1; i <= 200; i++)); do printf 'entry %d\n' "$i" >"$www/listing/entry-$i.html"; done
    cp -r "$www/listing" "$www2/listing"
    printf '#!/usr/bin/perl\nprint "Content-Type: text/plain\\r\\n\\r\\nhello\\n";\n' \
        >"$www/cgi-bin/hello.pl"
    # Writes for about two seconds: some clients leave while it does.
    printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\n"\nfor i in 1 2 3 4 5 6 7 8 9 10; do echo line $i; sleep 0.2; done\n' \
        >"$www2/cgi-bin/slow.sh"
    chmod 755 "$www2/cgi-bin/slow.sh"
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"%s"="%s"\n' \
        "$BENCH_ADMIN_ID" "$BENCH_ADMIN_PASSWORD" >"$BENCH_DIR/registry.reg"
}

# Descriptors, threads, child processes and resident memory of the server, as "fds threads
# children rss".
readings() {
    printf '%s %s %s %s\n' "$(proc_fd_count "$1")" "$(proc_threads "$1")" \
        "$(pgrep -P "$1" | wc -l)" "$(proc_rss_kib "$1")"
}

main() {
    bench_require_tools
    printf 'Vantry fault soak, %s; output kept in %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$BENCH_OUT"
    build
    bench_make_workdir
    prepare
    local port2
    port2=$(bench_free_port) || exit 1
    bench_start_vantry_in "$BENCH_DIR" vantry logs=Y cgi=Y uploadMaxSizeKB=0 \
        "uploadSaveLocation=$BENCH_DIR/uploads" \
        "[Server-2-Config]" "port=$port2" "wwwroot=$BENCH_DIR/www2/" logs=Y cgi=Y \
        "[Server-2]" "secondPortEnabled=Y"
    local i
    for ((i = 0; i < 50; i++)); do bench_is_listening "$BENCH_VANTRY_ADDR" "$port2" && break; sleep 0.1; done
    local idleFds
    idleFds=$(proc_fd_count "$VANTRY_PID")
    # A warm-up with the same mix first: the readings after it include the workers the load
    # starts and what each kind of request allocates once.
    local warm=$BENCH_OUT/warmup.txt
    SOAK_UPLOAD_SUMS=$BENCH_OUT/upload-sums-warmup.txt python3 "$BENCH_ROOT/bench/soak_driver.py" \
        "$BENCH_VANTRY_ADDR" "$VANTRY_PORT" "$port2" "$SOAK_WARMUP" "$SOAK_SECONDS" \
        "$SOAK_CLIENTS" "$SOAK_ABORT_PERCENT" - >"$warm" 2>&1
    wait_fd_count "$VANTRY_PID" "$idleFds" "$SOAK_SETTLE_LIMIT" >/dev/null
    local idle
    idle=$(readings "$VANTRY_PID")
    printf 'after a warm-up of %s requests: descriptors threads children resident(KiB) = %s\n' \
        "$SOAK_WARMUP" "$idle"

    local out=$BENCH_OUT/driver.txt
    SOAK_UPLOAD_SUMS=$BENCH_OUT/upload-sums-run.txt python3 "$BENCH_ROOT/bench/soak_driver.py" \
        "$BENCH_VANTRY_ADDR" "$VANTRY_PORT" "$port2" "$SOAK_REQUESTS" "$SOAK_SECONDS" \
        "$SOAK_CLIENTS" "$SOAK_ABORT_PERCENT" "$BENCH_DIR/access.log" >"$out" 2>&1
    cat "$BENCH_OUT/upload-sums-warmup.txt" "$BENCH_OUT/upload-sums-run.txt" >"$BENCH_OUT/upload-sums.txt"
    grep -v '^kind ' "$out"
    printf 'by kind (kind outcome count):\n'
    grep '^kind ' "$out" | awk '{ printf "  %-18s %-10s %s\n", $2, $3, $4 }'
    value() { awk -v k="$1" '$1 == k { print $2 }' "$out"; }

    check "$(kill -0 "$VANTRY_PID" 2>/dev/null && echo 1)" "the server still runs"
    # Lingering sockets close within the idle limit; scripts end with their clients.
    local after fds threads children rss
    for ((i = 0; i < SOAK_SETTLE_LIMIT; i++)); do
        after=$(readings "$VANTRY_PID")
        read -r fds threads children rss <<<"$after"
        [ "$fds" -le "${idle%% *}" ] && [ "$children" -eq 0 ] && break
        sleep 1
    done
    printf 'after %s s: descriptors threads children resident(KiB) = %s\n' "$i" "$after"
    local idleThreads idleChildren idleRss
    read -r idleFds idleThreads idleChildren idleRss <<<"$idle"
    check "$([ "$fds" -le "$idleFds" ] && echo 1)" "descriptors back to idle: $fds (idle $idleFds)"
    check "$([ "$children" -eq 0 ] && echo 1)" "no child process left: $children"
    # Workers stay for the next request; their number is bounded by the pool.
    check "$([ "$threads" -le 201 ] && echo 1)" "threads bounded by the two pools: $threads (after the warm-up $idleThreads)"
    if [ "$SOAK_ASAN" = 1 ]; then
        # The sanitizer keeps freed memory in quarantine; its leak report at exit stands in.
        printf 'info  resident memory grew by %s KiB (not checked under ASan)\n' $((rss - idleRss))
    else
        check "$([ $((rss - idleRss)) -le "$SOAK_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
            "resident memory grew by $((rss - idleRss)) KiB (<= $SOAK_RSS_GROWTH_MAX_KIB)"
    fi

    local completed sent logged failedRequests
    warmValue() { awk -v k="$1" '$1 == k { print $2 }' "$warm"; }
    completed=$(($(value completed) + $(warmValue completed)))
    sent=$(($(value sent) + $(warmValue sent)))
    failedRequests=$(($(value failed) + $(warmValue failed)))
    logged=$(cat "$BENCH_DIR/access.log" "$BENCH_DIR/access.log.moved" 2>/dev/null | wc -l)
    check "$([ "$(value log_moved)" = 1 ] && echo 1)" "the access log was moved away half way"
    check "$([ "$failedRequests" = 0 ] && echo 1)" "no request failed: $failedRequests"
    # Aborted requests the server finished are logged too; completed ones must all be.
    check "$([ "$logged" -ge "$completed" ] && [ "$logged" -le "$sent" ] && echo 1)" \
        "access log: $logged lines for $completed completed of $sent sent (warm-up included)"

    local stored bad=0 missing=0 partial digest
    stored=$BENCH_OUT/stored-sums.txt
    : >"$stored"
    for file in "$BENCH_DIR/uploads"/*-POST.mim; do
        [ -e "$file" ] || continue
        if [ "$(head -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ]; then
            tail -c +2 "$file" | sha256sum | cut -d' ' -f1 >>"$stored"
        else
            echo bad >>"$stored"
        fi
    done
    local sums=$BENCH_OUT/upload-sums.txt
    awk '$1 == "sent" { print $2 }' "$sums" | sort -u >"$BENCH_OUT/sent-sorted.txt"
    awk '$1 == "completed" { print $2 }' "$sums" | sort -u >"$BENCH_OUT/completed-sorted.txt"
    sort "$stored" >"$BENCH_OUT/stored-sorted.txt"
    bad=$(comm -23 "$BENCH_OUT/stored-sorted.txt" "$BENCH_OUT/sent-sorted.txt" | wc -l)
    missing=$(comm -23 "$BENCH_OUT/completed-sorted.txt" "$BENCH_OUT/stored-sorted.txt" | wc -l)
    partial=$(find "$BENCH_DIR/uploads" -name '*.part' | wc -l)
    check "$([ "$missing" = 0 ] && echo 1)" "every completed upload stored: $(grep -c '^completed' "$BENCH_OUT/upload-sums.txt") completed, $missing missing"
    check "$([ "$bad" = 0 ] && echo 1)" "every stored upload whole and byte-identical to one sent: $(wc -l <"$stored") stored, $bad not"
    check "$([ "$partial" = 0 ] && echo 1)" "no pending upload left behind: $partial"

    stop_vantry
    check "$([ "${BENCH_LAST_STOP_STATUS:-1}" = 0 ] && echo 1)" "exit status after SIGTERM: ${BENCH_LAST_STOP_STATUS:-?}"
    if grep -q "ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:" "$BENCH_OUT/vantry.stderr"; then
        check 0 "sanitizer reports (see $BENCH_OUT/vantry.stderr)"
    fi
    [ "$CHECKS_FAILED" -eq 0 ]
}

bench_run_reported soak-
