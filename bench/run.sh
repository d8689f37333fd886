#!/usr/bin/env bash
# Measures a Release build of Vantry against nginx on loopback: requests per second at
# several client counts for each scenario, then memory, threads and descriptors around a
# long run. Prints a report and keeps it, with the raw ab outputs and the servers' logs, in
# bench/out/<time>/. Exits 1 when a check fails. Settings are environment variables; see
# bench/README.md.
set -uo pipefail
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"

BENCH_REQUESTS=${BENCH_REQUESTS:-20000}
BENCH_CONCURRENCY=${BENCH_CONCURRENCY:-"1 50 200"}
BENCH_ROUNDS=${BENCH_ROUNDS:-3}                 # runs per server and client count
BENCH_WARMUP=${BENCH_WARMUP:-2000}
BENCH_SOAK_REQUESTS=${BENCH_SOAK_REQUESTS:-100000}
BENCH_SOAK_CONCURRENCY=${BENCH_SOAK_CONCURRENCY:-50}
BENCH_RATIO_MIN=${BENCH_RATIO_MIN:-0.9}          # Vantry/nginx at the ratio check's clients
BENCH_RATIO_CONCURRENCY=${BENCH_RATIO_CONCURRENCY:-50}
BENCH_IDLE_RSS_MAX_KIB=${BENCH_IDLE_RSS_MAX_KIB:-10240}
BENCH_RSS_GROWTH_MAX_KIB=${BENCH_RSS_GROWTH_MAX_KIB:-2048}
BENCH_FD_SETTLE_LIMIT=${BENCH_FD_SETTLE_LIMIT:-35}  # seconds; covers the lingering sockets

# The peers measured beside Vantry; each has start_NAME (given the 404 page to answer
# with), stop_NAME, NAME_PID and NAME_URL.
PEERS=(nginx)

# The scenarios, in order. scenario_NAME prepares the web root and sets SCENARIO_TITLE,
# SCENARIO_PATH, SCENARIO_STATUS (the status every server must answer) and optionally
# SCENARIO_REQUESTS (requests per run, for slow answers such as large files).
SCENARIOS=(not_found)

scenario_not_found() {
    SCENARIO_TITLE="GET / answered with the 404 page"
    SCENARIO_PATH=/
    SCENARIO_STATUS=404
}

declare -A RPS FAILED NONLENGTH P99 MAX   # key: scenario:server:concurrency
CHECKS_FAILED=0

check() {
    local ok=$1 text=$2
    if [ "$ok" = 1 ]; then
        printf 'PASS  %s\n' "$text"
    else
        printf 'FAIL  %s\n' "$text"
        CHECKS_FAILED=$((CHECKS_FAILED + 1))
    fi
}

peer_url() {
    local var=${1^^}_URL
    echo "${!var}"
}

vantry_alive() {
    kill -0 "$VANTRY_PID" 2>/dev/null || bench_die "vantry ended during the run (see $BENCH_OUT/vantry.stderr)"
}

# Every server must answer the scenario's request with its status and the same length.
verify_answers() {
    local name=$1 answer peer vantryAnswer
    vantryAnswer=$(bench_fetch "$VANTRY_URL$SCENARIO_PATH" "$BENCH_DIR/answer-vantry")
    [ "${vantryAnswer%% *}" = "$SCENARIO_STATUS" ] ||
        bench_die "$name: vantry answered $vantryAnswer, expected status $SCENARIO_STATUS"
    for peer in "${PEERS[@]}"; do
        answer=$(bench_fetch "$(peer_url "$peer")$SCENARIO_PATH" "$BENCH_DIR/answer-$peer")
        [ "${answer%% *}" = "$SCENARIO_STATUS" ] ||
            bench_die "$name: $peer answered $answer, expected status $SCENARIO_STATUS"
        [ "$answer" = "$vantryAnswer" ] ||
            bench_say "note: $name: body sizes differ (vantry $vantryAnswer, $peer $answer)"
    done
    printf 'answer: status %s, body %s bytes\n' "$SCENARIO_STATUS" "${vantryAnswer#* }"
}

# The failures other than by length; the total in brackets when there are any.
format_fail() {
    local total=$1 nonLength=$2
    if [ "$nonLength" != 0 ]; then
        printf '%s(%s)' "$nonLength" "$total"
    else
        printf '%s' "$nonLength"
    fi
}

