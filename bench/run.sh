#!/usr/bin/env bash
# Measures a Release build of Vantry against nginx and lighttpd on loopback: requests per
# second at several client counts for each scenario (a missing page, small and larger files,
# CGI scripts, a page behind a login, the access log, a directory listing, the server
# properties page, a search of the root against find), the download rate of a large file,
# the same two files over connections kept open (with wrk), ten thousand idle connections,
# a gibibyte uploaded as a form against dd and nginx's PUT, a gibibyte folder as one ZIP
# against one file of its bytes, then memory, threads and descriptors around a long run.
# Prints a report and keeps it, with the raw ab and curl outputs and the servers' logs, in
# bench/out/<time>/. Exits 1 when a check fails. Settings are environment variables; see
# bench/README.md.
set -uo pipefail
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"

# Both set-ups, one after the other: the servers pinned to a core of their own, then sharing
# the cores with ab and curl. Each run keeps a report of its own.
if [ "$BENCH_PIN" = both ]; then
    status=0
    for pin in 1 0; do
        BENCH_PIN=$pin "$0" "$@" || status=1
    done
    exit "$status"
fi

BENCH_REQUESTS=${BENCH_REQUESTS:-20000}
BENCH_CONCURRENCY=${BENCH_CONCURRENCY:-"1 50 200"}
BENCH_ROUNDS=${BENCH_ROUNDS:-3}                 # runs per server and client count
BENCH_WARMUP=${BENCH_WARMUP:-2000}
BENCH_CGI_WARMUP=${BENCH_CGI_WARMUP:-300}        # warm-up requests per script
BENCH_LARGE_REQUESTS=${BENCH_LARGE_REQUESTS:-5000}  # per run, for the 100 KiB file
BENCH_LISTING_ENTRIES=${BENCH_LISTING_ENTRIES:-1000}  # files in the listed directory
BENCH_LISTING_REQUESTS=${BENCH_LISTING_REQUESTS:-1000}  # per run, for the listing
BENCH_ADMIN_REQUESTS=${BENCH_ADMIN_REQUESTS:-5000}  # per run, for the server properties page
BENCH_SEARCH_FILES=${BENCH_SEARCH_FILES:-20000}   # files in the searched tree
BENCH_SEARCH_REQUESTS=${BENCH_SEARCH_REQUESTS:-50}  # searches per run, and finds per round
BENCH_SEARCH_RATIO_MAX=${BENCH_SEARCH_RATIO_MAX:-2.0}  # time per search, vantry/find
BENCH_BIG_MIB=${BENCH_BIG_MIB:-100}              # size of the downloaded file
BENCH_BIG_ROUNDS=${BENCH_BIG_ROUNDS:-3}          # downloads per server
BENCH_CGI_REQUESTS=${BENCH_CGI_REQUESTS:-1000}   # per run, for the scripts
BENCH_CGI_CONCURRENCY=${BENCH_CGI_CONCURRENCY:-"1 50"}
BENCH_SOAK_REQUESTS=${BENCH_SOAK_REQUESTS:-100000}
BENCH_SOAK_CONCURRENCY=${BENCH_SOAK_CONCURRENCY:-50}
BENCH_RATIO_CONCURRENCY=${BENCH_RATIO_CONCURRENCY:-50}  # clients of the speed checks
BENCH_IPV6_NOISE=${BENCH_IPV6_NOISE:-0.1}  # IPv6/IPv4 counts as the same within this fraction
BENCH_RATIO_MIN=${BENCH_RATIO_MIN:-0.9}          # Vantry/nginx, 404 page and 1 KiB page
BENCH_FILE_RATIO_MIN=${BENCH_FILE_RATIO_MIN:-1.0}  # Vantry/nginx, 1 and 100 KiB files, every client count
BENCH_CPU_RATIO_MAX=${BENCH_CPU_RATIO_MAX:-1.1}  # Vantry/nginx CPU time per 1 KiB request
BENCH_LIGHTTPD_RATIO_MIN=${BENCH_LIGHTTPD_RATIO_MIN:-1.0}  # Vantry/lighttpd, 1 KiB page
BENCH_CGI_RATIO_MIN=${BENCH_CGI_RATIO_MIN:-1.0}  # Vantry/lighttpd, each script and client count
BENCH_BIG_RATIO_MIN=${BENCH_BIG_RATIO_MIN:-0.95}  # Vantry/nginx download rate
BENCH_BIG_LIGHTTPD_RATIO_MIN=${BENCH_BIG_LIGHTTPD_RATIO_MIN:-1.0}  # Vantry/lighttpd download rate
BENCH_BIG_CPU_RATIO_MAX=${BENCH_BIG_CPU_RATIO_MAX:-1.0}  # Vantry/lighttpd CPU time per MiB downloaded
BENCH_LISTING_RATIO_MIN=${BENCH_LISTING_RATIO_MIN:-1.0}  # Vantry/nginx, the listing
BENCH_MODERN_RATIO_MIN=${BENCH_MODERN_RATIO_MIN:-0.9}  # modern look/classic, listing and properties
BENCH_HTTPS_REQUESTS=${BENCH_HTTPS_REQUESTS:-5000}  # per run, each a full TLS handshake
BENCH_HTTPS_CONCURRENCY=${BENCH_HTTPS_CONCURRENCY:-"1 50"}
BENCH_HTTPS_RATIO_MIN=${BENCH_HTTPS_RATIO_MIN:-0.9}  # Vantry/nginx over HTTPS, 1 KiB page
BENCH_PROXY_RATIO_MIN=${BENCH_PROXY_RATIO_MIN:-0.95}  # Vantry/nginx, each behind HAProxy, 1 KiB page
BENCH_LOG_COST_MAX=${BENCH_LOG_COST_MAX:-10}     # percent of requests per second
BENCH_IDLE_RSS_MAX_KIB=${BENCH_IDLE_RSS_MAX_KIB:-10240}
BENCH_RSS_GROWTH_MAX_KIB=${BENCH_RSS_GROWTH_MAX_KIB:-2048}
BENCH_FD_SETTLE_LIMIT=${BENCH_FD_SETTLE_LIMIT:-35}  # seconds; covers the lingering sockets
BENCH_UPLOAD_MIB=${BENCH_UPLOAD_MIB:-100}        # size of the single upload
BENCH_UPLOAD_ROUNDS=${BENCH_UPLOAD_ROUNDS:-3}    # uploads (and dd copies) of it
BENCH_UPLOAD_CLIENTS=${BENCH_UPLOAD_CLIENTS:-20}  # uploads at once
BENCH_UPLOAD_CLIENT_MIB=${BENCH_UPLOAD_CLIENT_MIB:-5}  # size of each of them
BENCH_UPLOAD_RATIO_MIN=${BENCH_UPLOAD_RATIO_MIN:-0.5}  # upload rate / dd rate
BENCH_UPLOAD_RSS_GROWTH_MAX_KIB=${BENCH_UPLOAD_RSS_GROWTH_MAX_KIB:-4096}  # peak memory, upload
BENCH_MULTIPART_MIB=${BENCH_MULTIPART_MIB:-1024}  # size of the multipart upload
BENCH_MULTIPART_RATIO_MIN=${BENCH_MULTIPART_RATIO_MIN:-0.5}  # its rate / dd rate
BENCH_MULTIPART_RSS_GROWTH_MAX_KIB=${BENCH_MULTIPART_RSS_GROWTH_MAX_KIB:-10240}  # resident memory during it
BENCH_ZIP_FILES=${BENCH_ZIP_FILES:-1000}         # files of the zipped folder
BENCH_ZIP_FILE_KIB=${BENCH_ZIP_FILE_KIB:-1024}   # size of each of them
BENCH_ZIP_ROUNDS=${BENCH_ZIP_ROUNDS:-3}          # downloads of the zip (and of the one file)
BENCH_ZIP_RATIO_MIN=${BENCH_ZIP_RATIO_MIN:-0.8}  # zip rate / rate of one file of the same size
BENCH_STALL_SECONDS=${BENCH_STALL_SECONDS:-20}   # the visitor's time against each server
BENCH_STALL_TRICKLE=${BENCH_STALL_TRICKLE:-500}  # clients trickling a body
BENCH_STALL_READERS=${BENCH_STALL_READERS:-500}  # clients never reading their download
BENCH_STALL_GAP_MS=${BENCH_STALL_GAP_MS:-10}     # the visitor's pause between two requests
BENCH_STALL_P99_MAX_MS=${BENCH_STALL_P99_MAX_MS:-100}  # the visitor's p99 against Vantry
BENCH_KEEPALIVE_RATIO_MIN=${BENCH_KEEPALIVE_RATIO_MIN:-1.0}  # Vantry/nginx, kept connections, every client count
BENCH_KEEPALIVE_CPU_RATIO_MAX=${BENCH_KEEPALIVE_CPU_RATIO_MAX:-1.0}  # Vantry/nginx CPU time per request, the same
BENCH_H2_REQUESTS=${BENCH_H2_REQUESTS:-100000}  # per run, over HTTP/2
BENCH_H2_CONNECTIONS=${BENCH_H2_CONNECTIONS:-10}  # HTTP/2 connections at once
BENCH_H2_STREAMS=${BENCH_H2_STREAMS:-100}        # streams at a time on each
BENCH_H2_RATIO_MIN=${BENCH_H2_RATIO_MIN:-0.9}    # Vantry/nginx over HTTP/2, 1 KiB page
BENCH_IDLE_CONNECTIONS=${BENCH_IDLE_CONNECTIONS:-10000}  # idle kept connections held open
BENCH_IDLE_REQUESTS=${BENCH_IDLE_REQUESTS:-2000}  # timed requests while they are open
BENCH_IDLE_KEEPALIVE_SECONDS=${BENCH_IDLE_KEEPALIVE_SECONDS:-600}  # the idle servers' keep-alive time
BENCH_IDLE_RSS_GROWTH_MAX_KIB=${BENCH_IDLE_RSS_GROWTH_MAX_KIB:-102400}  # memory they may cost
BENCH_IDLE_P99_MAX_MS=${BENCH_IDLE_P99_MAX_MS:-10}  # p99 of a new request while they are open
BENCH_IDLE_NGINX=${BENCH_IDLE_NGINX:-1}           # 1: the same against an nginx of its own
BENCH_WEBDAV_FILES=${BENCH_WEBDAV_FILES:-1000}    # files of the WebDAV copy of many
BENCH_WEBDAV_FILE_KB=${BENCH_WEBDAV_FILE_KB:-10}  # size of each of them (1000 bytes)
BENCH_WEBDAV_BIG_MIB=${BENCH_WEBDAV_BIG_MIB:-1024}  # the one large file copied
BENCH_WEBDAV_ROUNDS=${BENCH_WEBDAV_ROUNDS:-3}    # copies per server, the best counts
BENCH_WEBDAV_RATIO_MIN=${BENCH_WEBDAV_RATIO_MIN:-1.0}  # Vantry/faster peer, time of a copy
BENCH_WEBDAV_TIMEOUT=${BENCH_WEBDAV_TIMEOUT:-600}  # seconds for one rclone copy
BENCH_PROPFIND_ENTRIES=${BENCH_PROPFIND_ENTRIES:-10000}  # files of the folder listed
BENCH_PROPFIND_ROUNDS=${BENCH_PROPFIND_ROUNDS:-5}  # PROPFINDs per server, the best counts
BENCH_PROPFIND_MAX_MS=${BENCH_PROPFIND_MAX_MS:-150}  # Vantry's PROPFIND Depth 1 of that folder
BENCH_ACME_SECONDS=${BENCH_ACME_SECONDS:-40}     # length of each load of the renewal scenario
BENCH_ACME_AB_REQUESTS=${BENCH_ACME_AB_REQUESTS:-0}  # its ab requests; 0: as many as fit in that time
BENCH_ACME_AB_CONCURRENCY=${BENCH_ACME_AB_CONCURRENCY:-4}  # ab's clients, a new handshake per request
BENCH_ACME_WRK_CONNECTIONS=${BENCH_ACME_WRK_CONNECTIONS:-8}  # wrk's kept connections
BENCH_ACME_WAIT=${BENCH_ACME_WAIT:-60}           # seconds for the first certificate, and for HTTPS
BENCH_ACME_OBTAIN_MAX_S=${BENCH_ACME_OBTAIN_MAX_S:-10}  # seconds from Vantry's start to the certificate
BENCH_ACME_MIN_RENEWALS=${BENCH_ACME_MIN_RENEWALS:-2}  # renewals each load must meet

# A file no server has: every server answers it with the same 404 page. (GET / is no longer
# one: Vantry refuses a web root without an index page with 403.)
MISSING_PATH=/missing-page.html

# The peers measured beside Vantry; each has start_NAME (given the 404 page to answer
# with), stop_NAME, NAME_PID and NAME_URL.
PEERS=(nginx lighttpd)

# Every server a scenario may name: the variables holding its URL and its process id.
# "+login" servers are asked with the benchmark's login, "+admin" ones with the
# administrator's.
declare -A SERVER_URL_VAR=(
    [vantry]=VANTRY_URL [nginx]=NGINX_URL [lighttpd]=LIGHTTPD_URL [vantry+admin]=VANTRY_URL
    [vantry+log]=VANTRY_LOG_URL [vantry+nolog]=VANTRY_NOLOG_URL
    [vantry+login]=VANTRY_LOGIN_URL [nginx+login]=NGINX_AUTH_URL
    [vantry+upload]=VANTRY_UPLOAD_URL
    [vantry+v6]=VANTRY_DUAL_V6_URL [vantry+v4]=VANTRY_DUAL_URL
    [vantry+tls]=VANTRY_HTTPS_TLS_URL [nginx+tls]=NGINX_TLS_URL
    [vantry+stall]=VANTRY_STALL_URL
    [vantry+proxy]=HAPROXY_VANTRY_URL [nginx+proxy]=HAPROXY_NGINX_URL
    [nginx+ka]=NGINX_KA_URL [vantry+idle]=VANTRY_IDLE_URL [nginx+idle]=NGINX_IDLE_URL
    [vantry+modern]=VANTRY_MODERN_URL [vantry+modern+admin]=VANTRY_MODERN_URL
    [vantry+multipart]=VANTRY_MULTIPART_URL [nginx+put]=NGINX_PUT_URL
    [vantry+dav]=VANTRY_DAV_URL [nginx+dav]=NGINX_DAV_URL [lighttpd+dav]=LIGHTTPD_DAV_URL
    [vantry+renewal]=VANTRY_RENEWAL_URL
)
declare -A SERVER_PID_VAR=(
    [vantry]=VANTRY_PID [nginx]=NGINX_PID [lighttpd]=LIGHTTPD_PID [vantry+admin]=VANTRY_PID
    [vantry+log]=VANTRY_LOG_PID [vantry+nolog]=VANTRY_NOLOG_PID
    [vantry+login]=VANTRY_LOGIN_PID [nginx+login]=NGINX_PID
    [vantry+upload]=VANTRY_UPLOAD_PID
    [vantry+v6]=VANTRY_DUAL_PID [vantry+v4]=VANTRY_DUAL_PID
    [vantry+tls]=VANTRY_HTTPS_PID [nginx+tls]=NGINX_PID
    [vantry+stall]=VANTRY_STALL_PID
    [vantry+proxy]=VANTRY_PROXIED_PID [nginx+proxy]=NGINX_PID
    [nginx+ka]=NGINX_PID [vantry+idle]=VANTRY_IDLE_PID [nginx+idle]=NGINX_IDLE_PID
    [vantry+modern]=VANTRY_MODERN_PID [vantry+modern+admin]=VANTRY_MODERN_PID
    [vantry+multipart]=VANTRY_MULTIPART_PID [nginx+put]=NGINX_PUT_PID
    [vantry+dav]=VANTRY_DAV_PID [nginx+dav]=NGINX_DAV_PID [lighttpd+dav]=LIGHTTPD_DAV_PID
    [vantry+renewal]=VANTRY_RENEWAL_PID
)
# Set by bench_start_vantry_in and read through the tables above.
# shellcheck disable=SC2034
VANTRY_LOG_PID="" VANTRY_LOG_URL="" VANTRY_NOLOG_PID="" VANTRY_NOLOG_URL=""
# shellcheck disable=SC2034
VANTRY_LOGIN_PID="" VANTRY_LOGIN_URL=""
# shellcheck disable=SC2034
VANTRY_UPLOAD_PID="" VANTRY_UPLOAD_URL=""
# shellcheck disable=SC2034
VANTRY_DUAL_PID="" VANTRY_DUAL_URL="" VANTRY_DUAL_PORT="" VANTRY_DUAL_V6_URL=""
# shellcheck disable=SC2034
VANTRY_HTTPS_PID="" VANTRY_HTTPS_TLS_URL=""
# shellcheck disable=SC2034
VANTRY_STALL_PID="" VANTRY_STALL_URL=""
# shellcheck disable=SC2034
VANTRY_PROXIED_PID="" VANTRY_PROXIED_PORT=""
# shellcheck disable=SC2034
VANTRY_IDLE_PID="" VANTRY_IDLE_URL=""
# shellcheck disable=SC2034
VANTRY_MODERN_PID="" VANTRY_MODERN_URL=""
# shellcheck disable=SC2034
VANTRY_MULTIPART_PID="" VANTRY_MULTIPART_URL=""
# shellcheck disable=SC2034
VANTRY_DAV_PID="" VANTRY_DAV_URL=""
# shellcheck disable=SC2034
VANTRY_RENEWAL_PID="" VANTRY_RENEWAL_URL="" VANTRY_RENEWAL_PORT="" VANTRY_RENEWAL_TLS_URL=""

