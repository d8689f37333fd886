# shellcheck shell=bash
# Shared pieces of the benchmarks: packages, the Release build, the Vantry instances and their
# peers (each started as our own child and stopped by its id), load runs with ab, downloads
# with curl, and readings from /proc. Sourced by bench/run.sh; every wait here is bounded.

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

BENCH_VANTRY_ADDR=127.0.0.2
BENCH_NGINX_ADDR=127.0.0.3
BENCH_LIGHTTPD_ADDR=127.0.0.4
BENCH_HAPROXY_ADDR=127.0.0.5
BENCH_START_TIMEOUT=${BENCH_START_TIMEOUT:-10}  # seconds for a server to listen
BENCH_STOP_TIMEOUT=${BENCH_STOP_TIMEOUT:-10}    # seconds for a server to end after SIGTERM
BENCH_AB_TIMEOUT=${BENCH_AB_TIMEOUT:-600}       # seconds for one ab run, whatever happens
BENCH_PIN=${BENCH_PIN:-both}                    # 1: servers on CPU 0, ab on CPU 1; 0: any CPU
BENCH_CURL_TIMEOUT=${BENCH_CURL_TIMEOUT:-120}   # seconds for one download
BENCH_WRK_SECONDS=${BENCH_WRK_SECONDS:-10}      # seconds of one wrk run
BENCH_ACME_VALIDITY=${BENCH_ACME_VALIDITY:-24}  # seconds a certificate from pebble lives
# The servers start with this environment only, not the caller's: a CGI script gets Vantry's
# environment and its interpreter is looked up in PATH, so a long PATH or many variables
# would weigh on the figures differently on every machine.
BENCH_SERVER_ENV=("PATH=/usr/local/bin:/usr/bin:/bin" "HOME=${HOME:-/}")
# The login of the authentication scenario, in Vantry's user store and nginx's password file.
BENCH_AUTH_USER=bench
BENCH_AUTH_PASSWORD=b3nch-pass
# The administrator of the main instance (a user of its registry file, which asks no one else
# for a login), for the administration pages.
BENCH_ADMIN_ID=Admin
BENCH_ADMIN_PASSWORD=adm1n-pass
# How nginx keeps that password: "plain" (as Vantry keeps it), "apr1" (hashed with openssl),
# or "none" (no nginx comparison).
BENCH_NGINX_AUTH=${BENCH_NGINX_AUTH:-plain}

BENCH_DIR=""      # the temporary directory of this run
BENCH_OUT=""      # where raw outputs and server logs are kept after the run
VANTRY_PID=""
VANTRY_PORT=""
VANTRY_URL=""
NGINX_PID=""
NGINX_PORT=""
NGINX_URL=""
NGINX_AUTH_PORT=""
NGINX_AUTH_URL=""    # empty when nginx serves no page behind a login
NGINX_KA_URL=""      # the server of the nginx process that keeps connections open
NGINX_IDLE_PID=""    # the nginx of the idle-connections scenario, a process of its own
NGINX_IDLE_URL=""
NGINX_PUT_PID=""     # the nginx that takes uploads (PUT), a process of its own
NGINX_PUT_URL=""
NGINX_DAV_PID=""     # the nginx of the WebDAV scenario, a process of its own
NGINX_DAV_URL=""
LIGHTTPD_DAV_PID=""  # the lighttpd of the WebDAV scenario, the same
LIGHTTPD_DAV_URL=""
NGINX_TLS_URL=""    # empty unless nginx also serves HTTPS
BENCH_TLS_CERT=""   # the certificate both serve HTTPS with, made by vantry-cert; empty: no HTTPS
BENCH_TLS_KEY=""
LIGHTTPD_PID=""
LIGHTTPD_PORT=""
LIGHTTPD_URL=""
NGINX_PROXIED_PORT=""  # nginx's listener that expects the PROXY protocol; empty: none
HAPROXY_PID=""
HAPROXY_VANTRY_URL=""  # HAProxy's fronts: to Vantry's proxied installation, and to nginx's
HAPROXY_NGINX_URL=""
BENCH_PEER_STOPS=()  # stop commands of the peers and instances started, for bench_cleanup
BENCH_AB_PID=""      # the load run in progress

bench_say() { printf '%s\n' "$*"; }
bench_die() {
    printf 'bench: %s\n' "$*" >&2
    exit 1
}

# Installs what the build and the benchmark need and is missing (apt-get update runs only
# then); nginx-light unless an nginx is already there, lighttpd and haproxy unless they are;
# and the packages named as arguments (those of the scenarios chosen).
bench_require_tools() {
    local extra=(apache2-utils curl procps php-cgi wrk "$@")
    command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || extra+=(nginx-light)
    command -v lighttpd >/dev/null 2>&1 || [ -x /usr/sbin/lighttpd ] || extra+=(lighttpd)
    command -v haproxy >/dev/null 2>&1 || [ -x /usr/sbin/haproxy ] || extra+=(haproxy)
    "$BENCH_ROOT/tools/install-deps.sh" "${extra[@]}" || bench_die "could not install ${extra[*]}"
}

bench_nginx_binary() {
    if command -v nginx >/dev/null 2>&1; then command -v nginx; else echo /usr/sbin/nginx; fi
}

bench_lighttpd_binary() {
    if command -v lighttpd >/dev/null 2>&1; then command -v lighttpd; else echo /usr/sbin/lighttpd; fi
}

bench_haproxy_binary() {
    if command -v haproxy >/dev/null 2>&1; then command -v haproxy; else echo /usr/sbin/haproxy; fi
}

# Builds the server without tests into build-bench/ at the repository root. A failed build
# is tried again after BENCH_BUILD_RETRY_DELAY seconds, up to BENCH_BUILD_TRIES times in all:
# sources being edited while the benchmark starts need not end the run.
bench_build_vantry() {
    local tries=${BENCH_BUILD_TRIES:-1} delay=${BENCH_BUILD_RETRY_DELAY:-60} try
    for ((try = 1; ; try++)); do
        if (
            cd "$BENCH_ROOT"
            cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVANTRY_TESTS=OFF >/dev/null
            cmake --build build-bench -j2
        ) >"$BENCH_OUT/build.log" 2>&1; then
            break
        fi
        if [ "$try" -ge "$tries" ]; then
            tail -n 30 "$BENCH_OUT/build.log" >&2
            bench_die "the Release build failed (full log: $BENCH_OUT/build.log)"
        fi
        bench_say "the Release build failed (try $try of $tries); again in ${delay}s"
        sleep "$delay"
    done
    [ -x "$BENCH_ROOT/build-bench/vantry" ] || bench_die "build-bench/vantry was not built"
}

# The servers inherit this shell's limit of open descriptors: up to the hard limit (at most
# 65536), so that a thousand stalled clients fit in nginx's and lighttpd's as they do in
# Vantry's, which raises its own soft limit to its hard one. With NEEDED, a hard limit below
# it is raised to it first where that is allowed (as root): the idle-connections scenario
# holds ten thousand connections in one server.
bench_raise_open_files() {
    local needed=${1:-0} hard soft
    hard=$(ulimit -H -n)
    if [ "$hard" != unlimited ] && [ "$hard" -lt "$needed" ]; then
        ulimit -H -n "$needed" 2>/dev/null && hard=$needed
    fi
    soft=$(ulimit -S -n)
    if [ "$hard" = unlimited ] || [ "$hard" -gt 65536 ]; then hard=65536; fi
    if [ "$soft" != unlimited ] && [ "$soft" -lt "$hard" ]; then ulimit -S -n "$hard"; fi
}