run_scenario() {
    local name=$1 c requests peer key server url row header round
    SCENARIO_REQUESTS=""
    "scenario_$name"
    printf '\n== %s: %s\n' "$name" "$SCENARIO_TITLE"
    verify_answers "$name"

    header=$(printf '%6s %12s' clients "vantry rps")
    for peer in "${PEERS[@]}"; do header+=$(printf ' %12s %8s' "$peer rps" "ratio"); done
    header+=$(printf ' %12s' "vantry fail")
    for peer in "${PEERS[@]}"; do header+=$(printf ' %12s' "$peer fail"); done
    header+=$(printf ' %16s' "vantry p99/max")
    for peer in "${PEERS[@]}"; do header+=$(printf ' %16s' "$peer p99/max"); done
    local lines=()

    for c in $BENCH_CONCURRENCY; do
        requests=${SCENARIO_REQUESTS:-$BENCH_REQUESTS}
        [ "$requests" -lt $((5 * c)) ] && requests=$((5 * c))
        # The servers take turns; a server's figure is its best round, so that a passing
        # disturbance on the machine does not decide the ratio. Failures add up over all
        # rounds, and the latencies are the worst seen.
        for ((round = 1; round <= BENCH_ROUNDS; round++)); do
            for server in vantry "${PEERS[@]}"; do
                if [ "$server" = vantry ]; then url=$VANTRY_URL; else url=$(peer_url "$server"); fi
                measure_ab "$url$SCENARIO_PATH" "$requests" "$c" "$name-$server-c$c-r$round"
                key=$name:$server:$c
                if [ "$round" = 1 ]; then
                    RPS[$key]=0 FAILED[$key]=0 NONLENGTH[$key]=0 P99[$key]=0 MAX[$key]=0
                fi
                at_least "${RPS[$key]}" "$AB_RPS" || RPS[$key]=$AB_RPS
                FAILED[$key]=$((FAILED[$key] + AB_FAILED))
                NONLENGTH[$key]=$((NONLENGTH[$key] + AB_NONLENGTH))
                at_least "${P99[$key]}" "$AB_P99" || P99[$key]=$AB_P99
                at_least "${MAX[$key]}" "$AB_MAX" || MAX[$key]=$AB_MAX
                if [ "$AB_STATUS" = 124 ]; then
                    bench_say "note: ab against $server at $c clients was cut off after ${BENCH_AB_TIMEOUT}s"
                elif [ "$AB_COMPLETE" != "$requests" ]; then
                    bench_say "note: $server completed $AB_COMPLETE of $requests requests at $c clients (ab status $AB_STATUS)"
                fi
                [ "$server" = vantry ] && vantry_alive
            done
        done
        row=$(printf '%6s %12s' "$c" "${RPS[$name:vantry:$c]}")
        for peer in "${PEERS[@]}"; do
            row+=$(printf ' %12s %8s' "${RPS[$name:$peer:$c]}" \
                "$(ratio "${RPS[$name:vantry:$c]}" "${RPS[$name:$peer:$c]}")")
        done
        row+=$(printf ' %12s' "$(format_fail "${FAILED[$name:vantry:$c]}" "${NONLENGTH[$name:vantry:$c]}")")
        for peer in "${PEERS[@]}"; do
            row+=$(printf ' %12s' "$(format_fail "${FAILED[$name:$peer:$c]}" "${NONLENGTH[$name:$peer:$c]}")")
        done
        for server in vantry "${PEERS[@]}"; do
            row+=$(printf ' %16s' "${P99[$name:$server:$c]}/${MAX[$name:$server:$c]} ms")
        done
        lines+=("$row")
    done
    printf '%s\n' "$header" "${lines[@]}"
}