# The scenarios, in order. scenario_NAME prepares the web root (and any server of its own)
# and sets SCENARIO_TITLE, SCENARIO_PATH and SCENARIO_STATUS (the status every server must
# answer; with several, the first server's answer picks one for all); it may set
# SCENARIO_SERVERS (the first is the one the others are compared with;
# default Vantry and every peer), SCENARIO_CONCURRENCY, SCENARIO_REQUESTS (per run, for slow
# answers), SCENARIO_TOOL (ab; wrk for connections kept open, every server must then keep
# them; curl for a download rate; another NAME is run_NAME), SCENARIO_RANGE (curl: download
# only the bytes from this offset on, as a resumed download does, answered 206), SCENARIO_LENGTH_VARIES (1 when a
# differing body length is no failure), SCENARIO_PAGES_DIFFER (1 when each server sends a page
# of its own, of its own length) and SCENARIO_AFTER (a function run after it).
# BENCH_SCENARIOS may name some of them; the checks of the others are then skipped.
# The two gibibyte scenarios come last (about a minute and a half together, a few percent of a
# full run): the gibibytes they write through the page cache are then no other's burden.
ALL_SCENARIOS=(not_found file_1k file_100k keepalive_1k keepalive_100k big_file resume cgi_perl cgi_shell
    cgi_php login access_log listing listing_modern server_properties properties_modern search upload upload_concurrent ipv6 https
    http2 proxy_1k stall idle upload_multipart folder_zip)
# Scenarios run only when BENCH_SCENARIOS names them: the WebDAV one writes some ten gibibytes
# through three servers and needs packages of its own; the certificate renewal one needs a
# certificate authority (pebble) and takes a minute and a half of loads.
OPTIONAL_SCENARIOS=(webdav acme_renewal)
read -r -a SCENARIOS <<<"${BENCH_SCENARIOS:-${ALL_SCENARIOS[*]}}"