# The temporary instance directory with an empty web root.
bench_make_workdir() {
    BENCH_DIR=$(mktemp -d /tmp/vantry-bench.XXXXXX) || bench_die "mktemp failed"
    # nginx's worker may run as another user and must reach www/.
    chmod 755 "$BENCH_DIR"
    mkdir -p "$BENCH_DIR/www"
}

# The port of an IPv4 or IPv6 socket line of /proc/net/tcp*, in hex, at field 2 after ':'.
bench_port_in_use() {
    local hex
    hex=$(printf '%04X' "$1")
    awk -v p="$hex" 'NR > 1 { split($2, a, ":"); if (a[2] == p) found = 1 } END { exit !found }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# A port that no socket of this machine uses, any address, any state.
bench_free_port() {
    local tries port
    for ((tries = 0; tries < 200; tries++)); do
        port=$((20000 + RANDOM % 12000))
        bench_port_in_use "$port" || {
            echo "$port"
            return 0
        }
    done
    bench_die "found no free port"
}

# True when ADDR:PORT has a listening socket. Looking at /proc/net/tcp instead of connecting
# keeps the server free of any connection before its idle reading.
bench_is_listening() {
    local addr=$1 port=$2 hexaddr octets
    # "::" stands for a socket on every IPv6 (and IPv4) address.
    if [ "$addr" = :: ]; then
        awk -v want="00000000000000000000000000000000:$(printf '%04X' "$port")" \
            'NR > 1 && $2 == want && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp6
        return
    fi
    # The kernel shows the address as one 32-bit word in host (little-endian) order.
    IFS=. read -r -a octets <<<"$addr"
    hexaddr=$(printf '%02X%02X%02X%02X' "${octets[3]}" "${octets[2]}" "${octets[1]}" "${octets[0]}")
    awk -v want="$hexaddr:$(printf '%04X' "$port")" \
        'NR > 1 && $2 == want && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

# Waits until PID listens on ADDR:PORT; fails when PID ends or the time runs out.
bench_wait_listening() {
    local pid=$1 addr=$2 port=$3 name=$4 i
    for ((i = 0; i < BENCH_START_TIMEOUT * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || bench_die "$name ended at start (see $BENCH_OUT)"
        bench_is_listening "$addr" "$port" && return 0
        sleep 0.1
    done
    bench_die "$name did not listen on $addr:$port within ${BENCH_START_TIMEOUT}s"
}

# Sends SIGTERM to our child PID, waits a bounded time, then SIGKILL. Prints the outcome.
bench_stop_pid() {
    local pid=$1 name=$2 i status
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || {
        wait "$pid" 2>/dev/null
        return 0
    }
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < BENCH_STOP_TIMEOUT * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        bench_say "$name (pid $pid) still ran ${BENCH_STOP_TIMEOUT}s after SIGTERM: killed"
        kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    status=$?
    BENCH_LAST_STOP_STATUS=$status
}

# Sets BENCH_PIN_CMD to the command prefix that keeps a process on CPU (empty when not
# pinning). A prefix rather than a wrapper function: a server started with & must be our
# direct child, so that $! is its own id.
bench_pin_to() {
    BENCH_PIN_CMD=()
    if [ "$BENCH_PIN" = 1 ] && [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null 2>&1; then
        BENCH_PIN_CMD=(taskset -c "$1")
    fi
}

# A Vantry installation in DIR: its own copy of the program, Vantry.ini, XDG_RUNTIME_DIR and
# registry file (DIR/registry.reg, which may be missing), serving the shared web root on
# 127.0.0.2, started in the background with DIR as its working directory (its access log
# goes there). NAME names its output files in $BENCH_OUT; the [Config] lines after NAME
# follow the port and web root. Sets the variables NAME_PID, NAME_PORT and NAME_URL (NAME in
# capitals, "-" as "_"); the pid is set before the wait, so that the cleanup finds it. With
# BENCH_VANTRY_EVERYWHERE=1 it starts without -bind and listens on every address, IPv6 and
# IPv4; NAME_URL still names 127.0.0.2. With BENCH_VANTRY_PORT it listens on that port
# rather than a free one it picks (for a peer that must know the port before it starts). With
# a "tlsPort=N" line it waits for that port too and sets NAME_TLS_URL; with
# BENCH_VANTRY_TLS_LATER=1 it only sets NAME_TLS_URL: HTTPS starts once the installation has
# obtained its certificate, which the caller waits for.
bench_start_vantry_in() {
    local dir=$1 name=$2 prefix port pid bindArgs=(-bind "$BENCH_VANTRY_ADDR")
    local listenAddr=$BENCH_VANTRY_ADDR
    shift 2
    if [ "${BENCH_VANTRY_EVERYWHERE:-0}" = 1 ]; then
        bindArgs=()
        listenAddr=::
    fi
    prefix=${name^^}
    prefix=${prefix//-/_}
    port=${BENCH_VANTRY_PORT:-}
    [ -n "$port" ] || port=$(bench_free_port) || exit 1
    mkdir -p "$dir/run"
    cp "${BENCH_VANTRY_BINARY:-$BENCH_ROOT/build-bench/vantry}" "$dir/vantry"
    # The program that obtains certificates lives beside the server (the renewal scenario's).
    local acme
    acme=$(dirname "${BENCH_VANTRY_BINARY:-$BENCH_ROOT/build-bench/vantry}")/vantry-acme
    if [ -x "$acme" ]; then cp "$acme" "$dir/vantry-acme"; fi
    {
        printf '[Config]\nport=%s\nwwwroot=%s/www/\n' "$port" "$BENCH_DIR"
        printf '%s\n' "$@"
    } >"$dir/Vantry.ini"
    bench_pin_to 0
    env -i -C "$dir" "${BENCH_SERVER_ENV[@]}" XDG_RUNTIME_DIR="$dir/run" \
        VANTRY_REGISTRY="$dir/registry.reg" \
        "${BENCH_PIN_CMD[@]}" "$dir/vantry" "${bindArgs[@]}" --headless --no-qr \
        </dev/null >"$BENCH_OUT/$name.stdout" 2>"$BENCH_OUT/$name.stderr" &
    pid=$!
    printf -v "${prefix}_PID" '%s' "$pid"
    printf -v "${prefix}_PORT" '%s' "$port"
    bench_wait_listening "$pid" "$listenAddr" "$port" "$name"
    printf -v "${prefix}_URL" '%s' "http://$BENCH_VANTRY_ADDR:$port"
    local line
    for line in "$@"; do
        [[ $line == tlsPort=* ]] || continue
        [ "${BENCH_VANTRY_TLS_LATER:-0}" = 1 ] ||
            bench_wait_listening "$pid" "$BENCH_VANTRY_ADDR" "${line#tlsPort=}" "$name"
        printf -v "${prefix}_TLS_URL" '%s' "https://$BENCH_VANTRY_ADDR:${line#tlsPort=}"
    done
}

# The certificate and key for both servers' HTTPS (their two addresses), in $BENCH_DIR/tls.
bench_make_certificate() {
    mkdir -p "$BENCH_DIR/tls"
    "$BENCH_ROOT/build-bench/vantry-cert" -o "$BENCH_DIR/tls" "$BENCH_VANTRY_ADDR" \
        "$BENCH_NGINX_ADDR" >"$BENCH_OUT/vantry-cert.txt" 2>&1 ||
        bench_die "vantry-cert failed (see $BENCH_OUT/vantry-cert.txt)"
    # nginx's worker may run as another user and must read the key.
    chmod 644 "$BENCH_DIR/tls/vantry.key"
    BENCH_TLS_CERT=$BENCH_DIR/tls/vantry.crt
    BENCH_TLS_KEY=$BENCH_DIR/tls/vantry.key
}

# The main instance, in $BENCH_DIR: access log off, CGI on (a server not asked for a script
# never runs one), the administrator's login in its registry file.
start_vantry() {
    cat >"$BENCH_DIR/registry.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]
"$BENCH_ADMIN_ID"="$BENCH_ADMIN_PASSWORD"
REG
    bench_start_vantry_in "$BENCH_DIR" vantry logs=N cgi=Y "[Script]" "php=php-cgi"
}

stop_vantry() {
    bench_stop_pid "$VANTRY_PID" vantry
    VANTRY_PID=""
}

# Checks a peer's configuration by running COMMAND...; when it is rejected, shows why and ends
# the run. The output is kept in $BENCH_OUT/NAME-test.log.
bench_check_config() {
    local name=$1
    shift
    "$@" >"$BENCH_OUT/$name-test.log" 2>&1 || {
        cat "$BENCH_OUT/$name-test.log" >&2
        bench_die "$name rejected its configuration"
    }
}

# Starts the peer COMMAND... in the background as our own child, with the servers' environment,
# pinned as they are, its output in $BENCH_OUT/NAME.stdout and NAME.stderr; sets
# BENCH_STARTED_PID (env replaces itself with the command, so that is the peer's own id).
bench_start_peer() {
    local name=$1
    shift
    bench_pin_to 0
    env -i "${BENCH_SERVER_ENV[@]}" "${BENCH_PIN_CMD[@]}" "$@" \
        </dev/null >"$BENCH_OUT/$name.stdout" 2>"$BENCH_OUT/$name.stderr" &
    BENCH_STARTED_PID=$!
}

# nginx's password file for the login, per BENCH_NGINX_AUTH; fails when there is to be none.
bench_nginx_password_file() {
    local file=$1 hash
    case $BENCH_NGINX_AUTH in
    plain) hash="{PLAIN}$BENCH_AUTH_PASSWORD" ;;
    apr1)
        command -v openssl >/dev/null 2>&1 || return 1
        hash=$(openssl passwd -apr1 "$BENCH_AUTH_PASSWORD") || return 1
        ;;
    *) return 1 ;;
    esac
    printf '%s:%s\n' "$BENCH_AUTH_USER" "$hash" >"$file"
}

# nginx with one worker, serving the same web root; a missing file is answered with
# NOT_FOUND_PAGE (a copy of Vantry's 404 body), so both answers are the same size. A second
# server of the same process serves the web root behind a Basic login (NGINX_AUTH_URL),
# unless BENCH_NGINX_AUTH is "none". Connections are closed after each answer, except by
# the server at NGINX_KA_URL, which keeps them open as Vantry does (15 s, 1000 requests).
# Every start_PEER takes that page, sets PEER_PID and PEER_URL and adds its stop function
# to BENCH_PEER_STOPS.
start_nginx() {
    local notFoundPage=$1 conf authServer="" tlsServer="" tlsPort=""
    local prefix=$BENCH_DIR/nginx kaPort
    NGINX_PORT=$(bench_free_port) || exit 1
    kaPort=$NGINX_PORT
    while [ "$kaPort" = "$NGINX_PORT" ]; do kaPort=$(bench_free_port) || exit 1; done
    # With a certificate made, a third server of the process serves the web root over HTTPS
    # with it: TLS 1.2 and 1.3, the library's default ciphers, HTTP/2 offered, as Vantry, and
    # no cap on the requests of a connection (Vantry's HTTP/2 has none).
    NGINX_TLS_URL=""
    if [ -n "$BENCH_TLS_CERT" ]; then
        tlsPort=$(bench_free_port) || exit 1
        tlsServer="
    server {
        listen $BENCH_NGINX_ADDR:$tlsPort ssl http2;
        keepalive_timeout 15;
        keepalive_requests 1000000;
        ssl_certificate $BENCH_TLS_CERT;
        ssl_certificate_key $BENCH_TLS_KEY;
        ssl_protocols TLSv1.2 TLSv1.3;
        root $BENCH_DIR/www;
        location / {
            try_files \$uri =404;
        }
    }"
    fi
    # With BENCH_NGINX_PROXIED=1, a fourth server of the process serves the web root to
    # HAProxy, every connection opening with the PROXY protocol, as Vantry's proxied one.
    local proxiedServer=""
    NGINX_PROXIED_PORT=""
    if [ "${BENCH_NGINX_PROXIED:-0}" = 1 ]; then
        NGINX_PROXIED_PORT=$(bench_free_port) || exit 1
        proxiedServer="
    server {
        listen $BENCH_NGINX_ADDR:$NGINX_PROXIED_PORT proxy_protocol;
        root $BENCH_DIR/www;
        location / {
            try_files \$uri =404;
        }
    }"
    fi
    mkdir -p "$prefix/pages" "$prefix/temp"
    cp "$notFoundPage" "$prefix/pages/bench-not-found.html"
    NGINX_AUTH_URL=""
    if bench_nginx_password_file "$prefix/htpasswd"; then
        NGINX_AUTH_PORT=$NGINX_PORT
        while [ "$NGINX_AUTH_PORT" = "$NGINX_PORT" ]; do
            NGINX_AUTH_PORT=$(bench_free_port) || exit 1
        done
        authServer="
    server {
        listen $BENCH_NGINX_ADDR:$NGINX_AUTH_PORT;
        root $BENCH_DIR/www;
        location / {
            auth_basic \"Vantry benchmark\";
            auth_basic_user_file $prefix/htpasswd;
            try_files \$uri =404;
        }
    }"
    fi
    conf=$prefix/nginx.conf
    bench_nginx_head "$prefix" 4096 >"$conf"
    cat >>"$conf" <<CONF
http {
    types {
        text/html html htm;
        text/plain txt;
        text/css css;
        application/javascript js;
        image/gif gif;
        image/jpeg jpg jpeg;
        image/png png;
    }
    default_type application/octet-stream;
    access_log off;
    server_tokens off;
    keepalive_timeout 0;
    sendfile on;
    tcp_nopush on;
$(bench_nginx_temp_paths "$prefix")

    server {
        listen $BENCH_NGINX_ADDR:$NGINX_PORT;
        root $BENCH_DIR/www;
        error_page 404 /bench-not-found.html;
        location / {
            try_files \$uri =404;
        }
        location /listing/ {
            autoindex on;
        }
        location = /bench-not-found.html {
            internal;
            root $prefix/pages;
            etag off;
        }
        # No CGI here: the script that reads the whole body is played by the proxy, which
        # reads the whole body before passing it on, and a server of this process answering.
        location = /cgi-bin/drain.sh {
            proxy_pass http://unix:$prefix/drain.sock:/drained;
        }
    }

    server {
        listen $BENCH_NGINX_ADDR:$kaPort;
        keepalive_timeout 15;
        keepalive_requests 1000;
        root $BENCH_DIR/www;
        error_page 404 /bench-not-found.html;
        location / {
            try_files \$uri =404;
        }
        location = /bench-not-found.html {
            internal;
            root $prefix/pages;
            etag off;
        }
    }

    server {
        listen unix:$prefix/drain.sock;
        location / {
            default_type text/plain;
            return 200 "drained\n";
        }
    }
$authServer
$tlsServer
$proxiedServer
}
CONF
    local nginx
    nginx=$(bench_nginx_binary)
    bench_check_config nginx "$nginx" -t -q -p "$prefix/" -c "$conf" -e "$prefix/error.log"
    bench_start_peer nginx "$nginx" -p "$prefix/" -c "$conf" -e "$prefix/error.log"
    NGINX_PID=$BENCH_STARTED_PID
    BENCH_PEER_STOPS+=(stop_nginx)
    bench_wait_listening "$NGINX_PID" "$BENCH_NGINX_ADDR" "$NGINX_PORT" nginx
    NGINX_URL="http://$BENCH_NGINX_ADDR:$NGINX_PORT"
    bench_wait_listening "$NGINX_PID" "$BENCH_NGINX_ADDR" "$kaPort" nginx
    NGINX_KA_URL="http://$BENCH_NGINX_ADDR:$kaPort"
    if [ -n "$authServer" ]; then
        bench_wait_listening "$NGINX_PID" "$BENCH_NGINX_ADDR" "$NGINX_AUTH_PORT" nginx
        NGINX_AUTH_URL="http://$BENCH_NGINX_ADDR:$NGINX_AUTH_PORT"
    fi
    if [ -n "$tlsServer" ]; then
        bench_wait_listening "$NGINX_PID" "$BENCH_NGINX_ADDR" "$tlsPort" nginx
        NGINX_TLS_URL="https://$BENCH_NGINX_ADDR:$tlsPort"
    fi
    [ -z "$NGINX_PROXIED_PORT" ] ||
        bench_wait_listening "$NGINX_PID" "$BENCH_NGINX_ADDR" "$NGINX_PROXIED_PORT" nginx
}

stop_nginx() {
    [ -n "$NGINX_PID" ] || return 0
    bench_stop_pid "$NGINX_PID" nginx
    cp "$BENCH_DIR/nginx/error.log" "$BENCH_OUT/nginx-error.log" 2>/dev/null
    NGINX_PID=""
}

# nginx's temporary directories, all under PREFIX/temp: the package's own are not ours to use.
bench_nginx_temp_paths() {
    local kind
    for kind in client_body proxy fastcgi uwsgi scgi; do
        printf '    %s_temp_path %s/temp/%s;\n' "$kind" "$1" "$kind"
    done
}

# A second nginx, a process of its own for the idle-connections scenario: one worker with room
# for CONNECTIONS connections, each kept open SECONDS, serving the web root. Its own process,
# so that the main one's figures are not those of a server sized for ten thousand clients.
# The worker has a quarter more connections than it holds: with fewer than a sixteenth of
# them free, nginx closes kept connections to make room. Sets NGINX_IDLE_PID and
# NGINX_IDLE_URL.
start_nginx_idle() {
    local connections=$(($1 + $1 / 4 + 100)) seconds=$2 prefix=$BENCH_DIR/nginx-idle port
    port=$(bench_free_port) || exit 1
    mkdir -p "$prefix/temp"
    bench_nginx_head "$prefix" "$connections" "worker_rlimit_nofile $((connections + 100));" \
        >"$prefix/nginx.conf"
    cat >>"$prefix/nginx.conf" <<CONF
http {
    types {
        text/html html;
    }
    access_log off;
    server_tokens off;
    keepalive_timeout $seconds;
    keepalive_requests 1000;
    sendfile on;
    tcp_nopush on;
$(bench_nginx_temp_paths "$prefix")

    server {
        listen $BENCH_NGINX_ADDR:$port;
        root $BENCH_DIR/www;
        location / {
            try_files \$uri =404;
        }
    }
}
CONF
    bench_run_nginx nginx-idle "$port" NGINX_IDLE_PID stop_nginx_idle
    NGINX_IDLE_URL="http://$BENCH_NGINX_ADDR:$port"
}

stop_nginx_idle() {
    bench_stop_nginx nginx-idle "$NGINX_IDLE_PID"
    NGINX_IDLE_PID=""
}

# The start of an nginx configuration for PREFIX: one worker process in the foreground under a
# master, its pid and error log in PREFIX, CONNECTIONS per worker, and LINE (a directive) when
# given. As root the master would hand the worker to "nobody": it stays the user Vantry runs as.
bench_nginx_head() {
    local prefix=$1 connections=$2 line=${3:-}
    [ "$(id -u)" -eq 0 ] && printf 'user %s %s;\n' "$(id -un)" "$(id -gn)"
    [ -n "$line" ] && printf '%s\n' "$line"
    cat <<CONF
worker_processes 1;
daemon off;
master_process on;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;

events {
    worker_connections $connections;
}

CONF
}

# Checks and starts the nginx whose configuration is $BENCH_DIR/NAME/nginx.conf, sets the
# variable PIDVAR to its process id, adds STOP to the peers stopped at the end, and waits
# until it listens on PORT.
bench_run_nginx() {
    local name=$1 port=$2 pidVar=$3 stop=$4 prefix=$BENCH_DIR/$1 nginx
    nginx=$(bench_nginx_binary)
    bench_check_config "$name" "$nginx" -t -q -p "$prefix/" -c "$prefix/nginx.conf" \
        -e "$prefix/error.log"
    bench_start_peer "$name" "$nginx" -p "$prefix/" -c "$prefix/nginx.conf" -e "$prefix/error.log"
    printf -v "$pidVar" '%s' "$BENCH_STARTED_PID"
    BENCH_PEER_STOPS+=("$stop")
    bench_wait_listening "$BENCH_STARTED_PID" "$BENCH_NGINX_ADDR" "$port" "$name"
}

# Stops the nginx NAME that bench_run_nginx started as PID (none when empty), keeping its
# error log with the output.
bench_stop_nginx() {
    [ -n "$2" ] || return 0
    bench_stop_pid "$2" "$1"
    cp "$BENCH_DIR/$1/error.log" "$BENCH_OUT/$1-error.log" 2>/dev/null
}

# A third nginx, a process of its own for the multipart upload scenario: one worker that stores
# the body of a PUT under ROOT (dav_methods PUT), any size, reading it through a buffer of
# 256 KiB as Vantry and dd do; the body first goes to a temporary file on the same disk, which
# is then renamed. Sets NGINX_PUT_PID and NGINX_PUT_URL.
start_nginx_put() {
    local root=$1 prefix=$BENCH_DIR/nginx-put port
    port=$(bench_free_port) || exit 1
    mkdir -p "$prefix/temp"
    bench_nginx_head "$prefix" 64 >"$prefix/nginx.conf"
    cat >>"$prefix/nginx.conf" <<CONF
http {
    access_log off;
    server_tokens off;
    client_max_body_size 0;
    client_body_buffer_size 256k;
$(bench_nginx_temp_paths "$prefix")

    server {
        listen $BENCH_NGINX_ADDR:$port;
        root $root;
        location / {
            dav_methods PUT;
        }
    }
}
CONF
    bench_run_nginx nginx-put "$port" NGINX_PUT_PID stop_nginx_put
    NGINX_PUT_URL="http://$BENCH_NGINX_ADDR:$port"
}

stop_nginx_put() {
    bench_stop_nginx nginx-put "$NGINX_PUT_PID"
    NGINX_PUT_PID=""
}

# The WebDAV module that answers PROPFIND (nginx's own takes only PUT, DELETE, MKCOL, COPY and
# MOVE), from Debian's libnginx-mod-http-dav-ext; empty when it is not installed.
BENCH_NGINX_DAV_EXT=/usr/lib/nginx/modules/ngx_http_dav_ext_module.so

# A fourth nginx, a process of its own for the WebDAV scenario: one worker serving ROOT with
# its dav module (dav_methods PUT DELETE MKCOL COPY MOVE, create_full_put_path on, any body
# size, bodies read through a buffer of 256 KiB into temporary files on the same disk) and
# PROPFIND and OPTIONS from the dav-ext module. Sets NGINX_DAV_PID and NGINX_DAV_URL.
start_nginx_dav() {
    local root=$1 prefix=$BENCH_DIR/nginx-dav port
    port=$(bench_free_port) || exit 1
    mkdir -p "$prefix/temp"
    bench_nginx_head "$prefix" 256 "load_module $BENCH_NGINX_DAV_EXT;" >"$prefix/nginx.conf"
    cat >>"$prefix/nginx.conf" <<CONF
http {
    access_log off;
    server_tokens off;
    client_max_body_size 0;
    client_body_buffer_size 256k;
$(bench_nginx_temp_paths "$prefix")

    server {
        listen $BENCH_NGINX_ADDR:$port;
        root $root;
        location / {
            dav_methods PUT DELETE MKCOL COPY MOVE;
            dav_ext_methods PROPFIND OPTIONS;
            create_full_put_path on;
            dav_access user:rw group:rw all:r;
        }
    }
}
CONF
    bench_run_nginx nginx-dav "$port" NGINX_DAV_PID stop_nginx_dav
    NGINX_DAV_URL="http://$BENCH_NGINX_ADDR:$port"
}

stop_nginx_dav() {
    bench_stop_nginx nginx-dav "$NGINX_DAV_PID"
    NGINX_DAV_PID=""
}

# A second lighttpd, a process of its own for the WebDAV scenario: one process serving ROOT
# read-write with mod_webdav (Debian's lighttpd-mod-webdav), no access log. Sets
# LIGHTTPD_DAV_PID and LIGHTTPD_DAV_URL.
start_lighttpd_dav() {
    local root=$1 prefix=$BENCH_DIR/lighttpd-dav port lighttpd
    port=$(bench_free_port) || exit 1
    mkdir -p "$prefix"
    cat >"$prefix/lighttpd.conf" <<CONF
server.modules = ("mod_webdav")
server.document-root = "$root"
server.bind = "$BENCH_LIGHTTPD_ADDR"
server.port = $port
server.pid-file = "$prefix/lighttpd.pid"
server.errorlog = "$prefix/error.log"
server.max-worker = 0
server.tag = ""
server.max-request-size = 0
server.upload-dirs = ("$prefix")
webdav.activate = "enable"
webdav.is-readonly = "disable"
mimetype.assign = ("" => "application/octet-stream")
CONF
    lighttpd=$(bench_lighttpd_binary)
    bench_check_config lighttpd-dav "$lighttpd" -tt -f "$prefix/lighttpd.conf"
    bench_start_peer lighttpd-dav "$lighttpd" -D -f "$prefix/lighttpd.conf"
    LIGHTTPD_DAV_PID=$BENCH_STARTED_PID
    BENCH_PEER_STOPS+=(stop_lighttpd_dav)
    bench_wait_listening "$LIGHTTPD_DAV_PID" "$BENCH_LIGHTTPD_ADDR" "$port" lighttpd-dav
    LIGHTTPD_DAV_URL="http://$BENCH_LIGHTTPD_ADDR:$port"
}

stop_lighttpd_dav() {
    [ -n "$LIGHTTPD_DAV_PID" ] || return 0
    bench_stop_pid "$LIGHTTPD_DAV_PID" lighttpd-dav
    cp "$BENCH_DIR/lighttpd-dav/error.log" "$BENCH_OUT/lighttpd-dav-error.log" 2>/dev/null
    LIGHTTPD_DAV_PID=""
}

# A certificate authority on loopback for the certificate renewal scenario: Debian's pebble
# (ACME) with its DNS helper pebble-challtestsrv, which answers every name with Vantry's
# address; pebble checks the HTTP-01 challenges at the port given, Vantry's plain port.
# Certificates live BENCH_ACME_VALIDITY seconds; PEBBLE_VA_NOSLEEP=1 spares the random pause
# pebble takes before each check. pebble serves its directory over HTTPS with a certificate
# made here by openssl (PEBBLE_CERT, which Vantry checks the directory against). Both are
# children as the servers are, pinned as they are, with their environment. Sets PEBBLE_PID,
# CHALLTESTSRV_PID, PEBBLE_CERT, PEBBLE_DIRECTORY_URL and PEBBLE_MANAGEMENT_URL (where pebble
# gives its root certificate, /roots/0).
PEBBLE_PID=""
CHALLTESTSRV_PID=""
PEBBLE_CERT=""
PEBBLE_DIRECTORY_URL=""
PEBBLE_MANAGEMENT_URL=""
start_pebble() {
    local httpPort=$1 prefix=$BENCH_DIR/pebble port managementPort dnsPort tlsAlpnPort
    mkdir -p "$prefix"
    port=$(bench_free_port) || exit 1
    managementPort=$(bench_free_port) || exit 1
    dnsPort=$(bench_free_port) || exit 1
    tlsAlpnPort=$(bench_free_port) || exit 1
    local challengeManagement
    challengeManagement=$(bench_free_port) || exit 1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj /CN=localhost -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
        -keyout "$prefix/pebble-key.pem" -out "$prefix/pebble-cert.pem" \
        >"$BENCH_OUT/pebble-openssl.log" 2>&1 ||
        bench_die "openssl could not make pebble's certificate (see $BENCH_OUT/pebble-openssl.log)"
    PEBBLE_CERT=$prefix/pebble-cert.pem
    cat >"$prefix/pebble.json" <<JSON
{"pebble": {"listenAddress": "127.0.0.1:$port",
            "managementListenAddress": "127.0.0.1:$managementPort",
            "certificate": "$prefix/pebble-cert.pem", "privateKey": "$prefix/pebble-key.pem",
            "httpPort": $httpPort, "tlsPort": $tlsAlpnPort,
            "ocspResponderURL": "", "externalAccountBindingRequired": false,
            "certificateValidityPeriod": $BENCH_ACME_VALIDITY}}
JSON
    bench_start_peer challtestsrv pebble-challtestsrv -defaultIPv4 "$BENCH_VANTRY_ADDR" \
        -defaultIPv6 "" -dns01 "127.0.0.1:$dnsPort" -http01 "" -https01 "" -tlsalpn01 "" \
        -management "127.0.0.1:$challengeManagement"
    CHALLTESTSRV_PID=$BENCH_STARTED_PID
    BENCH_PEER_STOPS+=(stop_pebble)
    bench_wait_listening "$CHALLTESTSRV_PID" 127.0.0.1 "$challengeManagement" challtestsrv
    # pebble's pause is switched off in its environment, which is otherwise the servers'.
    local BENCH_SERVER_ENV=("${BENCH_SERVER_ENV[@]}" PEBBLE_VA_NOSLEEP=1)
    bench_start_peer pebble pebble -config "$prefix/pebble.json" -dnsserver "127.0.0.1:$dnsPort"
    PEBBLE_PID=$BENCH_STARTED_PID
    bench_wait_listening "$PEBBLE_PID" 127.0.0.1 "$port" pebble
    PEBBLE_DIRECTORY_URL="https://127.0.0.1:$port/dir"
    PEBBLE_MANAGEMENT_URL="https://127.0.0.1:$managementPort"
}

stop_pebble() {
    if [ -n "$PEBBLE_PID" ]; then
        bench_stop_pid "$PEBBLE_PID" pebble
        PEBBLE_PID=""
    fi
    if [ -n "$CHALLTESTSRV_PID" ]; then
        bench_stop_pid "$CHALLTESTSRV_PID" challtestsrv
        CHALLTESTSRV_PID=""
    fi
}

# lighttpd in the foreground, one process (no extra workers), no access log, serving the same
# web root with sendfile; its 404 answers carry NOT_FOUND_PAGE. It keeps a connection open
# as Vantry does (15 s, 1000 requests) when the client asks for that; ab's HTTP/1.0
# requests do not. Scripts under /cgi-bin/ run
# through mod_cgi: .pl with perl, .php with php-cgi, .sh by themselves (execute bit and #!
# line), as Vantry runs them. mod_dirlisting lists /listing/.
start_lighttpd() {
    local notFoundPage=$1 conf
    local prefix=$BENCH_DIR/lighttpd
    LIGHTTPD_PORT=$(bench_free_port) || exit 1
    mkdir -p "$prefix/pages"
    cp "$notFoundPage" "$prefix/pages/status-404.html"
    conf=$prefix/lighttpd.conf
    cat >"$conf" <<CONF
server.modules = ("mod_cgi", "mod_dirlisting")
server.document-root = "$BENCH_DIR/www"
server.bind = "$BENCH_LIGHTTPD_ADDR"
server.port = $LIGHTTPD_PORT
server.pid-file = "$prefix/lighttpd.pid"
server.errorlog = "$prefix/error.log"
server.max-worker = 0
server.max-keep-alive-idle = 15
server.max-keep-alive-requests = 1000
server.network-backend = "sendfile"
server.tag = ""
server.errorfile-prefix = "$prefix/pages/status-"
index-file.names = ()
mimetype.assign = (
    ".html" => "text/html", ".htm" => "text/html", ".txt" => "text/plain",
    ".css" => "text/css", ".js" => "application/javascript", ".gif" => "image/gif",
    ".jpg" => "image/jpeg", ".jpeg" => "image/jpeg", ".png" => "image/png",
    "" => "application/octet-stream"
)
\$HTTP["url"] =~ "^/cgi-bin/" {
    cgi.assign = (".pl" => "/usr/bin/perl", ".sh" => "", ".php" => "/usr/bin/php-cgi")
}
\$HTTP["url"] =~ "^/listing/" {
    dir-listing.activate = "enable"
}
CONF
    local lighttpd
    lighttpd=$(bench_lighttpd_binary)
    bench_check_config lighttpd "$lighttpd" -tt -f "$conf"
    bench_start_peer lighttpd "$lighttpd" -D -f "$conf"
    LIGHTTPD_PID=$BENCH_STARTED_PID
    BENCH_PEER_STOPS+=(stop_lighttpd)
    bench_wait_listening "$LIGHTTPD_PID" "$BENCH_LIGHTTPD_ADDR" "$LIGHTTPD_PORT" lighttpd
    LIGHTTPD_URL="http://$BENCH_LIGHTTPD_ADDR:$LIGHTTPD_PORT"
}

stop_lighttpd() {
    [ -n "$LIGHTTPD_PID" ] || return 0
    bench_stop_pid "$LIGHTTPD_PID" lighttpd
    cp "$BENCH_DIR/lighttpd/error.log" "$BENCH_OUT/lighttpd-error.log" 2>/dev/null
    LIGHTTPD_PID=""
}

# HAProxy in the foreground, one thread, pinned as the servers are, with one front on
# 127.0.0.5 for Vantry's installation VANTRY_PROXIED_PORT and one for nginx's
# NGINX_PROXIED_PORT, both with the same settings: HTTP mode adding X-Forwarded-For, and the
# PROXY protocol v2 opening every connection to the server. Sets HAPROXY_VANTRY_URL and
# HAPROXY_NGINX_URL.
start_haproxy() {
    local prefix=$BENCH_DIR/haproxy conf vantryPort nginxPort haproxy
    mkdir -p "$prefix"
    vantryPort=$(bench_free_port) || exit 1
    nginxPort=$vantryPort
    while [ "$nginxPort" = "$vantryPort" ]; do nginxPort=$(bench_free_port) || exit 1; done
    conf=$prefix/haproxy.cfg
    cat >"$conf" <<CONF
global
    nbthread 1
    maxconn 4096

defaults
    mode http
    option forwardfor
    timeout connect 5s
    timeout client 60s
    timeout server 60s

frontend vantry
    bind $BENCH_HAPROXY_ADDR:$vantryPort
    default_backend vantry

frontend nginx
    bind $BENCH_HAPROXY_ADDR:$nginxPort
    default_backend nginx

backend vantry
    server vantry $BENCH_VANTRY_ADDR:$VANTRY_PROXIED_PORT send-proxy-v2

backend nginx
    server nginx $BENCH_NGINX_ADDR:$NGINX_PROXIED_PORT send-proxy-v2
CONF
    haproxy=$(bench_haproxy_binary)
    bench_check_config haproxy "$haproxy" -c -q -f "$conf"
    bench_start_peer haproxy "$haproxy" -db -f "$conf"
    HAPROXY_PID=$BENCH_STARTED_PID
    BENCH_PEER_STOPS+=(stop_haproxy)
    bench_wait_listening "$HAPROXY_PID" "$BENCH_HAPROXY_ADDR" "$vantryPort" haproxy
    bench_wait_listening "$HAPROXY_PID" "$BENCH_HAPROXY_ADDR" "$nginxPort" haproxy
    HAPROXY_VANTRY_URL="http://$BENCH_HAPROXY_ADDR:$vantryPort"
    HAPROXY_NGINX_URL="http://$BENCH_HAPROXY_ADDR:$nginxPort"
}

stop_haproxy() {
    [ -n "$HAPROXY_PID" ] || return 0
    bench_stop_pid "$HAPROXY_PID" haproxy
    HAPROXY_PID=""
}

# Stops whatever still runs and removes the temporary directory; safe to call twice.
bench_cleanup() {
    local stop
    if [ -n "$BENCH_AB_PID" ]; then
        kill -TERM "$BENCH_AB_PID" 2>/dev/null
        wait "$BENCH_AB_PID" 2>/dev/null
        BENCH_AB_PID=""
    fi
    stop_vantry
    # A stop command may carry arguments (the name of an instance).
    # shellcheck disable=SC2086
    for stop in "${BENCH_PEER_STOPS[@]}"; do $stop; done
    BENCH_PEER_STOPS=()
    if [ -n "$BENCH_DIR" ] && [ -d "$BENCH_DIR" ]; then
        rm -rf "$BENCH_DIR"
    fi
    BENCH_DIR=""
}

# Status code and body of one HTTP/1.0 GET: prints "CODE BYTES" and keeps the body in FILE.
# Further arguments go to curl (a login, for instance).
bench_fetch() {
    local url=$1 file=$2
    shift 2
    [[ $url == https:* ]] && set -- --cacert "$BENCH_TLS_CERT" "$@"
    curl --http1.0 -s --max-time 10 "$@" -o "$file" -w '%{http_code} %{size_download}\n' "$url" ||
        echo "000 0"
}

# One download of URL with curl, pinned like ab; with RANGE ("N-") only the bytes from N on.
# Sets CURL_CODE, CURL_BYTES and CURL_SPEED (bytes per second); the outcome line goes to
# $BENCH_OUT/curl-LABEL.txt.
measure_curl() {
    local url=$1 label=$2 range=${3:-} out=$BENCH_OUT/curl-$2.txt trust=()
    [[ $url == https:* ]] && trust=(--cacert "$BENCH_TLS_CERT")
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" curl "${trust[@]}" --http1.0 -s --max-time "$BENCH_CURL_TIMEOUT" -o /dev/null \
        ${range:+-r "$range"} \
        -w '%{http_code} %{size_download} %{speed_download}\n' "$url" >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    BENCH_AB_PID=""
    read -r CURL_CODE CURL_BYTES CURL_SPEED <"$out"
    : "${CURL_CODE:=000}" "${CURL_BYTES:=0}" "${CURL_SPEED:=0}"
}

# One POST of FILE's bytes as the body to URL with curl, pinned like ab; the page answered
# goes to $BENCH_OUT/upload-LABEL.html. Sets UPLOAD_CODE, UPLOAD_BYTES and UPLOAD_SPEED
# (bytes per second, from the first byte sent to the last byte of the answer).
measure_upload() {
    local url=$1 file=$2 label=$3 out=$BENCH_OUT/upload-$3.txt
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" curl --http1.0 -s --max-time "$BENCH_CURL_TIMEOUT" \
        -H 'Content-Type: application/octet-stream' --data-binary "@$file" \
        -o "$BENCH_OUT/upload-$label.html" -w '%{http_code} %{size_upload} %{speed_upload}\n' \
        "$url" >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    BENCH_AB_PID=""
    read -r UPLOAD_CODE UPLOAD_BYTES UPLOAD_SPEED <"$out"
    : "${UPLOAD_CODE:=000}" "${UPLOAD_BYTES:=0}" "${UPLOAD_SPEED:=0}"
}

# One ab run against URL (no keep-alive); further arguments go to ab (-A USER:PASSWORD, for
# instance). Sets AB_RPS, AB_COMPLETE, AB_FAILED, AB_NONLENGTH (failures other than a
# differing length, counting requests that ab never completed), AB_NON2XX (answers with
# another status than 2xx), AB_P99 and AB_MAX (ms), AB_STATUS (ab's exit status; 124 when it
# was cut off). The raw output goes to $BENCH_OUT/ab-LABEL.txt.
measure_ab() {
    local url=$1 requests=$2 concurrency=$3 label=$4
    shift 4
    local out=$BENCH_OUT/ab-$label.txt
    bench_pin_to 1
    # In the background, so that a signal to the script is handled at once; the cleanup
    # stops this run by its id.
    "${BENCH_PIN_CMD[@]}" timeout "$BENCH_AB_TIMEOUT" ab -r "$@" -n "$requests" -c "$concurrency" "$url" \
        >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    AB_STATUS=$?
    BENCH_AB_PID=""
    AB_RPS=$(awk '/^Requests per second:/ { print $4 }' "$out")
    AB_COMPLETE=$(awk '/^Complete requests:/ { print $3 }' "$out")
    AB_FAILED=$(awk '/^Failed requests:/ { print $3 }' "$out")
    AB_NONLENGTH=$(awk '/^ *\(Connect: / {
            gsub(/[(),]/, " "); for (i = 1; i < NF; i++) {
                if ($i == "Connect:" || $i == "Receive:" || $i == "Exceptions:") n += $(i + 1)
            }
        } END { print n + 0 }' "$out")
    AB_NON2XX=$(awk '/^Non-2xx responses:/ { print $3 }' "$out")
    AB_P99=$(awk '/^ *99% / { print $2 }' "$out")
    AB_MAX=$(awk '/^ *100% / { print $2 }' "$out")
    : "${AB_RPS:=0}" "${AB_COMPLETE:=0}" "${AB_FAILED:=0}" "${AB_NON2XX:=0}" "${AB_P99:=-}" "${AB_MAX:=-}"
    if [ "$AB_COMPLETE" -lt "$requests" ]; then
        AB_NONLENGTH=$((AB_NONLENGTH + requests - AB_COMPLETE))
        AB_FAILED=$((AB_FAILED + requests - AB_COMPLETE))
    fi
}

# One wrk run against URL for SECONDS with CONNECTIONS connections kept open, on one thread
# (so that it takes one core, as ab does). Sets the variables measure_ab sets: AB_COMPLETE is
# the requests answered, AB_FAILED and AB_NONLENGTH wrk's socket errors (connect, read,
# write, and answers slower than its 2 s timeout), AB_NON2XX the answers with another status
# than 2xx or 3xx, AB_P99 and AB_MAX in ms. The raw output goes to $BENCH_OUT/wrk-LABEL.txt.
measure_wrk() {
    local url=$1 seconds=$2 connections=$3 label=$4 out=$BENCH_OUT/wrk-$4.txt
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" timeout $((seconds + 60)) wrk -t1 -c"$connections" -d"${seconds}s" \
        --latency "$url" >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    AB_STATUS=$?
    BENCH_AB_PID=""
    # Times are printed with their unit: 850.00us, 1.09ms, 2.00s.
    read -r AB_RPS AB_COMPLETE AB_FAILED AB_NON2XX AB_P99 AB_MAX < <(awk '
        function ms(v) {
            if (v ~ /us$/) return v / 1000
            if (v ~ /ms$/) return v + 0
            if (v ~ /m$/) return v * 60000
            return v * 1000
        }
        $1 == "Requests/sec:" { rps = $2 }
        $2 == "requests" && $3 == "in" { done = $1 }
        $1 == "Socket" && $2 == "errors:" { gsub(/,/, ""); errors = $4 + $6 + $8 + $10 }
        $1 == "Non-2xx" { other = $5 }
        $1 == "99%" { p99 = sprintf("%.2f", ms($2)) }
        $1 == "Latency" && NF >= 4 { max = sprintf("%.2f", ms($4)) }
        END { print rps + 0, done + 0, errors + 0, other + 0, (p99 == "" ? "-" : p99), (max == "" ? "-" : max) }
    ' "$out")
    AB_NONLENGTH=$AB_FAILED
}

# One h2load run against URL: REQUESTS requests over CONNECTIONS connections of HTTP/2 with
# STREAMS streams at a time on each, on one thread. Sets the variables measure_ab sets
# (AB_P99 is "-": h2load reports the longest request time, AB_MAX). The raw output goes to
# $BENCH_OUT/h2load-LABEL.txt.
measure_h2load() {
    local url=$1 requests=$2 connections=$3 streams=$4 label=$5 out=$BENCH_OUT/h2load-$5.txt
    bench_pin_to 1
    "${BENCH_PIN_CMD[@]}" timeout 300 h2load -t1 -n"$requests" -c"$connections" -m"$streams" \
        "$url" >"$out" 2>&1 &
    BENCH_AB_PID=$!
    wait "$BENCH_AB_PID"
    AB_STATUS=$?
    BENCH_AB_PID=""
    # "finished in 1.02s, 98039.22 req/s, 105MB/s"; "requests: 100000 total, 100000 started,
    # 100000 done, 100000 succeeded, 0 failed, 0 errored, 0 timeout"; "status codes: 100000
    # 2xx, 0 3xx, 0 4xx, 0 5xx"; "time for request:  min  max  mean  sd  +/- sd".
    read -r AB_RPS AB_COMPLETE AB_FAILED AB_NON2XX AB_MAX < <(awk '
        function ms(v) {
            if (v ~ /us$/) return v / 1000
            if (v ~ /ms$/) return v + 0
            return v * 1000
        }
        $1 == "finished" { rps = $4 }
        $1 == "requests:" { done = $8; failed = $12 + $14 + $16 }
        $1 == "status" && $2 == "codes:" { other = $5 + $7 + $9 }
        $1 == "time" && $3 == "request:" { max = sprintf("%.2f", ms($5)) }
        END { print rps + 0, done + 0, failed + 0, other + 0, (max == "" ? "-" : max) }
    ' "$out")
    AB_P99=-
    AB_NONLENGTH=$AB_FAILED
}

# True when two requests for URL with curl over HTTP/1.1 go over one connection.
bench_keeps_connection() {
    local connects
    connects=$(curl --http1.1 -s --max-time 10 -o /dev/null -o /dev/null -w '%{num_connects}\n' \
        "$1" "$1" | paste -sd' ' -)
    [ "$connects" = "1 0" ]
}

# True when URL (HTTPS) is answered over HTTP/2.
bench_speaks_http2() {
    [ "$(curl --http2 -s --max-time 10 --cacert "$BENCH_TLS_CERT" -o /dev/null \
        -w '%{http_version}' "$1")" = 2 ]
}

# Other work on the machine: processes of other sessions seen running (or waiting for the
# disk) in ten samples over a second, as "N/10 samples: NAME, NAME", or "none". The load
# average cannot tell: it counts the benchmark's own threads and scripts as well.
bench_other_activity() {
    local sid i seen=0 names="" line
    sid=$(ps -o sid= -p $$ | tr -d ' ')
    for ((i = 0; i < 10; i++)); do
        # Session 0 holds the kernel's own threads.
        line=$(ps -eo sid=,stat=,comm= |
            awk -v sid="$sid" '$1 != sid && $1 != 0 && $2 ~ /^[RD]/ { printf "%s ", $3 }')
        if [ -n "$line" ]; then
            seen=$((seen + 1))
            names+=" $line"
        fi
        sleep 0.1
    done
    if [ "$seen" = 0 ]; then
        echo none
    else
        printf '%s/10 samples: %s\n' "$seen" \
            "$(tr ' ' '\n' <<<"$names" | sed '/^$/d' | sort -u | paste -sd, - | sed 's/,/, /g')"
    fi
}

# Readings of a running process.
proc_rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# The highest resident memory the process has had so far.
proc_hwm_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# CPU time in clock ticks used so far by a process and the children it has waited for.
proc_cpu_ticks() {
    sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $12 + $13 + $14 + $15 }' || echo 0
}
# CPU ticks of a server: its own, its reaped children's and those of its live children (the
# worker process of nginx).
server_cpu_ticks() {
    local total child
    total=$(proc_cpu_ticks "$1")
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        total=$((total + $(proc_cpu_ticks "$child")))
    done
    echo "$total"
}
proc_threads() { awk '/^Threads:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
proc_fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
# "NUMBER -> TARGET" for every open descriptor, sorted by number.
proc_fd_list() {
    local fd
    for fd in "/proc/$1/fd"/*; do
        [ -e "$fd" ] || [ -L "$fd" ] || continue
        printf '%s -> %s\n' "${fd##*/}" "$(readlink "$fd" 2>/dev/null)"
    done | sort -n
}

# Polls the descriptor count of PID every second until it is at most TARGET, for at most
# LIMIT seconds; prints the last count and the seconds waited.
wait_fd_count() {
    local pid=$1 target=$2 limit=$3 count i
    for ((i = 0; i <= limit; i++)); do
        count=$(proc_fd_count "$pid")
        [ "$count" -le "$target" ] && break
        [ "$i" -lt "$limit" ] && sleep 1
    done
    echo "$count $i"
}

# Runs the script's main with its output also kept in $BENCH_OUT/report.txt, BENCH_OUT being
# a new directory PREFIX<date-time> under bench/out (or BENCH_OUT_DIR). However the script
# ends, the servers are stopped and the report is complete on disk.
bench_run_reported() {
    BENCH_OUT=${BENCH_OUT_DIR:-$BENCH_ROOT/bench/out}/$1$(date +%Y%m%d-%H%M%S)
    mkdir -p "$BENCH_OUT" || exit 1
    exec > >(tee "$BENCH_OUT/report.txt") 2>&1
    BENCH_TEE_PID=$!
    trap 'bench_cleanup; exec >&- 2>&-; wait "$BENCH_TEE_PID"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    main
}

# PASS or FAIL and the words after OK, joined by blanks; failures are counted in CHECKS_FAILED.
CHECKS_FAILED=0
check() {
    local ok=$1
    shift
    local text="$*"
    if [ "$ok" = 1 ]; then
        printf 'PASS  %s\n' "$text"
    else
        printf 'FAIL  %s\n' "$text"
        CHECKS_FAILED=$((CHECKS_FAILED + 1))
    fi
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mib_per_s() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a != "-" && a + 0 >= b + 0) }'; }