main() {
    bench_require_tools
    printf 'Vantry benchmark, %s; output kept in %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$BENCH_OUT"
    bench_build_vantry
    bench_make_workdir

    start_vantry
    sleep 0.5
    local idleRss idleFds idleThreads
    idleRss=$(proc_rss_kib "$VANTRY_PID")
    idleFds=$(proc_fd_count "$VANTRY_PID")
    idleThreads=$(proc_threads "$VANTRY_PID")

    local notFound answer
    notFound=$BENCH_DIR/not-found.html
    answer=$(bench_fetch "$VANTRY_URL/" "$notFound")
    [ "${answer%% *}" = 404 ] || bench_die "vantry answered GET / with $answer, expected the 404 page"
    local peer pidVar
    printf 'vantry pid %s at %s\n' "$VANTRY_PID" "$VANTRY_URL"
    for peer in "${PEERS[@]}"; do
        "start_$peer" "$notFound"
        pidVar=${peer^^}_PID
        printf '%s pid %s at %s\n' "$peer" "${!pidVar}" "$(peer_url "$peer")"
    done
    bench_pin_to 0
    if [ ${#BENCH_PIN_CMD[@]} -gt 0 ]; then
        printf 'servers on CPU 0, ab on CPU 1\n'
    else
        printf 'servers and ab on any CPU\n'
    fi
    printf 'requests per run: %s (at least 5 x clients), no keep-alive; best of %s rounds\n' \
        "$BENCH_REQUESTS" "$BENCH_ROUNDS"

    local maxC=1 c server
    for c in $BENCH_CONCURRENCY; do [ "$c" -gt "$maxC" ] && maxC=$c; done
    for server in vantry "${PEERS[@]}"; do
        local url=$VANTRY_URL
        [ "$server" = vantry ] || url=$(peer_url "$server")
        measure_ab "$url/" "$BENCH_WARMUP" "$maxC" "warmup-$server"
    done
    vantry_alive
    sleep 2
    local warmRss warmFds warmThreads
    warmRss=$(proc_rss_kib "$VANTRY_PID")
    warmFds=$(proc_fd_count "$VANTRY_PID")
    warmThreads=$(proc_threads "$VANTRY_PID")

    local scenario
    for scenario in "${SCENARIOS[@]}"; do run_scenario "$scenario"; done

    printf '\n== memory and descriptors: %s requests to GET / at %s clients\n' \
        "$BENCH_SOAK_REQUESTS" "$BENCH_SOAK_CONCURRENCY"
    measure_ab "$VANTRY_URL/" "$BENCH_SOAK_REQUESTS" "$BENCH_SOAK_CONCURRENCY" soak-vantry
    vantry_alive
    local soakRps=$AB_RPS soakFailed=$AB_FAILED soakNonLength=$AB_NONLENGTH soakComplete=$AB_COMPLETE
    sleep 2
    local afterRss afterThreads afterFds2s settled afterFds waited
    afterRss=$(proc_rss_kib "$VANTRY_PID")
    afterThreads=$(proc_threads "$VANTRY_PID")
    afterFds2s=$(proc_fd_count "$VANTRY_PID")
    settled=$(wait_fd_count "$VANTRY_PID" "$idleFds" "$BENCH_FD_SETTLE_LIMIT")
    afterFds=${settled% *}
    waited=${settled#* }

    printf '%-28s %10s %10s %10s\n' "" idle "warmed up" "after run"
    printf '%-28s %10s %10s %10s\n' "resident memory (MiB)" "$(mib "$idleRss")" "$(mib "$warmRss")" "$(mib "$afterRss")"
    printf '%-28s %10s %10s %10s\n' "threads" "$idleThreads" "$warmThreads" "$afterThreads"
    printf '%-28s %10s %10s %10s\n' "descriptors" "$idleFds" "$warmFds" "$afterFds"
    printf 'run: %s rps, %s of %s complete, %s failed (%s not by length)\n' \
        "$soakRps" "$soakComplete" "$BENCH_SOAK_REQUESTS" "$soakFailed" "$soakNonLength"
    printf 'descriptors 2 s after the run: %s; after %s s more: %s\n' "$afterFds2s" "$waited" "$afterFds"

    printf '\n== checks\n'
    local ratioKey=not_found:vantry:$BENCH_RATIO_CONCURRENCY r
    r=$(ratio "${RPS[$ratioKey]:-0}" "${RPS[not_found:nginx:$BENCH_RATIO_CONCURRENCY]:-0}")
    check "$(at_least "$r" "$BENCH_RATIO_MIN" && echo 1)" \
        "requests per second vantry/nginx at $BENCH_RATIO_CONCURRENCY clients: $r (>= $BENCH_RATIO_MIN)"
    check "$([ "$idleRss" -lt "$BENCH_IDLE_RSS_MAX_KIB" ] && echo 1)" \
        "idle resident memory $(mib "$idleRss") MiB (< $(mib "$BENCH_IDLE_RSS_MAX_KIB") MiB)"
    check "$([ $((afterRss - warmRss)) -le "$BENCH_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
        "resident memory after warm-up $(mib "$warmRss") MiB, after $BENCH_SOAK_REQUESTS requests $(mib "$afterRss") MiB (growth <= $(mib "$BENCH_RSS_GROWTH_MAX_KIB") MiB)"
    check "$([ "$afterFds" -le "$idleFds" ] && echo 1)" \
        "descriptors back to the idle count: $afterFds (idle $idleFds)"
    local key nonLength=0
    for key in "${!NONLENGTH[@]}"; do
        [[ $key == *:vantry:* ]] && nonLength=$((nonLength + NONLENGTH[$key]))
    done
    nonLength=$((nonLength + soakNonLength))
    check "$([ "$nonLength" = 0 ] && [ "$soakComplete" = "$BENCH_SOAK_REQUESTS" ] && echo 1)" \
        "vantry: no failed requests other than by length: $nonLength"

    local errors
    errors=$(grep -c . "$BENCH_OUT/vantry.stderr" 2>/dev/null)
    printf '\nvantry stderr: %s line(s)\n' "${errors:-0}"
    [ "${errors:-0}" -gt 0 ] && head -n 20 "$BENCH_OUT/vantry.stderr"

    stop_vantry
    printf 'vantry stopped with status %s\n' "${BENCH_LAST_STOP_STATUS:-?}"
    [ "$CHECKS_FAILED" -eq 0 ]
}

BENCH_OUT=${BENCH_OUT_DIR:-$BENCH_ROOT/bench/out}/$(date +%Y%m%d-%H%M%S)
mkdir -p "$BENCH_OUT" || exit 1
exec > >(tee "$BENCH_OUT/report.txt") 2>&1
teePid=$!
# However the script ends, the servers are stopped and the report is complete on disk.
trap 'bench_cleanup; exec >&- 2>&-; wait "$teePid"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
main