# A text page of exactly SIZE bytes.
write_page() {
    local size=$1 file=$2
    local head='<html><head><title>Vantry benchmark</title></head><body><pre>'
    local tail=$'</pre></body></html>\n'
    {
        printf '%s\n' "$head"
        yes 'A line of the benchmark page, sent as it is by every server.' |
            head -c $((size - ${#head} - 1 - ${#tail}))
        printf '%s' "$tail"
    } >"$file"
}

# Everything the scenarios ask for, in the shared web root.
prepare_web_root() {
    local www=$BENCH_DIR/www
    write_page 1024 "$www/file.html"
    write_page $((100 * 1024)) "$www/file-100k.html"
    head -c "${BENCH_BIG_MIB}M" /dev/urandom >"$www/big.bin" ||
        bench_die "could not write the $BENCH_BIG_MIB MiB file"
    mkdir -p "$www/cgi-bin"
    cat >"$www/cgi-bin/hello.pl" <<'PERL'
#!/usr/bin/perl
print "Content-Type: text/plain\r\n\r\nhello\n";
PERL
    cat >"$www/cgi-bin/hello.sh" <<'SH'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\nhello\n'
SH
    chmod 755 "$www/cgi-bin/hello.pl" "$www/cgi-bin/hello.sh"
    printf '<?php echo "hello\\n";\n' >"$www/cgi-bin/hello.php"
    # Reads the whole body it is sent, then answers (the stall scenario).
    cat >"$www/cgi-bin/drain.sh" <<'SH'
#!/bin/sh
head -c "${CONTENT_LENGTH:-0}" >/dev/null
printf 'Content-Type: text/plain\r\n\r\ndrained\n'
SH
    chmod 755 "$www/cgi-bin/drain.sh"
    # The listed directory: files of a few sizes, every one with the same time.
    mkdir -p "$www/listing"
    local i
    for ((i = 1; i <= BENCH_LISTING_ENTRIES; i++)); do
        head -c $((i * 37 % 5000)) "$www/file-100k.html" >"$www/listing/entry-$i.html"
    done
    touch -d '2024-01-02 03:04:05' "$www/listing"/*
    selected search && write_search_tree "$www/search-tree"
}

# The searched tree: BENCH_SEARCH_FILES empty files in 10 directories of 10 subdirectories
# each, one file of every subdirectory named with the word SEARCH_WORD.
SEARCH_WORD=needle
write_search_tree() {
    local top=$1 perLeaf i j leaf n=0
    perLeaf=$(((BENCH_SEARCH_FILES + 99) / 100))
    for ((i = 1; i <= 10; i++)); do
        for ((j = 1; j <= 10; j++)); do
            leaf=$top/part-$i/section-$j
            mkdir -p "$leaf"
            (
                cd "$leaf" || exit 1
                eval "touch file-{1..$((perLeaf - 1))}.txt"
                touch "$SEARCH_WORD-$i-$j.txt"
            ) || bench_die "could not write the searched tree"
            n=$((n + perLeaf))
        done
    done
    SEARCH_TREE_FILES=$n
}

# Every kind of request once in bulk before anything is measured, so that the figures and
# the "warmed up" memory reading include what each kind first allocates (threads' buffers,
# the script runs) and the large file is in the page cache.
warm_up() {
    local server=$1 maxC=$2 maxCgiC=$3 url path
    url=$(server_url "$server")
    local paths=("$MISSING_PATH" /file.html /file-100k.html)
    selected listing && paths+=(/listing/)
    for path in "${paths[@]}"; do
        measure_ab "$url$path" "$BENCH_WARMUP" "$maxC" "warmup-$server${path//\//-}"
    done
    measure_curl "$url/big.bin" "warmup-$server"
    # Connections kept open, on the server that keeps them (nginx's is another of its servers).
    if selected keepalive_1k || selected keepalive_100k; then
        [ "$server" = nginx ] && url=$(server_url nginx+ka)
        for path in /file.html /file-100k.html; do
            measure_wrk "$url$path" 2 "$maxC" "warmup-$server${path//\//-}"
        done
    fi
    if [ "$server" = vantry ] || [ "$server" = lighttpd ]; then
        for path in /cgi-bin/hello.pl /cgi-bin/hello.sh /cgi-bin/hello.php; do
            measure_ab "$url$path" "$BENCH_CGI_WARMUP" "$maxCgiC" "warmup-$server${path//\//-}"
        done
    fi
}

scenario_not_found() {
    SCENARIO_TITLE="GET $MISSING_PATH answered with the 404 page"
    SCENARIO_PATH=$MISSING_PATH
    SCENARIO_STATUS=404
    SCENARIO_LENGTH_VARIES=1
}

scenario_file_1k() {
    SCENARIO_TITLE="a 1 KiB page"
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
}

scenario_file_100k() {
    SCENARIO_TITLE="a 100 KiB file"
    SCENARIO_PATH=/file-100k.html
    SCENARIO_STATUS=200
    SCENARIO_REQUESTS=$BENCH_LARGE_REQUESTS
}

# The two files again over connections kept open, with wrk (one thread) for
# BENCH_WRK_SECONDS a run: Vantry as it is configured by default, nginx's server that keeps
# connections open as Vantry does, and lighttpd, which keeps them open as well.
keepalive_scenario() {
    SCENARIO_TITLE="$1 over kept connections (wrk, HTTP/1.1)"
    SCENARIO_PATH=$2
    SCENARIO_STATUS=200
    SCENARIO_TOOL=wrk
    SCENARIO_SERVERS=(vantry nginx+ka lighttpd)
}

scenario_keepalive_1k() { keepalive_scenario "the 1 KiB page" /file.html; }

scenario_keepalive_100k() { keepalive_scenario "the 100 KiB file" /file-100k.html; }

scenario_big_file() {
    SCENARIO_TITLE="download of a $BENCH_BIG_MIB MiB file with curl"
    SCENARIO_PATH=/big.bin
    SCENARIO_STATUS=200
    SCENARIO_TOOL=curl
}

scenario_resume() {
    SCENARIO_TITLE="the second half of the $BENCH_BIG_MIB MiB file, resumed with curl (206)"
    SCENARIO_PATH=/big.bin
    SCENARIO_STATUS=200
    SCENARIO_TOOL=curl
    SCENARIO_RANGE=$((BENCH_BIG_MIB * 1024 * 1024 / 2))
    # lighttpd answers a range asked for over HTTP/1.0 with the whole file.
    SCENARIO_SERVERS=(vantry nginx)
}

# A script under cgi-bin, against lighttpd's mod_cgi: $1 the title, $2 the script's path.
cgi_scenario() {
    SCENARIO_TITLE=$1
    SCENARIO_PATH=$2
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry lighttpd)
    SCENARIO_CONCURRENCY=$BENCH_CGI_CONCURRENCY
    SCENARIO_REQUESTS=$BENCH_CGI_REQUESTS
}

scenario_cgi_perl() { cgi_scenario "a Perl CGI script (perl hello.pl)" /cgi-bin/hello.pl; }

scenario_cgi_php() {
    cgi_scenario "a PHP page through php-cgi (lighttpd: mod_cgi with the same php-cgi)" \
        /cgi-bin/hello.php
}

scenario_cgi_shell() { cgi_scenario "a shell CGI script run by itself (#!/bin/sh)" /cgi-bin/hello.sh; }

# The Vantry installation of the HTTPS scenarios (vantry+tls): its own, with HTTPS on a free
# port and the certificate nginx serves too.
start_https_vantry() {
    local tlsPort
    tlsPort=$(bench_free_port) || exit 1
    start_extra_vantry vantry-https vantry+tls logs=N "tlsPort=$tlsPort" \
        "tlsCertificate=$BENCH_TLS_CERT" "tlsKey=$BENCH_TLS_KEY"
}

# A Vantry installation of its own and nginx over HTTPS with the same certificate: the 1 KiB
# page, every request a new connection with a full handshake (ab keeps no session), then the
# download.
scenario_https() {
    SCENARIO_TITLE="HTTPS: the 1 KiB page with a full handshake per request, then the $BENCH_BIG_MIB MiB download"
    start_https_vantry
    measure_ab "$NGINX_TLS_URL/file.html" "$BENCH_WARMUP" "$BENCH_RATIO_CONCURRENCY" warmup-nginx-tls
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+tls nginx+tls)
    SCENARIO_CONCURRENCY=$BENCH_HTTPS_CONCURRENCY
    SCENARIO_REQUESTS=$BENCH_HTTPS_REQUESTS
    SCENARIO_AFTER=https_download
}

# The 1 KiB page over HTTP/2 (h2load): a Vantry installation of its own with HTTPS, against
# nginx's HTTPS server with HTTP/2, many streams at a time on few connections.
scenario_http2() {
    SCENARIO_TITLE="HTTP/2: the 1 KiB page, $BENCH_H2_STREAMS streams at a time on each connection (h2load)"
    start_https_vantry
    measure_h2load "$VANTRY_HTTPS_TLS_URL/file.html" 20000 "$BENCH_H2_CONNECTIONS" \
        "$BENCH_H2_STREAMS" warmup-vantry-h2
    measure_h2load "$NGINX_TLS_URL/file.html" 20000 "$BENCH_H2_CONNECTIONS" \
        "$BENCH_H2_STREAMS" warmup-nginx-h2
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_TOOL=h2load
    SCENARIO_SERVERS=(vantry+tls nginx+tls)
    SCENARIO_CONCURRENCY=$BENCH_H2_CONNECTIONS
    SCENARIO_REQUESTS=$BENCH_H2_REQUESTS
    SCENARIO_AFTER="finish_extra_vantry vantry-https vantry+tls"
}

https_download() {
    printf 'download of the %s MiB file over HTTPS with curl\n' "$BENCH_BIG_MIB"
    SCENARIO_PATH=/big.bin
    run_downloads https
    finish_extra_vantry vantry-https vantry+tls
}

# The 1 KiB page through HAProxy to Vantry and through the same HAProxy, with the same
# settings, to nginx: HTTP mode adding X-Forwarded-For, and the PROXY protocol v2 opening
# every connection to the server. Vantry is an installation of its own that expects both
# (proxyProtocol=Y, and HAProxy's address among its trustedProxies); nginx a server of its
# process listening with proxy_protocol. HAProxy starts once Vantry listens, and both are
# warmed up through it.
scenario_proxy_1k() {
    SCENARIO_TITLE="the 1 KiB page through HAProxy (HTTP mode, X-Forwarded-For, PROXY protocol v2 to the server)"
    EXTRA_VANTRY_FRONT=start_haproxy start_extra_vantry vantry-proxied vantry+proxy logs=N \
        proxyProtocol=Y trustedProxies=127.0.0.1
    measure_ab "$HAPROXY_NGINX_URL/file.html" "$BENCH_WARMUP" "$BENCH_RATIO_CONCURRENCY" warmup-nginx-proxy
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+proxy nginx+proxy)
    SCENARIO_AFTER=finish_proxy
}

finish_proxy() {
    finish_extra_vantry vantry-proxied vantry+proxy
    stop_haproxy
}

# Clients that stall each server while one visitor asks for the 1 KiB page: bodies trickled a
# byte at a time to a script that reads all it is sent, and downloads of the large file through
# a small receive buffer that are never read. nginx has no CGI: its drain.sh passes the body
# through its proxy to a server of its own, so that it too waits for the whole body first.
# Vantry is an installation of its own: the stalled clients start every worker of its pool,
# which the main instance's memory readings after its warm-up would count as growth.
scenario_stall() {
    SCENARIO_TITLE="the 1 KiB page, one visitor, while $BENCH_STALL_TRICKLE clients trickle a body and $BENCH_STALL_READERS never read their download"
    start_extra_vantry vantry-stall vantry+stall logs=N cgi=Y
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+stall "${PEERS[@]}")
    SCENARIO_TOOL=stall
    SCENARIO_AFTER="finish_extra_vantry vantry-stall vantry+stall"
}

# bench/stall_driver.py against every server of the scenario in turn, pinned like ab. Sets
# STALL_P99 (by server) and counts the visitor's failures, and a full POST of the stalling
# request not answered 200, in FAILS[stall:server:1]. Its output is kept in stall-driver.txt.
declare -A STALL_P99
run_stall() {
    local server url targets=() out=$BENCH_OUT/stall-driver.txt status word name rest field key
    for server in "${SCENARIO_SERVERS[@]}"; do
        url=$(server_url "$server")
        targets+=("$server=${url#http://}")
    done
    bench_pin_to 1
    # Each server: the full POST (30 s at most), connecting (60 s), the visits, settling.
    "${BENCH_PIN_CMD[@]}" timeout $(((BENCH_STALL_SECONDS + 120) * ${#targets[@]})) \
        python3 "$BENCH_ROOT/bench/stall_driver.py" --seconds "$BENCH_STALL_SECONDS" \
        --trickle "$BENCH_STALL_TRICKLE" --readers "$BENCH_STALL_READERS" \
        --gap-ms "$BENCH_STALL_GAP_MS" --target-ms "$BENCH_STALL_P99_MAX_MS" "${targets[@]}" \
        >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    status=$?
    BENCH_AB_PID=""
    grep -v '^result ' "$out"
    [ "$status" = 0 ] || bench_say "note: the stall driver ended with status $status"
    while read -r word name rest; do
        [ "$word" = result ] || continue
        key=stall:$name:1
        FAILS[$key]=0
        for field in $rest; do
            case $field in
            p99=*) STALL_P99[$name]=${field#p99=} ;;
            failures=*) FAILS[$key]=$((FAILS[$key] + ${field#failures=})) ;;
            probe=failed) FAILS[$key]=$((FAILS[$key] + 1)) ;;
            esac
        done
    done <"$out"
    for server in "${SCENARIO_SERVERS[@]}"; do server_alive "$server"; done
}

# BENCH_IDLE_CONNECTIONS connections that each ask for the 1 KiB page over HTTP/1.1, read
# the answer and stay open and silent, then BENCH_IDLE_REQUESTS new requests timed while they
# are open. Vantry is an installation of its own whose connections may wait
# BENCH_IDLE_KEEPALIVE_SECONDS for their next request (so do nginx's, a process of its own
# with room for them): the main instance's memory check would count the connections' memory
# as growth.
scenario_idle() {
    SCENARIO_TITLE="$BENCH_IDLE_CONNECTIONS idle kept connections, and $BENCH_IDLE_REQUESTS new requests while they are open"
    start_extra_vantry vantry-idle vantry+idle logs=N "[Request]" \
        "keepAliveSeconds=$BENCH_IDLE_KEEPALIVE_SECONDS"
    SCENARIO_SERVERS=(vantry+idle)
    if [ "$BENCH_IDLE_NGINX" = 1 ]; then
        start_nginx_idle "$BENCH_IDLE_CONNECTIONS" "$BENCH_IDLE_KEEPALIVE_SECONDS"
        SCENARIO_SERVERS+=(nginx+idle)
    fi
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_TOOL=idle
    SCENARIO_AFTER=finish_idle
}

finish_idle() {
    finish_extra_vantry vantry-idle vantry+idle
    stop_nginx_idle
}

# bench/idle_driver.py against every server of the scenario in turn, pinned like ab. Sets
# IDLE[server:field] from its result lines and counts in FAILS[idle:server:1] the timed
# requests that failed and the idle connections not opened or not still open at the end.
# Its output is kept in idle-SERVER.txt.
declare -A IDLE
run_idle() {
    local server url pidVar out status word name rest field
    for server in "${SCENARIO_SERVERS[@]}"; do
        url=$(server_url "$server")
        pidVar=${SERVER_PID_VAR[$server]}
        out=$BENCH_OUT/idle-$server.txt
        printf '%s:\n' "$server"
        bench_pin_to 1
        # Opening the connections takes at most 120 s, the timed requests a few seconds each.
        "${BENCH_PIN_CMD[@]}" timeout 600 python3 "$BENCH_ROOT/bench/idle_driver.py" \
            --connections "$BENCH_IDLE_CONNECTIONS" --requests "$BENCH_IDLE_REQUESTS" \
            --pid "${!pidVar}" "$server=${url#http://}" >"$out" 2>&1 &
        BENCH_AB_PID=$!
        wait "$BENCH_AB_PID"
        status=$?
        BENCH_AB_PID=""
        grep -v '^result ' "$out" | sed 's/^/  /'
        [ "$status" = 0 ] || bench_say "note: the idle driver ended with status $status"
        while read -r word name rest; do
            [ "$word" = result ] || continue
            for field in $rest; do IDLE[$name:${field%%=*}]=${field#*=}; done
        done <"$out"
        FAILS[idle:$server:1]=$((${IDLE[$server:failures]:-1} + ${IDLE[$server:kept_failures]:-1} +
            BENCH_IDLE_CONNECTIONS - ${IDLE[$server:still_open]:-0}))
        server_alive "$server"
    done
    printf '%-12s %10s %10s %10s %10s %8s %8s %8s %12s %12s\n' server "held open" \
        "MiB before" "MiB held" "MiB/1000" "p50 ms" "p99 ms" "max ms" "p99 no idle" "p99 kept"
    for server in "${SCENARIO_SERVERS[@]}"; do
        printf '%-12s %10s %10s %10s %10s %8s %8s %8s %12s %12s\n' "$server" \
            "${IDLE[$server:still_open]:-0}/$BENCH_IDLE_CONNECTIONS" \
            "$(mib "${IDLE[$server:rss_before]:-0}")" "$(mib "${IDLE[$server:rss_idle]:-0}")" \
            "$(awk -v a="${IDLE[$server:rss_before]:-0}" -v b="${IDLE[$server:rss_idle]:-0}" \
                -v n="${IDLE[$server:idle]:-0}" 'BEGIN { if (n > 0) printf "%.2f", (b - a) / 1024 * 1000 / n; else print "-" }')" \
            "${IDLE[$server:p50]:--}" "${IDLE[$server:p99]:--}" "${IDLE[$server:max]:--}" \
            "${IDLE[$server:base_p99]:--}" "${IDLE[$server:kept_p99]:--}"
    done
}

# The idle-connections targets: Vantry held every connection, its memory grew by less than
# BENCH_IDLE_RSS_GROWTH_MAX_KIB with them, and new requests were answered within
# BENCH_IDLE_P99_MAX_MS at p99, none failing.
check_idle() {
    measured idle "idle connections" || return
    local s=vantry+idle growth
    growth=$((${IDLE[$s:rss_idle]:-0} - ${IDLE[$s:rss_before]:-0}))
    check "$([ "${IDLE[$s:still_open]:-0}" = "$BENCH_IDLE_CONNECTIONS" ] && echo 1)" \
        "idle connections: vantry held ${IDLE[$s:still_open]:-0} of $BENCH_IDLE_CONNECTIONS open" \
        "(${IDLE[$s:idle]:-0} answered and kept)"
    check "$([ -n "${IDLE[$s:rss_idle]:-}" ] && [ "$growth" -lt "$BENCH_IDLE_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
        "idle connections: vantry's resident memory $(mib "${IDLE[$s:rss_before]:-0}") MiB before," \
        "$(mib "${IDLE[$s:rss_idle]:-0}") MiB with them (growth < $(mib "$BENCH_IDLE_RSS_GROWTH_MAX_KIB") MiB)"
    check "$(awk -v p="${IDLE[$s:p99]:--}" -v m="$BENCH_IDLE_P99_MAX_MS" \
        -v f="${IDLE[$s:failures]:--}" -v k="${IDLE[$s:kept_failures]:--}" \
        'BEGIN { exit !(p != "-" && p != "nan" && p + 0 < m + 0 && f == "0" && k == "0") }' && echo 1)" \
        "idle connections: new requests to vantry while they are open: p99 ${IDLE[$s:p99]:--} ms" \
        "(< $BENCH_IDLE_P99_MAX_MS ms), ${IDLE[$s:failures]:--} failed on new connections," \
        "${IDLE[$s:kept_failures]:--} on a kept one (none)"
}

# Readings of a Vantry instance started for one scenario, taken after its warm-up.
declare -A EXTRA_RSS EXTRA_FDS EXTRA_STOP_STATUS

# Starts a second Vantry installation (NAME in $BENCH_DIR/NAME, the [Config] lines after it),
# runs EXTRA_VANTRY_FRONT when set (the proxy in front of it, which SERVER's URL names), warms
# it up with the login of SERVER when it has one, and takes its readings.
start_extra_vantry() {
    local name=$1 server=$2 pidVar
    shift 2
    bench_start_vantry_in "$BENCH_DIR/$name" "$name" "$@"
    BENCH_PEER_STOPS+=("stop_extra_vantry $name")
    [ -z "${EXTRA_VANTRY_FRONT:-}" ] || "$EXTRA_VANTRY_FRONT"
    # shellcheck disable=SC2046  # login_args gives whole words
    measure_ab "$(server_url "$server")/file.html" "$BENCH_WARMUP" "$BENCH_RATIO_CONCURRENCY" \
        "warmup-$name" $(login_args "$server" -A)
    [ "$server" = vantry+log ] && LOGGED_REQUESTS=$((LOGGED_REQUESTS + AB_COMPLETE))
    sleep 1
    pidVar=${SERVER_PID_VAR[$server]}
    EXTRA_RSS[$name]=$(proc_rss_kib "${!pidVar}")
    EXTRA_FDS[$name]=$(proc_fd_count "${!pidVar}")
}

stop_extra_vantry() {
    local name=$1 prefix
    prefix=${name^^}
    prefix=${prefix//-/_}
    local pidVar=${prefix}_PID
    [ -n "${!pidVar}" ] || return 0
    bench_stop_pid "${!pidVar}" "$name"
    EXTRA_STOP_STATUS[$name]=${BENCH_LAST_STOP_STATUS:-?}
    printf -v "$pidVar" '%s' ""
}

# Prints the instance's memory and descriptors after its scenario, then stops it.
finish_extra_vantry() {
    local name=$1 server=$2 pidVar rss settled
    pidVar=${SERVER_PID_VAR[$server]}
    rss=$(proc_rss_kib "${!pidVar}")
    settled=$(wait_fd_count "${!pidVar}" "${EXTRA_FDS[$name]}" 5)
    printf '%s: resident memory %s MiB after its warm-up, %s MiB after the scenario; descriptors %s, then %s\n' \
        "$server" "$(mib "${EXTRA_RSS[$name]}")" "$(mib "$rss")" "${EXTRA_FDS[$name]}" "${settled% *}"
    stop_extra_vantry "$name"
}

scenario_login() {
    SCENARIO_TITLE="the 1 KiB page behind a Basic login (ab -A) at $BENCH_RATIO_CONCURRENCY clients"
    mkdir -p "$BENCH_DIR/vantry-login"
    cat >"$BENCH_DIR/vantry-login/registry.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]
"AuthenticationRequiredServerOne"=dword:00000001

[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]
"$BENCH_AUTH_USER"="$BENCH_AUTH_PASSWORD"
REG
    start_extra_vantry vantry-login vantry+login logs=N
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+login vantry)
    [ -n "$NGINX_AUTH_URL" ] && SCENARIO_SERVERS+=(nginx+login)
    SCENARIO_CONCURRENCY=$BENCH_RATIO_CONCURRENCY
    SCENARIO_AFTER="finish_extra_vantry vantry-login vantry+login"
}

# Two new installations that differ only in the switch: the main one has served every other
# scenario before, which alone moves its figure by a few percent.
scenario_access_log() {
    SCENARIO_TITLE="the 1 KiB page with the access log (logs=Y) and without, at $BENCH_RATIO_CONCURRENCY clients"
    start_extra_vantry vantry-log vantry+log logs=Y
    start_extra_vantry vantry-nolog vantry+nolog logs=N
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+log vantry+nolog)
    SCENARIO_CONCURRENCY=$BENCH_RATIO_CONCURRENCY
    SCENARIO_AFTER=finish_access_log
}

scenario_listing() {
    SCENARIO_TITLE="the listing of a directory of $BENCH_LISTING_ENTRIES files"
    SCENARIO_PATH=/listing/
    SCENARIO_STATUS=200
    SCENARIO_PAGES_DIFFER=1
    SCENARIO_REQUESTS=$BENCH_LISTING_REQUESTS
}

# An installation like the main one in the modern look (with the same administrator), started
# for SERVER (vantry+modern, or vantry+modern+admin to warm up with the login).
start_modern_vantry() {
    mkdir -p "$BENCH_DIR/vantry-modern"
    cp "$BENCH_DIR/registry.reg" "$BENCH_DIR/vantry-modern/registry.reg"
    start_extra_vantry vantry-modern "$1" logs=N cgi=Y look=modern
}

# The same listing in the modern look (sorted, sizes and dates written for people, an icon
# per entry), against the classic one and nginx's autoindex in the same run.
scenario_listing_modern() {
    SCENARIO_TITLE="the listing of $BENCH_LISTING_ENTRIES files in the modern look, the classic one and nginx's"
    start_modern_vantry vantry+modern
    SCENARIO_PATH=/listing/
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+modern vantry nginx)
    SCENARIO_PAGES_DIFFER=1
    SCENARIO_REQUESTS=$BENCH_LISTING_REQUESTS
    SCENARIO_AFTER="finish_extra_vantry vantry-modern vantry+modern"
}

# The administration page, asked with the administrator's login (the benchmark's client is
# not this machine's own address). It answers 404 until the page exists; it is measured either
# way.
scenario_server_properties() {
    SCENARIO_TITLE="the server properties page (with the administrator's login)"
    SCENARIO_PATH=/admin/serverproperties.html
    SCENARIO_STATUS="200 404"
    SCENARIO_SERVERS=(vantry+admin)
    SCENARIO_REQUESTS=$BENCH_ADMIN_REQUESTS
}

# The server properties page in the modern look against the classic one.
scenario_properties_modern() {
    SCENARIO_TITLE="the server properties page in the modern look and the classic one"
    start_modern_vantry vantry+modern+admin
    SCENARIO_PATH=/admin/serverproperties.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+modern+admin vantry+admin)
    SCENARIO_PAGES_DIFFER=1
    SCENARIO_REQUESTS=$BENCH_ADMIN_REQUESTS
    SCENARIO_AFTER="finish_extra_vantry vantry-modern vantry+modern+admin"
}

# One search of the whole root (the listing, the searched tree and the rest) for a word that
# one file of each subdirectory holds, one client at a time; afterwards find walks the same
# root.
scenario_search() {
    SCENARIO_TITLE="a search of the root ($SEARCH_TREE_FILES files in the searched tree) against find -iname"
    SCENARIO_PATH="/VNT/HandleSearch.html?searchTarget=$SEARCH_WORD"
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry)
    SCENARIO_CONCURRENCY=1
    SCENARIO_REQUESTS=$BENCH_SEARCH_REQUESTS
    SCENARIO_AFTER=time_find_search
}

# The time of `find ROOT -iname "*WORD*"` on the same tree, pinned as the servers are: the
# best of BENCH_ROUNDS rounds of BENCH_SEARCH_REQUESTS runs, after one run that warms the
# page cache. Sets SEARCH_FIND_MS and SEARCH_VANTRY_MS (from the scenario's best rate).
time_find_search() {
    local root=$BENCH_DIR/www round i start ms best="" found
    bench_pin_to 0
    found=$("${BENCH_PIN_CMD[@]}" find "$root" -iname "*$SEARCH_WORD*" | wc -l)
    for ((round = 1; round <= BENCH_ROUNDS; round++)); do
        start=$(date +%s%N)
        for ((i = 0; i < BENCH_SEARCH_REQUESTS; i++)); do
            "${BENCH_PIN_CMD[@]}" find "$root" -iname "*$SEARCH_WORD*" >/dev/null
        done
        ms=$(awk -v t=$(($(date +%s%N) - start)) -v n="$BENCH_SEARCH_REQUESTS" \
            'BEGIN { printf "%.2f", t / 1e6 / n }')
        if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
    done
    SEARCH_FIND_MS=$best
    SEARCH_VANTRY_MS=$(awk -v r="${RPS[search:vantry:1]:-0}" 'BEGIN { if (r > 0) printf "%.2f", 1000 / r; else print "-" }')
    printf 'time per search: vantry %s ms (best of %s rounds of %s), find %s ms (%s names found)\n' \
        "$SEARCH_VANTRY_MS" "$BENCH_ROUNDS" "$BENCH_SEARCH_REQUESTS" "$SEARCH_FIND_MS" "$found"
}

# The uploads go to an installation of their own that takes any size (uploadMaxSizeKB=0) and
# stores in UPLOAD_DIR; the bodies are random files outside the web root.
UPLOAD_DIR="" UPLOAD_SOURCES=""
start_upload_vantry() {
    UPLOAD_DIR=$BENCH_DIR/vantry-upload/uploads
    UPLOAD_SOURCES=$BENCH_DIR/upload-sources
    mkdir -p "$UPLOAD_DIR" "$UPLOAD_SOURCES"
    bench_start_vantry_in "$BENCH_DIR/vantry-upload" vantry-upload logs=N uploadMaxSizeKB=0 \
        "uploadSaveLocation=$UPLOAD_DIR"
    BENCH_PEER_STOPS+=("stop_extra_vantry vantry-upload")
    SCENARIO_PATH=/VNT/HandleFileUpload.html
    # A GET has no Content-Length: the page says so, with status 200.
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+upload)
    SCENARIO_AFTER="stop_extra_vantry vantry-upload"
}

scenario_upload() {
    SCENARIO_TITLE="a $BENCH_UPLOAD_MIB MiB upload with curl, against dd writing the same bytes to the same directory"
    start_upload_vantry
    head -c "${BENCH_UPLOAD_MIB}M" /dev/urandom >"$UPLOAD_SOURCES/big.bin" ||
        bench_die "could not write the $BENCH_UPLOAD_MIB MiB upload"
    head -c 100k /dev/urandom >"$UPLOAD_SOURCES/small.bin"
    SCENARIO_TOOL=upload
}

scenario_upload_concurrent() {
    SCENARIO_TITLE="$BENCH_UPLOAD_CLIENTS uploads of $BENCH_UPLOAD_CLIENT_MIB MiB at once"
    start_upload_vantry
    local i
    for ((i = 1; i <= BENCH_UPLOAD_CLIENTS; i++)); do
        head -c "${BENCH_UPLOAD_CLIENT_MIB}M" /dev/urandom >"$UPLOAD_SOURCES/part-$i.bin" ||
            bench_die "could not write the uploads"
    done
    SCENARIO_TOOL=upload_concurrent
}

# The bodies stored in UPLOAD_DIR without the line feed each begins with, as the sorted list
# of their checksums; "bad" for a file that does not begin with one.
stored_upload_sums() {
    local file
    for file in "$UPLOAD_DIR"/*-POST.mim; do
        [ -e "$file" ] || continue
        if [ "$(head -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ]; then
            tail -c +2 "$file" | sha256sum | cut -d' ' -f1
        else
            echo bad
        fi
    done | sort
}

# One installation without -bind, asked over [::1] and over 127.0.0.2: the same server, the
# same socket, only the address family differs.
scenario_ipv6() {
    SCENARIO_TITLE="the 1 KiB page over IPv6 ([::1]) against IPv4 (127.0.0.2), one server listening on both"
    BENCH_VANTRY_EVERYWHERE=1 start_extra_vantry vantry-dual vantry+v4 logs=N
    VANTRY_DUAL_V6_URL="http://[::1]:$VANTRY_DUAL_PORT"
    measure_ab "$VANTRY_DUAL_V6_URL/file.html" "$BENCH_WARMUP" "$BENCH_RATIO_CONCURRENCY" warmup-vantry-dual-v6
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+v6 vantry+v4)
    SCENARIO_CONCURRENCY="1 $BENCH_RATIO_CONCURRENCY"
    SCENARIO_AFTER=finish_ipv6
}

# A report line, no check: the two families should be the same within the noise of a run
# (BENCH_IPV6_NOISE, a fraction either way).
finish_ipv6() {
    local c r line="" verdict="same within noise"
    for c in $SCENARIO_CONCURRENCY; do
        r=$(ratio "${RPS[ipv6:vantry+v6:$c]:-0}" "${RPS[ipv6:vantry+v4:$c]:-0}")
        line+=", $c client(s) ${RPS[ipv6:vantry+v6:$c]:-0} against ${RPS[ipv6:vantry+v4:$c]:-0} ($r)"
        awk -v r="$r" -v n="$BENCH_IPV6_NOISE" 'BEGIN { exit !(r != "-" && r >= 1 - n && r <= 1 + n) }' ||
            verdict="differ by more than the noise"
    done
    printf 'IPv6/IPv4 requests per second: %s: %s\n' "${line#, }" "$verdict"
    finish_extra_vantry vantry-dual vantry+v4
}

# Results of the upload scenarios for the checks.
UPLOAD_RATE=0 UPLOAD_DD_RATE=0 UPLOAD_HWM_GROWTH="" UPLOAD_WHOLE=0 UPLOAD_CONCURRENT_WHOLE=0

# The large upload, BENCH_UPLOAD_ROUNDS times, each checked byte for byte, taking turns with
# dd writing the same file into the same directory; the best rate of each, and the server's
# memory: resident and peak (VmHWM) after one small upload, and after the large ones.
run_upload() {
    local url pid round rss0 hwm0 rss1 hwm1 expectedSum stored rates="" ddRates=""
    url=$(server_url vantry+upload)$SCENARIO_PATH
    pid=$VANTRY_UPLOAD_PID
    measure_upload "$url" "$UPLOAD_SOURCES/small.bin" warmup
    rm -f "$UPLOAD_DIR"/*
    sleep 0.5
    rss0=$(proc_rss_kib "$pid")
    hwm0=$(proc_hwm_kib "$pid")
    expectedSum=$(sha256sum <"$UPLOAD_SOURCES/big.bin" | cut -d' ' -f1)
    UPLOAD_WHOLE=1
    for ((round = 1; round <= BENCH_UPLOAD_ROUNDS; round++)); do
        measure_upload "$url" "$UPLOAD_SOURCES/big.bin" "big-r$round"
        stored=$(stored_upload_sums)
        if [ "$UPLOAD_CODE" != 200 ] || [ "$stored" != "$expectedSum" ]; then
            UPLOAD_WHOLE=0
            bench_say "note: upload round $round answered $UPLOAD_CODE; stored: ${stored:-nothing}"
        else
            at_least "$UPLOAD_RATE" "$UPLOAD_SPEED" || UPLOAD_RATE=$UPLOAD_SPEED
        fi
        rates+=" $(mib_per_s "$UPLOAD_SPEED")"
        server_alive vantry+upload
        rm -f "$UPLOAD_DIR"/*
        measure_dd "$UPLOAD_SOURCES/big.bin" "$UPLOAD_DIR/dd.bin"
        at_least "$UPLOAD_DD_RATE" "$DD_SPEED" || UPLOAD_DD_RATE=$DD_SPEED
        ddRates+=" $(mib_per_s "$DD_SPEED")"
        rm -f "$UPLOAD_DIR"/*
    done
    sleep 0.5
    rss1=$(proc_rss_kib "$pid")
    hwm1=$(proc_hwm_kib "$pid")
    UPLOAD_HWM_GROWTH=$((hwm1 - hwm0))
    printf '%-22s %10s  %s\n' "" "best MiB/s" "each round (MiB/s)"
    printf '%-22s %10s  %s\n' "vantry upload" "$(mib_per_s "$UPLOAD_RATE")" "${rates# }"
    printf '%-22s %10s  %s\n' "dd (bs=256k)" "$(mib_per_s "$UPLOAD_DD_RATE")" "${ddRates# }"
    printf 'vantry/dd: %s; stored whole in every round: %s\n' \
        "$(ratio "$UPLOAD_RATE" "$UPLOAD_DD_RATE")" "$([ "$UPLOAD_WHOLE" = 1 ] && echo yes || echo no)"
    printf 'vantry-upload memory (MiB): resident %s before, %s after; peak %s before, %s after\n' \
        "$(mib "$rss0")" "$(mib "$rss1")" "$(mib "$hwm0")" "$(mib "$hwm1")"
}

# BENCH_UPLOAD_CLIENTS uploads started together; every body must be stored whole, each in a
# file of its own.
run_upload_concurrent() {
    local url i start end expected stored codes bad=0 size
    url=$(server_url vantry+upload)$SCENARIO_PATH
    rm -f "$UPLOAD_DIR"/*
    expected=$(for ((i = 1; i <= BENCH_UPLOAD_CLIENTS; i++)); do
        sha256sum <"$UPLOAD_SOURCES/part-$i.bin" | cut -d' ' -f1
    done | sort)
    size=$((BENCH_UPLOAD_CLIENT_MIB * 1048576))
    bench_pin_to 1
    start=$(date +%s.%N)
    (
        for ((i = 1; i <= BENCH_UPLOAD_CLIENTS; i++)); do
            "${BENCH_PIN_CMD[@]}" curl --http1.0 -s --max-time "$BENCH_CURL_TIMEOUT" \
                --data-binary "@$UPLOAD_SOURCES/part-$i.bin" -o "$BENCH_OUT/upload-c$i.html" \
                -w '%{http_code}\n' "$url" >"$BENCH_OUT/upload-c$i.txt" 2>&1 &
        done
        wait
    ) &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    BENCH_AB_PID=""
    end=$(date +%s.%N)
    for ((i = 1; i <= BENCH_UPLOAD_CLIENTS; i++)); do
        codes=$(cat "$BENCH_OUT/upload-c$i.txt" 2>/dev/null)
        if [ "$codes" != 200 ] ||
            ! grep -qF "Reception Acknowledged &nbsp $((size + 1)) Bytes Received" "$BENCH_OUT/upload-c$i.html"; then
            bad=$((bad + 1))
        fi
    done
    stored=$(stored_upload_sums)
    UPLOAD_CONCURRENT_WHOLE=0
    [ "$bad" = 0 ] && [ "$stored" = "$expected" ] && UPLOAD_CONCURRENT_WHOLE=1
    printf '%s uploads of %s MiB in %s s: %s MiB/s together; %s answers not as expected; %s of %s files stored whole\n' \
        "$BENCH_UPLOAD_CLIENTS" "$BENCH_UPLOAD_CLIENT_MIB" \
        "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')" \
        "$(awk -v a="$start" -v b="$end" -v m=$((BENCH_UPLOAD_CLIENTS * BENCH_UPLOAD_CLIENT_MIB)) \
            'BEGIN { printf "%.1f", m / (b - a) }')" "$bad" \
        "$(comm -12 <(echo "$expected") <(echo "$stored") | grep -c .)" "$BENCH_UPLOAD_CLIENTS"
    rm -f "$UPLOAD_DIR"/*
}

# dd copying SOURCE to DEST in blocks of 256 KiB, pinned as the servers are (it does a server's
# part: the bytes into a file of the directory) and without a sync, as a server's write too
# leaves them to the page cache. Sets DD_SPEED (bytes per second).
measure_dd() {
    local source=$1 dest=$2 seconds
    bench_pin_to 0
    seconds=$("${BENCH_PIN_CMD[@]}" dd if="$source" of="$dest" bs=256k 2>&1 |
        awk '/copied/ { print $(NF - 3) }')
    DD_SPEED=$(awk -v b="$(stat -c %s "$source")" -v s="$seconds" \
        'BEGIN { if (s > 0) printf "%.0f", b / s; else print 0 }')
}

# One upload with curl, pinned like ab, ARGS... being curl's (the body and the URL); the page
# answered goes to $BENCH_OUT/upload-LABEL.html. While it runs, the resident memory of PID
# (none when empty) is read every 0.2 s. Sets UPLOAD_CODE, UPLOAD_BYTES and UPLOAD_SPEED as
# measure_upload does, UPLOAD_RSS_PEAK (KiB, the highest reading) and UPLOAD_RSS_READINGS.
measure_sampled_upload() {
    local label=$1 pid=$2 out=$BENCH_OUT/upload-$1.txt rss i
    shift 2
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" curl -s --max-time "$BENCH_CURL_TIMEOUT" -o "$BENCH_OUT/upload-$label.html" \
        -w '%{http_code} %{size_upload} %{speed_upload}\n' "$@" >"$out" 2>&1 &
    BENCH_AB_PID=$!
    UPLOAD_RSS_PEAK=0 UPLOAD_RSS_READINGS=0
    # curl ends within its time limit; the count of readings bounds the loop as well.
    for ((i = 0; i < BENCH_CURL_TIMEOUT * 5 + 50; i++)); do
        kill -0 "$BENCH_AB_PID" 2>/dev/null || break
        if [ -n "$pid" ]; then
            rss=$(proc_rss_kib "$pid")
            [ "${rss:-0}" -gt "$UPLOAD_RSS_PEAK" ] && UPLOAD_RSS_PEAK=$rss
            UPLOAD_RSS_READINGS=$((UPLOAD_RSS_READINGS + 1))
        fi
        sleep 0.2
    done
    wait "$BENCH_AB_PID"
    BENCH_AB_PID=""
    read -r UPLOAD_CODE UPLOAD_BYTES UPLOAD_SPEED <"$out"
    : "${UPLOAD_CODE:=000}" "${UPLOAD_BYTES:=0}" "${UPLOAD_SPEED:=0}"
}

# True when DIR holds one file, NAME, with the sha256 SUM.
stored_as_sent() {
    local dir=$1 name=$2 sum=$3
    [ "$(find "$dir" -mindepth 1 -maxdepth 1 -printf '%f\n')" = "$name" ] && [ "$(sha256sum <"$dir/$name" | cut -d' ' -f1)" = "$sum" ]
}

# The multipart upload goes to a modern-look installation of its own that takes any size
# (uploadMaxSizeMB=0) and stores each file of the form under its own name in MULTIPART_DIR;
# nginx stores the same file sent as a PUT into that directory, and dd copies it there. The
# source lies beside it, outside the web root, on the same disk.
MULTIPART_DIR="" MULTIPART_SOURCE="" MULTIPART_PEER=""
scenario_upload_multipart() {
    SCENARIO_TITLE="a $BENCH_MULTIPART_MIB MiB upload with curl -F to the modern look, against dd and nginx's PUT (curl -T) writing the same bytes to the same directory"
    MULTIPART_DIR=$BENCH_DIR/vantry-multipart/uploads
    MULTIPART_SOURCE=$BENCH_DIR/multipart-source
    mkdir -p "$MULTIPART_DIR" "$MULTIPART_SOURCE"
    head -c "${BENCH_MULTIPART_MIB}M" /dev/urandom >"$MULTIPART_SOURCE/big.bin" ||
        bench_die "could not write the $BENCH_MULTIPART_MIB MiB upload"
    head -c 100k /dev/urandom >"$MULTIPART_SOURCE/small.bin"
    start_extra_vantry vantry-multipart vantry+multipart logs=N look=modern uploadMaxSizeMB=0 \
        "uploadSaveLocation=$MULTIPART_DIR"
    # nginx stores a PUT only with its WebDAV module (nginx-light has it).
    MULTIPART_PEER=""
    if "$(bench_nginx_binary)" -V 2>&1 | grep -q http_dav_module; then
        start_nginx_put "$MULTIPART_DIR"
        MULTIPART_PEER="nginx+put"
    else
        bench_say "note: this nginx has no WebDAV module; no PUT to compare with"
    fi
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+multipart)
    SCENARIO_TOOL=upload_multipart
    SCENARIO_AFTER=finish_upload_multipart
}

# Results of the multipart upload for the checks.
MULTIPART_RATE=0 MULTIPART_DD_RATE=0 MULTIPART_PEER_RATE=0 MULTIPART_WHOLE=0
MULTIPART_RSS_BASE=0 MULTIPART_RSS_PEAK=0

# The multipart upload BENCH_UPLOAD_ROUNDS times, each stored file checked against the source,
# taking turns with dd and nginx's PUT; the best rate of each. Vantry's resident memory is
# read before (after one small upload) and every 0.2 s during the large ones.
run_upload_multipart() {
    local url=$VANTRY_MULTIPART_URL/VNT/HandleFileUpload.html source=$MULTIPART_SOURCE/big.bin
    local pid=$VANTRY_MULTIPART_PID round expected readings=0 peerWhole=-
    local rates="" ddRates="" peerRates=""
    [ -n "$MULTIPART_PEER" ] && peerWhole=yes
    measure_sampled_upload multipart-warmup "" -F "file=@$MULTIPART_SOURCE/small.bin" "$url"
    rm -f "$MULTIPART_DIR"/*
    sleep 0.5
    MULTIPART_RSS_BASE=$(proc_rss_kib "$pid")
    MULTIPART_RSS_PEAK=$MULTIPART_RSS_BASE
    expected=$(sha256sum <"$source" | cut -d' ' -f1)
    MULTIPART_WHOLE=1
    for ((round = 1; round <= BENCH_UPLOAD_ROUNDS; round++)); do
        measure_sampled_upload "multipart-r$round" "$pid" -F "file=@$source" "$url"
        [ "$UPLOAD_RSS_PEAK" -gt "$MULTIPART_RSS_PEAK" ] && MULTIPART_RSS_PEAK=$UPLOAD_RSS_PEAK
        readings=$((readings + UPLOAD_RSS_READINGS))
        if [ "$UPLOAD_CODE" != 200 ] || ! stored_as_sent "$MULTIPART_DIR" big.bin "$expected"; then
            MULTIPART_WHOLE=0
            bench_say "note: multipart round $round answered $UPLOAD_CODE; stored:" \
                "$(find "$MULTIPART_DIR" -mindepth 1 -maxdepth 1 -printf '%f\n' | head -n 3 | paste -sd' ' -)"
        else
            at_least "$MULTIPART_RATE" "$UPLOAD_SPEED" || MULTIPART_RATE=$UPLOAD_SPEED
        fi
        rates+=" $(mib_per_s "$UPLOAD_SPEED")"
        server_alive vantry+multipart
        rm -f "$MULTIPART_DIR"/*
        measure_dd "$source" "$MULTIPART_DIR/big.bin"
        at_least "$MULTIPART_DD_RATE" "$DD_SPEED" || MULTIPART_DD_RATE=$DD_SPEED
        ddRates+=" $(mib_per_s "$DD_SPEED")"
        rm -f "$MULTIPART_DIR"/*
        [ -n "$MULTIPART_PEER" ] || continue
        measure_sampled_upload "put-r$round" "" -T "$source" "$NGINX_PUT_URL/big.bin"
        if [ "$UPLOAD_CODE" != 201 ] || ! stored_as_sent "$MULTIPART_DIR" big.bin "$expected"; then
            peerWhole=no
            bench_say "note: nginx's PUT round $round answered $UPLOAD_CODE"
        else
            at_least "$MULTIPART_PEER_RATE" "$UPLOAD_SPEED" || MULTIPART_PEER_RATE=$UPLOAD_SPEED
        fi
        peerRates+=" $(mib_per_s "$UPLOAD_SPEED")"
        server_alive "$MULTIPART_PEER"
        rm -f "$MULTIPART_DIR"/*
    done
    printf '%-22s %10s  %s\n' "" "best MiB/s" "each round (MiB/s)"
    printf '%-22s %10s  %s\n' "vantry multipart" "$(mib_per_s "$MULTIPART_RATE")" "${rates# }"
    printf '%-22s %10s  %s\n' "dd (bs=256k)" "$(mib_per_s "$MULTIPART_DD_RATE")" "${ddRates# }"
    [ -z "$MULTIPART_PEER" ] ||
        printf '%-22s %10s  %s\n' "nginx PUT" "$(mib_per_s "$MULTIPART_PEER_RATE")" "${peerRates# }"
    printf 'vantry/dd: %s; vantry/nginx: %s; stored whole in every round: vantry %s, nginx %s\n' \
        "$(ratio "$MULTIPART_RATE" "$MULTIPART_DD_RATE")" "$(ratio "$MULTIPART_RATE" "$MULTIPART_PEER_RATE")" \
        "$([ "$MULTIPART_WHOLE" = 1 ] && echo yes || echo no)" \
        "$peerWhole"
    printf 'vantry-multipart resident memory: %s KiB before, at most %s KiB during the uploads (%s readings); growth %s KiB\n' \
        "$MULTIPART_RSS_BASE" "$MULTIPART_RSS_PEAK" "$readings" "$((MULTIPART_RSS_PEAK - MULTIPART_RSS_BASE))"
    measure_resumed_upload "$source" "$expected"
}

# The same file as a resumable upload whose connection drops after three quarters of it (the
# body declared whole), finished from the offset the server then holds: the second request
# must carry only the last quarter, and the stored file must be the source byte for byte.
# Sets RESUME_WHOLE (1 when so) and prints the driver's figures.
RESUME_WHOLE=0
measure_resumed_upload() {
    local source=$1 expected=$2 size cut result first held second seconds
    local authority=${VANTRY_MULTIPART_URL#http://}
    size=$(stat -c %s "$source")
    cut=$((size * 3 / 4))
    bench_pin_to 1
    result=$("${BENCH_PIN_CMD[@]}" python3 "$BENCH_ROOT/bench/resume_driver.py" \
        "${authority%:*}" "${authority##*:}" "$source" "$cut" 2>&1 | tail -n 1)
    first=$(sed -n 's/.* first=\([0-9]*\).*/\1/p' <<<"$result")
    held=$(sed -n 's/.* held=\([0-9]*\).*/\1/p' <<<"$result")
    second=$(sed -n 's/.* second=\([0-9]*\).*/\1/p' <<<"$result")
    seconds=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$result")
    RESUME_WHOLE=0
    if [[ $result == result* ]] && [ "$held" = "$cut" ] && [ "$((${held:-0} + ${second:-0}))" = "$size" ] &&
        stored_as_sent "$MULTIPART_DIR" big.bin "$expected"; then
        RESUME_WHOLE=1
    fi
    printf 'resumable upload of %s bytes cut after %s: the server held %s, the second request sent %s in %s s (%s)\n' \
        "$size" "$first" "$held" "$second" "$seconds" "$result"
    rm -f "$MULTIPART_DIR"/* "$MULTIPART_DIR"/.resumable-*
}

finish_upload_multipart() {
    stop_nginx_put
    finish_extra_vantry vantry-multipart vantry+multipart
    rm -rf "$MULTIPART_SOURCE" "$MULTIPART_DIR"
}

# The zipped folder and one file of the same bytes lie in the web root only for this
# scenario; the modern-look installation serves both.
scenario_folder_zip() {
    SCENARIO_TITLE="a folder of $BENCH_ZIP_FILES files of $BENCH_ZIP_FILE_KIB KiB as one ZIP (?zip) from the modern look, against one file of the same bytes from the same server"
    local www=$BENCH_DIR/www
    mkdir -p "$www/zipdir"
    # One stream of random bytes cut into the files, then the same bytes as one file.
    head -c $((BENCH_ZIP_FILES * BENCH_ZIP_FILE_KIB * 1024)) /dev/urandom |
        (cd "$www/zipdir" && split -b "${BENCH_ZIP_FILE_KIB}K" -a 5 -d - part-) ||
        bench_die "could not write the zipped folder"
    cat "$www/zipdir"/part-* >"$www/one-file.bin" || bench_die "could not write the one file"
    start_modern_vantry vantry+modern
    SCENARIO_PATH=/zipdir/
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+modern)
    SCENARIO_TOOL=folder_zip
    SCENARIO_AFTER=finish_folder_zip
}

# Results of the folder's ZIP for the checks.
ZIP_RATE=0 ZIP_FILE_RATE=0 ZIP_WHOLE=0

# The folder's ZIP and the one file downloaded in turns, BENCH_ZIP_ROUNDS times; the best rate
# of each. Every ZIP must be answered 200 with the files' bytes and no more than 512 bytes of
# headers per file; one more is saved and tested: unzip checks every entry's CRC, the entries
# are counted, and the first and last are compared with their files.
run_folder_zip() {
    local base=$VANTRY_MODERN_URL round bytes least most zipRates="" fileRates="" saved entries
    local zipdir=$BENCH_DIR/www/zipdir first last tested=no
    bytes=$((BENCH_ZIP_FILES * BENCH_ZIP_FILE_KIB * 1024))
    # A stored entry costs at least its local header and its central directory record.
    least=$((bytes + BENCH_ZIP_FILES * 76 + 22))
    most=$((bytes + BENCH_ZIP_FILES * 512 + 4096))
    ZIP_WHOLE=1
    for ((round = 1; round <= BENCH_ZIP_ROUNDS; round++)); do
        measure_curl "$base/zipdir/?zip" "zip-r$round"
        if [ "$CURL_CODE" != 200 ] || [ "$CURL_BYTES" -lt "$least" ] || [ "$CURL_BYTES" -gt "$most" ]; then
            ZIP_WHOLE=0
            bench_say "note: the ZIP answered $CURL_CODE with $CURL_BYTES bytes ($least to $most expected)"
        else
            at_least "$ZIP_RATE" "$CURL_SPEED" || ZIP_RATE=$CURL_SPEED
        fi
        zipRates+=" $(mib_per_s "$CURL_SPEED")"
        measure_curl "$base/one-file.bin" "zip-file-r$round"
        if [ "$CURL_CODE" != 200 ] || [ "$CURL_BYTES" != "$bytes" ]; then
            bench_say "note: the one file answered $CURL_CODE with $CURL_BYTES of $bytes bytes"
        else
            at_least "$ZIP_FILE_RATE" "$CURL_SPEED" || ZIP_FILE_RATE=$CURL_SPEED
        fi
        fileRates+=" $(mib_per_s "$CURL_SPEED")"
        server_alive vantry+modern
    done
    saved=$BENCH_DIR/zipdir.zip
    first=$(cd "$zipdir" && find . -maxdepth 1 -type f -printf '%f\n' | sort | head -n 1)
    last=$(cd "$zipdir" && find . -maxdepth 1 -type f -printf '%f\n' | sort | tail -n 1)
    entries=0
    if curl -s --max-time "$BENCH_CURL_TIMEOUT" -o "$saved" "$base/zipdir/?zip" &&
        unzip -tq "$saved" >"$BENCH_OUT/unzip-test.txt" 2>&1; then
        entries=$(unzip -Z1 "$saved" | grep -c .)
        if [ "$entries" = "$BENCH_ZIP_FILES" ] && unzip -p "$saved" "$first" | cmp -s - "$zipdir/$first" &&
            unzip -p "$saved" "$last" | cmp -s - "$zipdir/$last"; then
            tested=yes
        fi
    fi
    [ "$tested" = yes ] || ZIP_WHOLE=0
    rm -f "$saved"
    printf '%-22s %10s  %s\n' "" "best MiB/s" "each round (MiB/s)"
    printf '%-22s %10s  %s\n' "zipdir/?zip" "$(mib_per_s "$ZIP_RATE")" "${zipRates# }"
    printf '%-22s %10s  %s\n' "one-file.bin" "$(mib_per_s "$ZIP_FILE_RATE")" "${fileRates# }"
    printf 'zip/file: %s; the saved ZIP: %s entries, unzip -tq: %s, first and last entries as their files: %s\n' \
        "$(ratio "$ZIP_RATE" "$ZIP_FILE_RATE")" "$entries" \
        "$(tail -n 1 "$BENCH_OUT/unzip-test.txt" 2>/dev/null)" "$tested"
}

finish_folder_zip() {
    rm -rf "$BENCH_DIR/www/zipdir" "$BENCH_DIR/www/one-file.bin"
    finish_extra_vantry vantry-modern vantry+modern
}

# The WebDAV scenario (chosen only by name): rclone copies a folder of BENCH_WEBDAV_FILES
# random files and one random file of BENCH_WEBDAV_BIG_MIB MiB to Vantry's network drive (an
# installation of its own, webdav=W over the whole site), to nginx's WebDAV (dav_methods and
# the dav-ext module's PROPFIND) and to lighttpd's mod_webdav, each a process of its own
# serving the shared web root; each copy goes into a folder of its own there (dav-NAME),
# removed before the next. Then PROPFIND Depth 1 of a folder of BENCH_PROPFIND_ENTRIES files.
WEBDAV_SOURCE=""
scenario_webdav() {
    SCENARIO_TITLE="rclone copy of $BENCH_WEBDAV_FILES files of $BENCH_WEBDAV_FILE_KB KB and of one $BENCH_WEBDAV_BIG_MIB MiB file over WebDAV, and PROPFIND Depth 1 of a folder of $BENCH_PROPFIND_ENTRIES files"
    local www=$BENCH_DIR/www
    WEBDAV_SOURCE=$BENCH_DIR/webdav-source
    mkdir -p "$WEBDAV_SOURCE/many" "$WEBDAV_SOURCE/big" "$www/propfind"
    # One stream of random bytes cut into the files.
    head -c $((BENCH_WEBDAV_FILES * BENCH_WEBDAV_FILE_KB * 1000)) /dev/urandom |
        (cd "$WEBDAV_SOURCE/many" && split -b "${BENCH_WEBDAV_FILE_KB}000" -a 5 -d - file-) ||
        bench_die "could not write the WebDAV scenario's files"
    head -c "${BENCH_WEBDAV_BIG_MIB}M" /dev/urandom >"$WEBDAV_SOURCE/big/big.bin" ||
        bench_die "could not write the WebDAV scenario's large file"
    (cd "$www/propfind" && seq -f 'entry-%g.txt' 1 "$BENCH_PROPFIND_ENTRIES" | xargs touch) ||
        bench_die "could not write the listed folder"
    touch -d '2024-01-02 03:04:05' "$www/propfind"
    start_extra_vantry vantry-dav vantry+dav logs=N webdav=W webdavPath=/
    start_nginx_dav "$www"
    start_lighttpd_dav "$www"
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+dav nginx+dav lighttpd+dav)
    SCENARIO_TOOL=webdav
    SCENARIO_AFTER=finish_webdav
}

# Results of the WebDAV scenario for the checks: the best time of a copy in seconds (key:
# many:SERVER or big:SERVER), the best PROPFIND in ms (key: SERVER), and whether every copy
# arrived whole and every listing was complete.
declare -A WEBDAV_BEST PROPFIND_BEST_MS
WEBDAV_WHOLE=0 PROPFIND_WHOLE=0

# The copies, the servers taking turns in every round; then the PROPFINDs.
run_webdav() {
    local server url name conf=$BENCH_DIR/rclone.conf
    : >"$conf"
    for server in "${SCENARIO_SERVERS[@]}"; do
        url=$(server_url "$server")
        if ! curl -s --max-time 10 -X OPTIONS -D - -o /dev/null "$url/" | tr -d '\r' |
            grep -qiE '^DAV:.*\b1\b'; then
            SKIPPED[webdav]="$server does not answer OPTIONS as a WebDAV server (DAV: 1)"
            printf 'not measured: %s\n' "${SKIPPED[webdav]}"
            return
        fi
        printf '[%s]\ntype = webdav\nurl = %s/\nvendor = other\n\n' "${server%%+*}" "$url" >>"$conf"
    done
    local kind round start status seconds target pidVar before
    declare -A times ticks
    WEBDAV_WHOLE=1
    for kind in many big; do
        for ((round = 1; round <= BENCH_WEBDAV_ROUNDS; round++)); do
            for server in "${SCENARIO_SERVERS[@]}"; do
                name=${server%%+*}
                target=$BENCH_DIR/www/dav-$name
                rm -rf "$target"
                sync
                pidVar=${SERVER_PID_VAR[$server]}
                before=$(server_cpu_ticks "${!pidVar}")
                bench_pin_to 1
                start=$(date +%s%N)
                "${BENCH_PIN_CMD[@]}" timeout "$BENCH_WEBDAV_TIMEOUT" rclone --config "$conf" \
                    --retries 1 --low-level-retries 1 --stats 0 --transfers 4 \
                    --log-file "$BENCH_OUT/rclone-$kind-$name-r$round.log" \
                    copy "$WEBDAV_SOURCE/$kind" "$name:dav-$name" &
                BENCH_AB_PID=$!
                wait "$BENCH_AB_PID"
                status=$?
                BENCH_AB_PID=""
                seconds=$(awk -v t=$(($(date +%s%N) - start)) 'BEGIN { printf "%.3f", t / 1e9 }')
                ticks[$kind:$server]=$((${ticks[$kind:$server]:-0} + $(server_cpu_ticks "${!pidVar}") - before))
                if [ "$status" != 0 ] || ! diff -rq "$WEBDAV_SOURCE/$kind" "$target" \
                    >"$BENCH_OUT/webdav-diff-$kind-$name-r$round.txt" 2>&1; then
                    WEBDAV_WHOLE=0
                    bench_say "note: rclone copy of $kind to $server: status $status;" \
                        "$(head -n 3 "$BENCH_OUT/webdav-diff-$kind-$name-r$round.txt" | paste -sd' ' -)"
                else
                    at_least "$seconds" "${WEBDAV_BEST[$kind:$server]:-1e9}" ||
                        WEBDAV_BEST[$kind:$server]=$seconds
                fi
                times[$kind:$server]+=" $seconds"
                server_alive "$server"
            done
        done
    done
    rm -rf "$BENCH_DIR"/www/dav-*
    local -a header=(copy server "best s" "each round (s)" "cpu s/copy" "vantry/server") widths=()
    local cell
    for cell in "${header[@]}"; do widths+=($((${#cell} > 12 ? ${#cell} : 12))); done
    widths[3]=$((BENCH_WEBDAV_ROUNDS * 8 > 14 ? BENCH_WEBDAV_ROUNDS * 8 : 14))
    print_row widths "${header[@]}"
    for kind in many big; do
        for server in "${SCENARIO_SERVERS[@]}"; do
            print_row widths "$kind" "$server" "${WEBDAV_BEST[$kind:$server]:--}" \
                "${times[$kind:$server]# }" \
                "$(awk -v t="${ticks[$kind:$server]:-0}" -v hz="$CLOCK_TICKS" -v n="$BENCH_WEBDAV_ROUNDS" \
                    'BEGIN { printf "%.2f", t / hz / n }')" \
                "$(ratio "${WEBDAV_BEST[$kind:$server]:-0}" "${WEBDAV_BEST[$kind:vantry+dav]:-0}")"
        done
    done
    printf '(many: %s files of %s KB; big: one file of %s MiB; vantry/server: the server'"'"'s time over vantry'"'"'s)\n' \
        "$BENCH_WEBDAV_FILES" "$BENCH_WEBDAV_FILE_KB" "$BENCH_WEBDAV_BIG_MIB"

    # PROPFIND Depth 1 (all properties) of the folder, with curl; every answer must be 207
    # with one response per file and one for the folder.
    local out answer code ms responses each
    PROPFIND_WHOLE=1
    for server in "${SCENARIO_SERVERS[@]}"; do
        url=$(server_url "$server")
        out=$BENCH_OUT/propfind-${server%%+*}.xml
        each=""
        for ((round = 1; round <= BENCH_PROPFIND_ROUNDS + 1; round++)); do
            bench_pin_to 1
            answer=$("${BENCH_PIN_CMD[@]}" curl -s --max-time 30 -X PROPFIND -H 'Depth: 1' \
                -o "$out" -w '%{http_code} %{time_total}' "$url/propfind/")
            code=${answer%% *}
            ms=$(awk -v s="${answer#* }" 'BEGIN { printf "%.1f", s * 1000 }')
            # The first one warms the server up (and the page cache) and is not counted.
            [ "$round" = 1 ] && continue
            responses=$(grep -o '<\([A-Za-z0-9]*:\)\{0,1\}response[ >]' "$out" | wc -l)
            if [ "$code" != 207 ] || [ "$responses" != $((BENCH_PROPFIND_ENTRIES + 1)) ]; then
                PROPFIND_WHOLE=0
                bench_say "note: PROPFIND of $server: status $code, $responses responses"
            else
                at_least "$ms" "${PROPFIND_BEST_MS[$server]:-1e9}" || PROPFIND_BEST_MS[$server]=$ms
            fi
            each+=" $ms"
        done
        printf 'PROPFIND Depth 1 of %s files, %s: best %s ms (each: %s), answer %s bytes\n' \
            "$BENCH_PROPFIND_ENTRIES" "$server" "${PROPFIND_BEST_MS[$server]:--}" "${each# }" \
            "$(stat -c %s "$out" 2>/dev/null || echo 0)"
        server_alive "$server"
    done
}

finish_webdav() {
    stop_nginx_dav
    stop_lighttpd_dav
    finish_extra_vantry vantry-dav vantry+dav
    rm -rf "$WEBDAV_SOURCE" "$BENCH_DIR/www/propfind" "$BENCH_DIR"/www/dav-*
}

# The certificate renewal scenario (chosen only by name): an installation of its own obtains
# its HTTPS certificate from pebble on loopback (ACME, HTTP-01 answered on its plain port) and
# renews it every two thirds of BENCH_ACME_VALIDITY seconds while ab (a new handshake for
# every request) and then wrk (kept connections) ask for the 1 KiB page over HTTPS. No request
# may fail while the certificate changes under them.
ACME_NAME=vantry.test
ACME_STARTED=""         # when the installation was started (seconds since the epoch)
ACME_OBTAIN_SECONDS=-   # from then to its first certificate on disk
ACME_WATCH_PID=""       # the poller of the served serial number during a load
ACME_WATCH_STOP=""      # the file that ends it
# Per load (key: ab or wrk): its requests answered, the renewals it met, the serials served
# in order, and the polls no certificate answered.
declare -A ACME_REQUESTS ACME_RENEWALS ACME_SERIALS ACME_UNANSWERED
scenario_acme_renewal() {
    SCENARIO_TITLE="the 1 KiB page over HTTPS while the certificate (from pebble, ACME) is renewed every $((BENCH_ACME_VALIDITY * 2 / 3)) s: ab -c $BENCH_ACME_AB_CONCURRENCY, a handshake per request, then wrk -c $BENCH_ACME_WRK_CONNECTIONS, kept connections"
    local dir=$BENCH_DIR/vantry-renewal port tlsPort
    port=$(bench_free_port) || exit 1
    tlsPort=$port
    while [ "$tlsPort" = "$port" ]; do tlsPort=$(bench_free_port) || exit 1; done
    start_pebble "$port"
    BENCH_PEER_STOPS+=(acme_stop_watch "stop_extra_vantry vantry-renewal")
    ACME_STARTED=$(date +%s.%N)
    BENCH_VANTRY_PORT=$port BENCH_VANTRY_TLS_LATER=1 bench_start_vantry_in "$dir" vantry-renewal \
        logs=N "tlsPort=$tlsPort" "acmeDomains=$ACME_NAME" "acmeEmail=owner@$ACME_NAME" \
        "acmeDirectory=$PEBBLE_DIRECTORY_URL" acmeAccept=Y "acmeCaFile=$PEBBLE_CERT"
    SCENARIO_PATH=/file.html
    SCENARIO_STATUS=200
    SCENARIO_SERVERS=(vantry+renewal)
    SCENARIO_TOOL=acme_renewal
    SCENARIO_AFTER=finish_acme_renewal
}

# The serial number of the certificate the installation's HTTPS shows; empty when none. The
# client is pinned as ab is.
acme_served_serial() {
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" timeout 5 openssl s_client -connect "${VANTRY_RENEWAL_TLS_URL#https://}" \
        -servername "$ACME_NAME" </dev/null 2>/dev/null |
        openssl x509 -noout -serial 2>/dev/null | sed 's/^serial=//'
}

# Appends "TIME SERIAL" (or "TIME -" when no certificate was shown) to FILE every half second
# until the file ACME_WATCH_STOP exists, for at most LIMIT seconds.
acme_watch_serial() {
    local file=$1 limit=$2 i serial
    for ((i = 0; i < limit * 2; i++)); do
        [ -e "$ACME_WATCH_STOP" ] && return 0
        serial=$(acme_served_serial)
        printf '%s %s\n' "$(date +%s.%N)" "${serial:--}" >>"$file"
        sleep 0.5
    done
}

# Ends the poller (within one poll: at most some 5 s).
acme_stop_watch() {
    [ -n "$ACME_WATCH_PID" ] || return 0
    touch "$ACME_WATCH_STOP"
    wait "$ACME_WATCH_PID" 2>/dev/null
    ACME_WATCH_PID=""
}

# Runs one load (ab or wrk) with the served serial polled beside it; sets ACME_RENEWALS,
# ACME_SERIALS and ACME_UNANSWERED of KIND and the figures of measure_ab.
acme_load() {
    local kind=$1 url=$2 requests=$3 watch=$BENCH_OUT/acme-serials-$1.txt
    : >"$watch"
    ACME_WATCH_STOP=$BENCH_DIR/acme-watch-stop
    rm -f "$ACME_WATCH_STOP"
    acme_watch_serial "$watch" $((BENCH_ACME_SECONDS + 120)) &
    ACME_WATCH_PID=$!
    if [ "$kind" = ab ]; then
        measure_ab "$url" "$requests" "$BENCH_ACME_AB_CONCURRENCY" acme-renewal
    else
        measure_wrk "$url" "$BENCH_ACME_SECONDS" "$BENCH_ACME_WRK_CONNECTIONS" acme-renewal
    fi
    acme_stop_watch
    # Changes of the served serial while the load ran; polls no certificate answered are left
    # out (they are counted apart).
    ACME_SERIALS[$kind]=$(awk '$2 != "-" && $2 != last { printf "%s%s", (n++ ? " " : ""), $2; last = $2 }' "$watch")
    ACME_RENEWALS[$kind]=$(awk '$2 != "-" && $2 != last { n++; last = $2 } END { print (n > 0 ? n - 1 : 0) }' "$watch")
    ACME_UNANSWERED[$kind]=$(awk '$2 == "-" { n++ } END { print n + 0 }' "$watch")
}

run_acme_renewal() {
    local chain=$BENCH_DIR/vantry-renewal/certificates/$ACME_NAME/fullchain.pem i
    for ((i = 0; i < BENCH_ACME_WAIT * 10; i++)); do
        [ -s "$chain" ] && break
        server_alive vantry+renewal || break
        sleep 0.1
    done
    if [ ! -s "$chain" ]; then
        SKIPPED[acme_renewal]="no certificate obtained within ${BENCH_ACME_WAIT}s (see $BENCH_OUT/vantry-renewal.stdout and pebble.stdout)"
        printf 'not measured: %s\n' "${SKIPPED[acme_renewal]}"
        return
    fi
    ACME_OBTAIN_SECONDS=$(awk -v a="$ACME_STARTED" -v b="$(stat -c %.9Y "$chain")" \
        'BEGIN { printf "%.2f", b - a }')
    printf 'first certificate obtained %s s after vantry+renewal started (validity %s s, renewed when a third is left)\n' \
        "$ACME_OBTAIN_SECONDS" "$BENCH_ACME_VALIDITY"
    local tlsPort=${VANTRY_RENEWAL_TLS_URL##*:}
    for ((i = 0; i < BENCH_ACME_WAIT * 10; i++)); do
        bench_is_listening "$BENCH_VANTRY_ADDR" "$tlsPort" && break
        sleep 0.1
    done
    # The page over HTTPS, the certificate checked against pebble's root for the name.
    local root=$BENCH_DIR/pebble/root.pem answer=""
    if curl -fsS --max-time 10 --cacert "$PEBBLE_CERT" -o "$root" "$PEBBLE_MANAGEMENT_URL/roots/0" \
        2>"$BENCH_OUT/acme-root.txt"; then
        answer=$(curl -s --max-time 10 --cacert "$root" --resolve "$ACME_NAME:$tlsPort:$BENCH_VANTRY_ADDR" \
            -o /dev/null -w '%{http_code} %{size_download}' "https://$ACME_NAME:$tlsPort$SCENARIO_PATH")
    fi
    if [ "${answer%% *}" != 200 ]; then
        SKIPPED[acme_renewal]="HTTPS with the obtained certificate answered '${answer:-nothing}' (expected 200 over a certificate from pebble's root)"
        printf 'not measured: %s\n' "${SKIPPED[acme_renewal]}"
        return
    fi
    printf 'answer over HTTPS, certificate for %s from pebble checked: status 200, body %s bytes\n' \
        "$ACME_NAME" "${answer#* }"

    # A warm-up, whose rate sets ab's requests so that its load lasts about as long as wrk's.
    local url=$VANTRY_RENEWAL_TLS_URL$SCENARIO_PATH requests=$BENCH_ACME_AB_REQUESTS
    measure_ab "$url" 1000 "$BENCH_ACME_AB_CONCURRENCY" warmup-vantry-renewal
    EXTRA_RSS[vantry-renewal]=$(proc_rss_kib "$VANTRY_RENEWAL_PID")
    EXTRA_FDS[vantry-renewal]=$(proc_fd_count "$VANTRY_RENEWAL_PID")
    if [ "$requests" = 0 ]; then
        # Half as many again: the warm-up's rate runs below the load's, and the load must last
        # long enough for two renewals.
        requests=$(awk -v r="$AB_RPS" -v s="$BENCH_ACME_SECONDS" 'BEGIN { n = int(1.5 * r * s); print (n < 1000 ? 1000 : n) }')
    fi

    local kind key label
    local -a header=(load requests failed "non-2xx" "requests/s" "renewals seen" "polls unanswered") widths=()
    local cell
    for cell in "${header[@]}"; do widths+=($((${#cell} > 9 ? ${#cell} : 9))); done
    widths[0]=24
    local -a rows=()
    for kind in ab wrk; do
        acme_load "$kind" "$url" "$requests"
        key=acme_renewal:vantry+renewal:$kind
        RPS[$key]=$AB_RPS
        FAILS[$key]=$((AB_FAILED + AB_NON2XX))
        ACME_REQUESTS[$kind]=$AB_COMPLETE
        if [ "$AB_STATUS" = 124 ]; then
            bench_say "note: $kind against vantry+renewal was cut off"
        fi
        if [ "$kind" = ab ]; then
            label="ab -n $requests -c $BENCH_ACME_AB_CONCURRENCY"
        else
            label="wrk -t1 -c$BENCH_ACME_WRK_CONNECTIONS -d${BENCH_ACME_SECONDS}s"
        fi
        rows+=("$(print_row widths "$label" "$AB_COMPLETE" "$AB_FAILED" "$AB_NON2XX" "$AB_RPS" \
            "${ACME_RENEWALS[$kind]}" "${ACME_UNANSWERED[$kind]}")")
        server_alive vantry+renewal
    done
    print_row widths "${header[@]}"
    printf '%s\n' "${rows[@]}"
    for kind in ab wrk; do
        printf 'serials served during %s: %s\n' "$kind" "${ACME_SERIALS[$kind]:--}"
    done
    printf '(failed: ab'"'"'s failed requests, with those never completed; wrk'"'"'s socket errors. non-2xx: answers with another status.)\n'
}

finish_acme_renewal() {
    acme_stop_watch
    local chain=$BENCH_DIR/vantry-renewal/certificates/$ACME_NAME/fullchain.pem
    [ -f "$chain" ] && cp "$chain" "$BENCH_OUT/acme-fullchain.pem"
    if [ -n "${EXTRA_FDS[vantry-renewal]:-}" ]; then
        finish_extra_vantry vantry-renewal vantry+renewal
    else
        stop_extra_vantry vantry-renewal
    fi
    stop_pebble
}

finish_access_log() {
    local log=$BENCH_DIR/vantry-log/access.log lines=0 size=0
    if [ -f "$log" ]; then
        lines=$(wc -l <"$log")
        size=$(stat -c %s "$log")
        tail -n 1 "$log" >"$BENCH_OUT/access-log-tail.txt"
    fi
    printf 'access.log: %s lines, %s bytes (one line per request expected: %s)\n' \
        "$lines" "$size" "${LOGGED_REQUESTS:-?}"
    finish_extra_vantry vantry-log vantry+log
    finish_extra_vantry vantry-nolog vantry+nolog
}

declare -A RPS FAILS TOTAL P99 MAX SPEED   # key: scenario:server:concurrency (SPEED: scenario:server)
declare -A CPU_TICKS CPU_REQUESTS          # key: scenario:server:concurrency
declare -A CPU_RATIO                       # key: scenario:concurrency; first server/second
declare -A CPU_PER_MIB                     # key: scenario:server; downloads' CPU ms per MiB
declare -A SKIPPED                         # scenario: why it was not measured
declare -A SCENARIO_RSS                    # scenario: the main instance's memory after it
LOGGED_REQUESTS=0   # requests sent to the instance with the access log

server_url() {
    local var=${SERVER_URL_VAR[$1]}
    echo "${!var}"
}

# The login arguments of a "+login" server for the tool whose option is OPTION (ab -A,
# curl -u); nothing for the others.
login_args() {
    case $1 in
    *+login) printf '%s\n' "$2" "$BENCH_AUTH_USER:$BENCH_AUTH_PASSWORD" ;;
    *+admin) printf '%s\n' "$2" "$BENCH_ADMIN_ID:$BENCH_ADMIN_PASSWORD" ;;
    esac
}

server_alive() {
    local pidVar=${SERVER_PID_VAR[$1]}
    kill -0 "${!pidVar}" 2>/dev/null && return 0
    [ "$1" = vantry ] && bench_die "vantry ended during the run (see $BENCH_OUT/vantry.stderr)"
    bench_say "note: $1 ended during the run"
    return 1
}

# Every server must answer the scenario's request with its status, all with the same body
# length unless SCENARIO_LENGTH_VARIES or SCENARIO_PAGES_DIFFER; a "+login" server must refuse
# the request without the login. Where SCENARIO_STATUS lists several statuses, the first
# server's answer chooses the one every server must give. Returns 1, with the reason in
# VERIFY_PROBLEM, when one does not.
verify_answers() {
    local name=$1 server answer first="" refused
    VERIFY_PROBLEM=""
    for server in "${SCENARIO_SERVERS[@]}"; do
        # shellcheck disable=SC2046  # login_args gives whole words
        answer=$(bench_fetch "$(server_url "$server")$SCENARIO_PATH" "$BENCH_DIR/answer-$server" \
            $(login_args "$server" -u))
        [ "$server" = vantry+log ] && LOGGED_REQUESTS=$((LOGGED_REQUESTS + 1))
        if [ -z "$first" ] && [[ " $SCENARIO_STATUS " == *" ${answer%% *} "* ]]; then
            SCENARIO_STATUS=${answer%% *}
        fi
        if [ "${answer%% *}" != "$SCENARIO_STATUS" ]; then
            VERIFY_PROBLEM="$server answered $answer, expected status $SCENARIO_STATUS"
            return 1
        fi
        if [ "$SCENARIO_TOOL" = h2load ] && ! bench_speaks_http2 "$(server_url "$server")$SCENARIO_PATH"; then
            VERIFY_PROBLEM="$server does not answer over HTTP/2"
            return 1
        fi
        if [ "$SCENARIO_TOOL" = wrk ] &&
            ! bench_keeps_connection "$(server_url "$server")$SCENARIO_PATH"; then
            VERIFY_PROBLEM="$server does not keep the connection open for a second request"
            return 1
        fi
        if [[ $server == *+login ]]; then
            refused=$(bench_fetch "$(server_url "$server")$SCENARIO_PATH" "$BENCH_DIR/answer-$server-refused")
            if [ "${refused%% *}" != 401 ]; then
                VERIFY_PROBLEM="$server answered $refused without the login, expected status 401"
                return 1
            fi
        fi
        if [ -z "$first" ]; then
            first=$answer
            printf 'answer: status %s, body %s bytes\n' "$SCENARIO_STATUS" "${answer#* }"
        elif [ "$answer" != "$first" ]; then
            if [ "${SCENARIO_PAGES_DIFFER:-0}" = 1 ]; then
                printf 'answer of %s: status %s, body %s bytes\n' "$server" "$SCENARIO_STATUS" "${answer#* }"
            elif [ "${SCENARIO_LENGTH_VARIES:-0}" = 1 ]; then
                bench_say "note: $name: body sizes differ (${SCENARIO_SERVERS[0]} $first, $server $answer)"
            else
                VERIFY_PROBLEM="body sizes differ (${SCENARIO_SERVERS[0]} $first, $server $answer)"
                return 1
            fi
        fi
    done
}

# The failures counted against a server; ab's own total (failures and other statuses) in
# brackets when it differs.
format_fail() {
    local counted=$1 total=$2
    if [ "$total" != "$counted" ]; then
        printf '%s(%s)' "$counted" "$total"
    else
        printf '%s' "$counted"
    fi
}

# Prints one table row: the cells right-aligned to the widths of the header cells.
print_row() {
    local -n rowWidths=$1
    shift
    local i=0 line="" cell
    for cell in "$@"; do
        line+=$(printf '%*s ' "${rowWidths[$i]}" "$cell")
        i=$((i + 1))
    done
    printf '%s\n' "${line% }"
}

run_ab_table() {
    local name=$1 c requests server url key round first=${SCENARIO_SERVERS[0]}
    local -a header=(clients) widths=() rows=()
    for server in "${SCENARIO_SERVERS[@]}"; do header+=("$server rps"); done
    for server in "${SCENARIO_SERVERS[@]:1}"; do header+=("$first/$server"); done
    for server in "${SCENARIO_SERVERS[@]}"; do header+=("$server fail"); done
    for server in "${SCENARIO_SERVERS[@]}"; do header+=("$server p99/max ms"); done
    # CPU time per request of every server, read from /proc (nginx: master and worker).
    local pidVar before
    for server in "${SCENARIO_SERVERS[@]}"; do header+=("$server cpu us/req"); done
    # A scenario of one server (the properties page) has no ratio to show.
    local second=${SCENARIO_SERVERS[1]:-}
    [ -n "$second" ] && header+=("cpu $first/$second")
    local cell
    for cell in "${header[@]}"; do widths+=($((${#cell} > 9 ? ${#cell} : 9))); done

    for c in $SCENARIO_CONCURRENCY; do
        requests=${SCENARIO_REQUESTS:-$BENCH_REQUESTS}
        [ "$requests" -lt $((5 * c)) ] && requests=$((5 * c))
        # The servers take turns; a server's figure is its best round, so that a passing
        # disturbance on the machine does not decide the ratio. Failures add up over all
        # rounds, and the latencies are the worst seen.
        for ((round = 1; round <= BENCH_ROUNDS; round++)); do
            for server in "${SCENARIO_SERVERS[@]}"; do
                url=$(server_url "$server")
                pidVar=${SERVER_PID_VAR[$server]}
                before=$(server_cpu_ticks "${!pidVar}")
                if [ "$SCENARIO_TOOL" = wrk ]; then
                    measure_wrk "$url$SCENARIO_PATH" "$BENCH_WRK_SECONDS" "$c" "$name-$server-c$c-r$round"
                    requests=$AB_COMPLETE
                elif [ "$SCENARIO_TOOL" = h2load ]; then
                    measure_h2load "$url$SCENARIO_PATH" "$requests" "$c" "$BENCH_H2_STREAMS" \
                        "$name-$server-c$c-r$round"
                else
                    # shellcheck disable=SC2046  # login_args gives whole words
                    measure_ab "$url$SCENARIO_PATH" "$requests" "$c" "$name-$server-c$c-r$round" \
                        $(login_args "$server" -A)
                fi
                key=$name:$server:$c
                CPU_TICKS[$key]=$((${CPU_TICKS[$key]:-0} + $(server_cpu_ticks "${!pidVar}") - before))
                CPU_REQUESTS[$key]=$((${CPU_REQUESTS[$key]:-0} + AB_COMPLETE))
                [ "$server" = vantry+log ] && LOGGED_REQUESTS=$((LOGGED_REQUESTS + AB_COMPLETE))
                key=$name:$server:$c
                if [ "$round" = 1 ]; then
                    RPS[$key]=0 FAILS[$key]=0 TOTAL[$key]=0 P99[$key]=0 MAX[$key]=0
                fi
                at_least "${RPS[$key]}" "$AB_RPS" || RPS[$key]=$AB_RPS
                # Other statuses are failures where a 2xx status is expected.
                local otherStatus=$AB_NON2XX
                [[ $SCENARIO_STATUS == 2* ]] || otherStatus=0
                if [ "${SCENARIO_LENGTH_VARIES:-0}" = 1 ]; then
                    FAILS[$key]=$((FAILS[$key] + AB_NONLENGTH))
                else
                    FAILS[$key]=$((FAILS[$key] + AB_FAILED + otherStatus))
                fi
                TOTAL[$key]=$((TOTAL[$key] + AB_FAILED + otherStatus))
                at_least "${P99[$key]}" "$AB_P99" || P99[$key]=$AB_P99
                at_least "${MAX[$key]}" "$AB_MAX" || MAX[$key]=$AB_MAX
                if [ "$AB_STATUS" = 124 ]; then
                    bench_say "note: $SCENARIO_TOOL against $server at $c clients was cut off"
                elif [ "$AB_COMPLETE" != "$requests" ]; then
                    bench_say "note: $server completed $AB_COMPLETE of $requests requests at $c clients (ab status $AB_STATUS)"
                fi
                server_alive "$server"
            done
        done
        local row=("$c")
        for server in "${SCENARIO_SERVERS[@]}"; do row+=("${RPS[$name:$server:$c]}"); done
        for server in "${SCENARIO_SERVERS[@]:1}"; do
            row+=("$(ratio "${RPS[$name:$first:$c]}" "${RPS[$name:$server:$c]}")")
        done
        for server in "${SCENARIO_SERVERS[@]}"; do
            key=$name:$server:$c
            row+=("$(format_fail "${FAILS[$key]}" "${TOTAL[$key]}")")
        done
        for server in "${SCENARIO_SERVERS[@]}"; do
            row+=("${P99[$name:$server:$c]}/${MAX[$name:$server:$c]}")
        done
        local -a cpu=()
        for server in "${SCENARIO_SERVERS[@]}"; do
            key=$name:$server:$c
            cpu+=("$(awk -v t="${CPU_TICKS[$key]}" -v n="${CPU_REQUESTS[$key]}" -v hz="$CLOCK_TICKS" \
                'BEGIN { if (n > 0) printf "%.1f", t * 1e6 / hz / n; else print "-" }')")
        done
        row+=("${cpu[@]}")
        if [ -n "$second" ]; then
            CPU_RATIO[$name:$c]=$(awk -v a="${cpu[0]}" -v b="${cpu[1]}" \
                'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
            row+=("${CPU_RATIO[$name:$c]}")
        fi
        rows+=("$(print_row widths "${row[@]}")")
    done
    print_row widths "${header[@]}"
    printf '%s\n' "${rows[@]}"
}

# Downloads of the scenario's file, the servers taking turns; a server's rate is its best.
run_downloads() {
    local name=$1 server round key expected rates first=${SCENARIO_SERVERS[0]} code=200
    expected=$(stat -c %s "$BENCH_DIR/www${SCENARIO_PATH}")
    if [ -n "$SCENARIO_RANGE" ]; then
        expected=$((expected - SCENARIO_RANGE))
        code=206
    fi
    declare -A roundRates ticks
    local pidVar before
    for server in "${SCENARIO_SERVERS[@]}"; do
        key=$name:$server
        SPEED[$key]=0 FAILS[$key]=0
        roundRates[$server]=""
        ticks[$server]=0
    done
    for ((round = 1; round <= BENCH_BIG_ROUNDS; round++)); do
        for server in "${SCENARIO_SERVERS[@]}"; do
            key=$name:$server
            pidVar=${SERVER_PID_VAR[$server]}
            before=$(server_cpu_ticks "${!pidVar}")
            measure_curl "$(server_url "$server")$SCENARIO_PATH" "$name-$server-r$round" \
                "${SCENARIO_RANGE:+$SCENARIO_RANGE-}"
            ticks[$server]=$((ticks[$server] + $(server_cpu_ticks "${!pidVar}") - before))
            if [ "$CURL_CODE" != "$code" ] || [ "$CURL_BYTES" != "$expected" ]; then
                FAILS[$key]=$((FAILS[$key] + 1))
                bench_say "note: $server answered $CURL_CODE with $CURL_BYTES of $expected bytes"
            else
                at_least "${SPEED[$key]}" "$CURL_SPEED" || SPEED[$key]=$CURL_SPEED
            fi
            roundRates[$server]+=" $(mib_per_s "$CURL_SPEED")"
            server_alive "$server"
        done
    done
    # CPU time per MiB: the server's clock ticks over every round, as milliseconds per MiB.
    local mib
    mib=$(awk -v b="$expected" -v r="$BENCH_BIG_ROUNDS" 'BEGIN { print b * r / 1048576 }')
    for server in "${SCENARIO_SERVERS[@]}"; do
        CPU_PER_MIB[$name:$server]=$(awk -v t="${ticks[$server]}" -v hz="$CLOCK_TICKS" -v m="$mib" \
            'BEGIN { printf "%.3f", t * 1000 / hz / m }')
    done
    local -a header=(server "best MiB/s" "each round (MiB/s)" "$first/server" fail
        "cpu ms/MiB" "cpu $first/server") widths=()
    local cell
    for cell in "${header[@]}"; do widths+=($((${#cell} > 9 ? ${#cell} : 9))); done
    widths[2]=$((BENCH_BIG_ROUNDS * 8 > ${#header[2]} ? BENCH_BIG_ROUNDS * 8 : ${#header[2]}))
    print_row widths "${header[@]}"
    for server in "${SCENARIO_SERVERS[@]}"; do
        rates=${roundRates[$server]# }
        print_row widths "$server" "$(mib_per_s "${SPEED[$name:$server]}")" "$rates" \
            "$(ratio "${SPEED[$name:$first]}" "${SPEED[$name:$server]}")" "${FAILS[$name:$server]}" \
            "${CPU_PER_MIB[$name:$server]}" \
            "$(ratio "${CPU_PER_MIB[$name:$first]}" "${CPU_PER_MIB[$name:$server]}")"
    done
}

run_scenario() {
    local name=$1
    SCENARIO_REQUESTS="" SCENARIO_TOOL=ab SCENARIO_LENGTH_VARIES=0 SCENARIO_PAGES_DIFFER=0
    SCENARIO_RANGE=""
    SCENARIO_AFTER=""
    SCENARIO_CONCURRENCY=$BENCH_CONCURRENCY
    SCENARIO_SERVERS=(vantry "${PEERS[@]}")
    "scenario_$name"
    printf '\n== %s: %s (other work: %s)\n' "$name" "$SCENARIO_TITLE" "$(bench_other_activity)"
    if ! verify_answers "$name"; then
        SKIPPED[$name]=$VERIFY_PROBLEM
        printf 'not measured: %s\n' "$VERIFY_PROBLEM"
    elif [ "$SCENARIO_TOOL" = curl ]; then
        run_downloads "$name"
    elif [ "$SCENARIO_TOOL" != ab ] && [ "$SCENARIO_TOOL" != wrk ] &&
        [ "$SCENARIO_TOOL" != h2load ]; then
        "run_$SCENARIO_TOOL"
    else
        run_ab_table "$name"
    fi
    # The function and its arguments are words of one setting.
    # shellcheck disable=SC2086
    [ -n "$SCENARIO_AFTER" ] && $SCENARIO_AFTER
    SCENARIO_RSS[$name]=$(proc_rss_kib "$VANTRY_PID")
    return 0
}

# True when SCENARIO is one of this run's.
selected() {
    local scenario
    for scenario in "${SCENARIOS[@]}"; do [ "$scenario" = "$1" ] && return 0; done
    return 1
}

# True when SCENARIO was chosen and measured; otherwise prints the check WHAT as skipped (not
# chosen) or failed (not measured).
measured() {
    if ! selected "$1"; then
        printf 'skip  %s\n' "$2"
        return 1
    fi
    if [ -n "${SKIPPED[$1]:-}" ]; then
        check 0 "$2: not measured (${SKIPPED[$1]})"
        return 1
    fi
}

# One check of the requests per second (or, for a download, the rate) of server A over server
# B in SCENARIO at C clients against MIN; a scenario that was not measured fails it, one that
# was not chosen skips it.
check_ratio() {
    local scenario=$1 a=$2 b=$3 c=$4 min=$5 what=$6 r
    measured "$scenario" "$what" || return
    if [ "$c" = - ]; then
        r=$(ratio "${SPEED[$scenario:$a]:-0}" "${SPEED[$scenario:$b]:-0}")
    else
        r=$(ratio "${RPS[$scenario:$a:$c]:-0}" "${RPS[$scenario:$b:$c]:-0}")
    fi
    check "$(at_least "$r" "$min" && echo 1)" "$what: $r (>= $min)"
}

# The stall target: Vantry's visitor served within BENCH_STALL_P99_MAX_MS at p99, none failed.
check_stall() {
    measured stall stall || return
    local p99=${STALL_P99[vantry+stall]:--} failed=${FAILS[stall:vantry+stall:1]:--}
    check "$(awk -v p="$p99" -v m="$BENCH_STALL_P99_MAX_MS" -v f="$failed" \
        'BEGIN { exit !(p != "-" && p != "nan" && p + 0 < m + 0 && f == "0") }' && echo 1)" \
        "stall: the 1 KiB page while $((BENCH_STALL_TRICKLE + BENCH_STALL_READERS)) clients stall vantry:" \
        "p99 $p99 ms, $failed failed (< $BENCH_STALL_P99_MAX_MS ms, none failed)"
}

main() {
    local scenario
    for scenario in "${SCENARIOS[@]}"; do
        [[ " ${ALL_SCENARIOS[*]} ${OPTIONAL_SCENARIOS[*]} " == *" $scenario "* ]] ||
            bench_die "no scenario \"$scenario\" (there are: ${ALL_SCENARIOS[*]} ${OPTIONAL_SCENARIOS[*]})"
    done
    local packages=()
    # The WebDAV scenario's client, nginx's PROPFIND and lighttpd's WebDAV module.
    selected webdav && packages+=(rclone libnginx-mod-http-dav-ext lighttpd-mod-webdav)
    # The certificate renewal scenario's certificate authority and its DNS helper.
    selected acme_renewal && packages+=(pebble)
    bench_require_tools "${packages[@]}"
    printf 'Vantry benchmark, %s; output kept in %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$BENCH_OUT"
    bench_build_vantry
    local others
    others=$(bench_other_activity)
    printf 'other work after the build: %s\n' "$others"
    [ "$others" = none ] ||
        bench_say "note: the machine is busy; the figures are not comparable (see bench/README.md)"
    bench_make_workdir
    if selected idle; then
        bench_raise_open_files $((BENCH_IDLE_CONNECTIONS * 5 / 4 + 1000))
    else
        bench_raise_open_files
    fi
    prepare_web_root
    { selected https || selected http2; } && bench_make_certificate
    selected proxy_1k && BENCH_NGINX_PROXIED=1

    start_vantry
    sleep 0.5
    local idleRss idleFds idleThreads
    idleRss=$(proc_rss_kib "$VANTRY_PID")
    idleFds=$(proc_fd_count "$VANTRY_PID")
    idleThreads=$(proc_threads "$VANTRY_PID")
    proc_fd_list "$VANTRY_PID" >"$BENCH_OUT/vantry-fds-idle.txt"

    local notFound answer
    notFound=$BENCH_DIR/not-found.html
    answer=$(bench_fetch "$VANTRY_URL$MISSING_PATH" "$notFound")
    [ "${answer%% *}" = 404 ] ||
        bench_die "vantry answered GET $MISSING_PATH with $answer, expected the 404 page"
    local peer
    printf 'vantry pid %s at %s\n' "$VANTRY_PID" "$VANTRY_URL"
    for peer in "${PEERS[@]}"; do
        "start_$peer" "$notFound"
        local pidVar=${SERVER_PID_VAR[$peer]}
        printf '%s pid %s at %s\n' "$peer" "${!pidVar}" "$(server_url "$peer")"
    done
    bench_pin_to 0
    if [ ${#BENCH_PIN_CMD[@]} -gt 0 ]; then
        printf 'servers on CPU 0, ab and curl on CPU 1\n'
    else
        printf 'servers, ab and curl on any CPU\n'
    fi
    printf 'requests per run: %s (at least 5 x clients; 100 KiB file %s, CGI %s), no keep-alive; best of %s rounds\n' \
        "$BENCH_REQUESTS" "$BENCH_LARGE_REQUESTS" "$BENCH_CGI_REQUESTS" "$BENCH_ROUNDS"
    printf 'kept connections: wrk -t1 for %s s a run, best of %s rounds; open descriptors: %s\n' \
        "$BENCH_WRK_SECONDS" "$BENCH_ROUNDS" "$(ulimit -S -n)"

    local maxC=1 maxCgiC=1 c server
    for c in $BENCH_CONCURRENCY; do [ "$c" -gt "$maxC" ] && maxC=$c; done
    for c in $BENCH_CGI_CONCURRENCY; do [ "$c" -gt "$maxCgiC" ] && maxCgiC=$c; done
    for server in vantry "${PEERS[@]}"; do warm_up "$server" "$maxC" "$maxCgiC"; done
    server_alive vantry
    sleep 2
    local warmRss warmFds warmThreads
    warmRss=$(proc_rss_kib "$VANTRY_PID")
    warmFds=$(proc_fd_count "$VANTRY_PID")
    warmThreads=$(proc_threads "$VANTRY_PID")

    for scenario in "${SCENARIOS[@]}"; do run_scenario "$scenario"; done
    local beforeSoakRss
    beforeSoakRss=$(proc_rss_kib "$VANTRY_PID")

    printf '\n== memory and descriptors: %s requests to GET %s at %s clients\n' \
        "$BENCH_SOAK_REQUESTS" "$MISSING_PATH" "$BENCH_SOAK_CONCURRENCY"
    measure_ab "$VANTRY_URL$MISSING_PATH" "$BENCH_SOAK_REQUESTS" "$BENCH_SOAK_CONCURRENCY" soak-vantry
    server_alive vantry
    local soakRps=$AB_RPS soakFailed=$AB_FAILED soakNonLength=$AB_NONLENGTH soakComplete=$AB_COMPLETE
    sleep 2
    local afterRss afterThreads afterFds2s settled afterFds waited
    afterRss=$(proc_rss_kib "$VANTRY_PID")
    afterThreads=$(proc_threads "$VANTRY_PID")
    afterFds2s=$(proc_fd_count "$VANTRY_PID")
    settled=$(wait_fd_count "$VANTRY_PID" "$idleFds" "$BENCH_FD_SETTLE_LIMIT")
    afterFds=${settled% *}
    waited=${settled#* }

    local scenarioRss=""
    for scenario in "${SCENARIOS[@]}"; do
        scenarioRss+=", $scenario $(mib "${SCENARIO_RSS[$scenario]:-0}")"
    done
    printf 'resident memory after each scenario (MiB): %s\n' "${scenarioRss#, }"
    printf '%-28s %10s %10s %10s %10s\n' "" idle "warmed up" "before run" "after run"
    printf '%-28s %10s %10s %10s %10s\n' "resident memory (MiB)" "$(mib "$idleRss")" "$(mib "$warmRss")" \
        "$(mib "$beforeSoakRss")" "$(mib "$afterRss")"
    printf '%-28s %10s %10s %10s %10s\n' "threads" "$idleThreads" "$warmThreads" "" "$afterThreads"
    printf '%-28s %10s %10s %10s %10s\n' "descriptors" "$idleFds" "$warmFds" "" "$afterFds"
    printf 'run: %s rps, %s of %s complete, %s failed (%s not by length)\n' \
        "$soakRps" "$soakComplete" "$BENCH_SOAK_REQUESTS" "$soakFailed" "$soakNonLength"
    printf 'descriptors 2 s after the run: %s; after %s s more: %s\n' "$afterFds2s" "$waited" "$afterFds"
    if [ "$afterFds" -gt "$idleFds" ]; then
        printf 'descriptors open now and not when idle:\n'
        proc_fd_list "$VANTRY_PID" | grep -vxF -f "$BENCH_OUT/vantry-fds-idle.txt" | head -n 20
    fi

    printf '\n== checks\n'
    local rc=$BENCH_RATIO_CONCURRENCY
    check_ratio not_found vantry nginx "$rc" "$BENCH_RATIO_MIN" \
        "404 page: requests per second vantry/nginx at $rc clients"
    check_ratio file_1k vantry nginx "$rc" "$BENCH_RATIO_MIN" \
        "1 KiB page: requests per second vantry/nginx at $rc clients"
    check_ratio file_1k vantry lighttpd "$rc" "$BENCH_LIGHTTPD_RATIO_MIN" \
        "1 KiB page: requests per second vantry/lighttpd at $rc clients"
    for scenario in file_1k file_100k; do
        for c in $BENCH_CONCURRENCY; do
            check_ratio "$scenario" vantry nginx "$c" "$BENCH_FILE_RATIO_MIN" \
                "$scenario: requests per second vantry/nginx at $c clients"
        done
    done
    if selected file_1k && [ -z "${SKIPPED[file_1k]:-}" ]; then
        local cpuRatio=${CPU_RATIO[file_1k:$rc]:--}
        check "$(awk -v r="$cpuRatio" -v m="$BENCH_CPU_RATIO_MAX" \
            'BEGIN { exit !(r != "-" && r + 0 <= m + 0) }' && echo 1)" \
            "1 KiB page: CPU time per request vantry/nginx at $rc clients $cpuRatio (<= $BENCH_CPU_RATIO_MAX)"
        local most=${BENCH_CONCURRENCY##* }
        local ours=${P99[file_1k:vantry:$most]:-} theirs=${P99[file_1k:nginx:$most]:-}
        check "$([ -n "$ours" ] && [ -n "$theirs" ] && [ "$ours" -le "$theirs" ] && echo 1)" \
            "1 KiB page: p99 at $most clients, vantry $ours ms, nginx $theirs ms (no worse)"
    else
        printf 'skip  1 KiB page: CPU time per request and p99\n'
    fi
    check_ratio big_file vantry nginx - "$BENCH_BIG_RATIO_MIN" \
        "$BENCH_BIG_MIB MiB download: rate vantry/nginx"
    check_ratio big_file vantry lighttpd - "$BENCH_BIG_LIGHTTPD_RATIO_MIN" \
        "$BENCH_BIG_MIB MiB download: rate vantry/lighttpd"
    if measured big_file "$BENCH_BIG_MIB MiB download: CPU time per MiB vantry/lighttpd"; then
        local bigCpu
        bigCpu=$(ratio "${CPU_PER_MIB[big_file:vantry]:-0}" "${CPU_PER_MIB[big_file:lighttpd]:-0}")
        check "$(awk -v r="$bigCpu" -v m="$BENCH_BIG_CPU_RATIO_MAX" \
            'BEGIN { exit !(r != "-" && r + 0 <= m + 0) }' && echo 1)" \
            "$BENCH_BIG_MIB MiB download: CPU time per MiB vantry/lighttpd $bigCpu (<= $BENCH_BIG_CPU_RATIO_MAX)"
    fi
    check_ratio resume vantry nginx - "$BENCH_BIG_RATIO_MIN" \
        "$BENCH_BIG_MIB MiB download resumed half way: rate vantry/nginx"
    check_ratio https vantry+tls nginx+tls "$rc" "$BENCH_HTTPS_RATIO_MIN" \
        "HTTPS 1 KiB page, a full handshake per request: requests per second vantry/nginx at $rc clients"
    check_ratio https vantry+tls nginx+tls - "$BENCH_BIG_RATIO_MIN" \
        "HTTPS $BENCH_BIG_MIB MiB download: rate vantry/nginx"
    check_ratio proxy_1k vantry+proxy nginx+proxy "$rc" "$BENCH_PROXY_RATIO_MIN" \
        "1 KiB page through HAProxy: requests per second vantry/nginx at $rc clients"
    check_ratio listing vantry nginx "$rc" "$BENCH_LISTING_RATIO_MIN" \
        "listing of $BENCH_LISTING_ENTRIES files: requests per second vantry/nginx at $rc clients"
    check_ratio listing_modern vantry+modern vantry "$rc" "$BENCH_MODERN_RATIO_MIN" \
        "listing of $BENCH_LISTING_ENTRIES files: requests per second modern/classic at $rc clients"
    check_ratio properties_modern vantry+modern+admin vantry+admin "$rc" "$BENCH_MODERN_RATIO_MIN" \
        "server properties page: requests per second modern/classic at $rc clients"
    check_ratio http2 vantry+tls nginx+tls "$BENCH_H2_CONNECTIONS" "$BENCH_H2_RATIO_MIN" \
        "HTTP/2 1 KiB page: requests per second vantry/nginx at $BENCH_H2_CONNECTIONS connections"
    check_stall
    for scenario in keepalive_1k keepalive_100k; do
        for c in $BENCH_CONCURRENCY; do
            check_ratio "$scenario" vantry nginx+ka "$c" "$BENCH_KEEPALIVE_RATIO_MIN" \
                "$scenario: requests per second vantry/nginx at $c clients"
            if selected "$scenario" && [ -z "${SKIPPED[$scenario]:-}" ]; then
                local kaCpu=${CPU_RATIO[$scenario:$c]:--}
                check "$(awk -v r="$kaCpu" -v m="$BENCH_KEEPALIVE_CPU_RATIO_MAX" \
                    'BEGIN { exit !(r != "-" && r + 0 <= m + 0) }' && echo 1)" \
                    "$scenario: CPU time per request vantry/nginx at $c clients $kaCpu (<= $BENCH_KEEPALIVE_CPU_RATIO_MAX)"
            fi
        done
    done
    check_idle
    if ! selected search; then
        printf 'skip  search\n'
    elif [ -n "${SKIPPED[search]:-}" ]; then
        check 0 "search: not measured (${SKIPPED[search]})"
    else
        local searchRatio
        searchRatio=-
        [ "$SEARCH_VANTRY_MS" = - ] || searchRatio=$(ratio "$SEARCH_VANTRY_MS" "$SEARCH_FIND_MS")
        check "$(awk -v r="$searchRatio" -v m="$BENCH_SEARCH_RATIO_MAX" \
            'BEGIN { exit !(r != "-" && r + 0 <= m + 0) }' && echo 1)" \
            "search of the root: time per search vantry/find $searchRatio" \
            "($SEARCH_VANTRY_MS ms, $SEARCH_FIND_MS ms; <= $BENCH_SEARCH_RATIO_MAX)"
    fi
    for scenario in cgi_perl cgi_shell cgi_php; do
        for c in $BENCH_CGI_CONCURRENCY; do
            check_ratio "$scenario" vantry lighttpd "$c" "$BENCH_CGI_RATIO_MIN" \
                "$scenario: requests per second vantry/lighttpd at $c clients"
        done
    done
    if ! selected access_log; then
        printf 'skip  access log\n'
    elif [ -n "${SKIPPED[access_log]:-}" ]; then
        check 0 "access log: not measured (${SKIPPED[access_log]})"
    else
        local withLog=${RPS[access_log:vantry+log:$rc]:-0} withoutLog=${RPS[access_log:vantry+nolog:$rc]:-0}
        local cost
        cost=$(awk -v a="$withLog" -v b="$withoutLog" \
            'BEGIN { if (b > 0) printf "%.1f", (1 - a / b) * 100; else print "-" }')
        check "$(awk -v c="$cost" -v m="$BENCH_LOG_COST_MAX" \
            'BEGIN { exit !(c != "-" && c + 0 < m + 0) }' && echo 1)" \
            "access log: costs $cost % of requests per second at $rc clients" \
            "($withLog with, $withoutLog without; < $BENCH_LOG_COST_MAX %)"
    fi
    if selected upload && [ -z "${SKIPPED[upload]:-}" ]; then
        local uploadRatio
        uploadRatio=$(ratio "$UPLOAD_RATE" "$UPLOAD_DD_RATE")
        check "$(at_least "$uploadRatio" "$BENCH_UPLOAD_RATIO_MIN" && echo 1)" \
            "$BENCH_UPLOAD_MIB MiB upload: rate vantry/dd $uploadRatio (>= $BENCH_UPLOAD_RATIO_MIN)"
        check "$UPLOAD_WHOLE" "$BENCH_UPLOAD_MIB MiB upload: stored whole in every round"
        check "$([ -n "$UPLOAD_HWM_GROWTH" ] && [ "$UPLOAD_HWM_GROWTH" -le "$BENCH_UPLOAD_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
            "$BENCH_UPLOAD_MIB MiB upload: peak resident memory grew by $(mib "${UPLOAD_HWM_GROWTH:-0}") MiB" \
            "(<= $(mib "$BENCH_UPLOAD_RSS_GROWTH_MAX_KIB") MiB)"
    elif selected upload; then
        check 0 "upload: not measured (${SKIPPED[upload]})"
    else
        printf 'skip  upload\n'
    fi
    if selected upload_concurrent; then
        check "$UPLOAD_CONCURRENT_WHOLE" \
            "$BENCH_UPLOAD_CLIENTS uploads of $BENCH_UPLOAD_CLIENT_MIB MiB at once: every one stored whole"
    else
        printf 'skip  concurrent uploads\n'
    fi
    if measured upload_multipart "$BENCH_MULTIPART_MIB MiB multipart upload"; then
        local multipartRatio growth
        multipartRatio=$(ratio "$MULTIPART_RATE" "$MULTIPART_DD_RATE")
        check "$(at_least "$multipartRatio" "$BENCH_MULTIPART_RATIO_MIN" && echo 1)" \
            "$BENCH_MULTIPART_MIB MiB multipart upload: rate vantry/dd $multipartRatio (>= $BENCH_MULTIPART_RATIO_MIN)"
        check "$MULTIPART_WHOLE" "$BENCH_MULTIPART_MIB MiB multipart upload: stored whole under its name in every round"
        check "$RESUME_WHOLE" "$BENCH_MULTIPART_MIB MiB resumable upload cut at three quarters: only the rest sent again, stored whole"
        growth=$((MULTIPART_RSS_PEAK - MULTIPART_RSS_BASE))
        check "$([ "$growth" -le "$BENCH_MULTIPART_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
            "$BENCH_MULTIPART_MIB MiB multipart upload: resident memory grew by $growth KiB during it" \
            "(<= $BENCH_MULTIPART_RSS_GROWTH_MAX_KIB KiB)"
    fi
    if measured folder_zip "folder as a ZIP"; then
        local zipRatio
        zipRatio=$(ratio "$ZIP_RATE" "$ZIP_FILE_RATE")
        check "$(at_least "$zipRatio" "$BENCH_ZIP_RATIO_MIN" && echo 1)" \
            "folder of $BENCH_ZIP_FILES files as a ZIP: rate zip/one file $zipRatio (>= $BENCH_ZIP_RATIO_MIN)"
        check "$ZIP_WHOLE" "folder of $BENCH_ZIP_FILES files as a ZIP: every one of its size, and one tested whole"
    fi
    if measured webdav "WebDAV"; then
        local kind what peerBest webdavRatio
        for kind in many big; do
            what="$BENCH_WEBDAV_FILES files of $BENCH_WEBDAV_FILE_KB KB"
            [ "$kind" = big ] && what="one $BENCH_WEBDAV_BIG_MIB MiB file"
            peerBest=$(printf '%s\n' "${WEBDAV_BEST[$kind:nginx+dav]:-}" "${WEBDAV_BEST[$kind:lighttpd+dav]:-}" |
                sed '/^$/d' | sort -g | head -n 1)
            webdavRatio=$(ratio "${peerBest:-0}" "${WEBDAV_BEST[$kind:vantry+dav]:-0}")
            check "$(at_least "$webdavRatio" "$BENCH_WEBDAV_RATIO_MIN" && echo 1)" \
                "WebDAV: rclone copy of $what: speed vantry/faster peer $webdavRatio" \
                "(${WEBDAV_BEST[$kind:vantry+dav]:--} s against ${peerBest:--} s; >= $BENCH_WEBDAV_RATIO_MIN)"
        done
        check "$WEBDAV_WHOLE" "WebDAV: every copy arrived whole on every server"
        check "$(awk -v m="${PROPFIND_BEST_MS[vantry+dav]:--}" -v max="$BENCH_PROPFIND_MAX_MS" \
            'BEGIN { exit !(m != "-" && m + 0 < max + 0) }' && echo 1)" \
            "WebDAV: PROPFIND Depth 1 of $BENCH_PROPFIND_ENTRIES files from vantry in" \
            "${PROPFIND_BEST_MS[vantry+dav]:--} ms (< $BENCH_PROPFIND_MAX_MS ms; nginx" \
            "${PROPFIND_BEST_MS[nginx+dav]:--} ms, lighttpd ${PROPFIND_BEST_MS[lighttpd+dav]:--} ms)"
        check "$PROPFIND_WHOLE" "WebDAV: every PROPFIND answered 207 with every file"
    fi
    if measured acme_renewal "certificate renewal"; then
        check "$(awk -v s="$ACME_OBTAIN_SECONDS" -v m="$BENCH_ACME_OBTAIN_MAX_S" \
            'BEGIN { exit !(s != "-" && s + 0 < m + 0) }' && echo 1)" \
            "certificate renewal: first certificate from pebble $ACME_OBTAIN_SECONDS s after the start (< $BENCH_ACME_OBTAIN_MAX_S s)"
        local load
        for load in ab wrk; do
            check "$([ "${FAILS[acme_renewal:vantry+renewal:$load]:-1}" = 0 ] && echo 1)" \
                "certificate renewal under $load: ${ACME_REQUESTS[$load]:-0} requests," \
                "${FAILS[acme_renewal:vantry+renewal:$load]:--} failed (none)"
            check "$([ "${ACME_RENEWALS[$load]:-0}" -ge "$BENCH_ACME_MIN_RENEWALS" ] && echo 1)" \
                "certificate renewal under $load: ${ACME_RENEWALS[$load]:-0} renewals seen (>= $BENCH_ACME_MIN_RENEWALS)"
        done
    fi
    check "$([ "$idleRss" -lt "$BENCH_IDLE_RSS_MAX_KIB" ] && echo 1)" \
        "idle resident memory $(mib "$idleRss") MiB (< $(mib "$BENCH_IDLE_RSS_MAX_KIB") MiB)"
    check "$([ $((afterRss - warmRss)) -le "$BENCH_RSS_GROWTH_MAX_KIB" ] && echo 1)" \
        "resident memory after warm-up $(mib "$warmRss") MiB," \
        "after every scenario and $BENCH_SOAK_REQUESTS requests $(mib "$afterRss") MiB" \
        "(growth <= $(mib "$BENCH_RSS_GROWTH_MAX_KIB") MiB)"
    check "$([ "$afterFds" -le "$idleFds" ] && echo 1)" \
        "descriptors back to the idle count: $afterFds (idle $idleFds)"

    # Every failed Vantry request, by scenario: for the 404 page only failures other than by
    # length, elsewhere every failure and every answer with another status.
    local key failed=0 where=""
    declare -A byScenario
    for key in "${!FAILS[@]}"; do
        [[ $key == *:vantry:* || $key == *:vantry+*:* || $key == *:vantry ]] || continue
        [ "${FAILS[$key]}" -gt 0 ] || continue
        failed=$((failed + FAILS[$key]))
        byScenario[${key%%:*}]=$((${byScenario[${key%%:*}]:-0} + FAILS[$key]))
    done
    if [ "$soakNonLength" -gt 0 ] || [ "$soakComplete" != "$BENCH_SOAK_REQUESTS" ]; then
        failed=$((failed + soakNonLength + BENCH_SOAK_REQUESTS - soakComplete))
        byScenario["long run"]=$((soakNonLength + BENCH_SOAK_REQUESTS - soakComplete))
    fi
    for scenario in "${SCENARIOS[@]}" "long run"; do
        [ -n "${byScenario[$scenario]:-}" ] && where+=", $scenario ${byScenario[$scenario]}"
    done
    check "$([ "$failed" = 0 ] && echo 1)" \
        "vantry: every request answered in full: $failed failed${where:+ (${where#, })}"

    local name errors
    printf '\n'
    for name in vantry vantry-login vantry-log vantry-nolog vantry-upload vantry-multipart vantry-modern \
        vantry-dual vantry-https vantry-proxied vantry-stall vantry-idle vantry-dav vantry-renewal haproxy; do
        [ -f "$BENCH_OUT/$name.stderr" ] || continue
        errors=$(grep -c . "$BENCH_OUT/$name.stderr" 2>/dev/null)
        printf '%s stderr: %s line(s)\n' "$name" "${errors:-0}"
        [ "${errors:-0}" -gt 0 ] && head -n 20 "$BENCH_OUT/$name.stderr"
    done
    for name in vantry-login vantry-log vantry-nolog vantry-upload vantry-multipart vantry-modern vantry-dual \
        vantry-https vantry-proxied vantry-stall vantry-idle vantry-dav vantry-renewal; do
        [ -n "${EXTRA_STOP_STATUS[$name]:-}" ] &&
            printf '%s stopped with status %s\n' "$name" "${EXTRA_STOP_STATUS[$name]}"
    done

    stop_vantry
    printf 'vantry stopped with status %s\n' "${BENCH_LAST_STOP_STATUS:-?}"
    printf 'other work at the end: %s\n' "$(bench_other_activity)"
    [ "$CHECKS_FAILED" -eq 0 ]
}

CLOCK_TICKS=$(getconf CLK_TCK 2>/dev/null || echo 100)
bench_run_reported ""
