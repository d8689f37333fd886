# shellcheck shell=bash
# Shared pieces of the tests with real WebDAV clients: a temporary directory, a server on a
# free port of 127.0.0.1 (this machine's own address, which may write without a login) and its
# stop by process id, bounded waits, and the logs kept after the run. Sourced by the scripts
# beside it; each of them takes the vantry binary as its first argument.
#
# WEBDAV_TEST_PEER=nginx runs the same script against nginx's WebDAV modules instead (the
# same root folder on disk), to tell a fault of the script from one of the server.
# WEBDAV_TEST_LOGS names the folder where the server's and the clients' logs are kept
# (default: webdav-logs/NAME in the current directory, which ctest makes the build's tests/).

DAV_ADDR=127.0.0.1
# Names of files are UTF-8, and listings are compared in one order.
export LC_ALL=C.UTF-8
DAV_USER=davtester
DAV_PASSWORD='dav-Pass 1'
DAV_START_LIMIT=10   # seconds for the server to listen
DAV_STOP_LIMIT=10    # seconds for it to end after SIGTERM

DAV_NAME=""   # the test's name, for its log folder
DAV_DIR=""    # the temporary directory of the run
DAV_ROOT=""   # the folder on disk that DAV_URL shows
DAV_URL=""    # the collection served, ending in "/"
DAV_PID=""    # the server this script started
DAV_KIND=vantry
DAV_LOGS=""
# What a line of vantry's standard error holds when it found a fault in itself (the markers
# of tests/support/fault_lines.h).
DAV_FAULT_MARKERS='ERROR: AddressSanitizer|ERROR: LeakSanitizer|WARNING: ThreadSanitizer|ERROR: ThreadSanitizer|FATAL: ThreadSanitizer|Sanitizer: CHECK failed|runtime error:|Assertion `|terminate called'

dav_say() { printf '%s: %s\n' "$DAV_NAME" "$*"; }
dav_fail() {
    printf '%s: FAIL: %s\n' "$DAV_NAME" "$*" >&2
    exit 1
}
dav_skip() {
    printf '%s: SKIP: %s\n' "$DAV_NAME" "$*"
    exit 77
}

# Sets up the run: NAME, the vantry binary. Skips when the peer asked for is not installed.
dav_init() {
    DAV_NAME=$1
    local binary=${2:-}
    DAV_KIND=${WEBDAV_TEST_PEER:-vantry}
    case $DAV_KIND in
    vantry)
        if [ -z "$binary" ] || [ ! -x "$binary" ]; then dav_fail "usage: $0 PATH_TO_VANTRY"; fi
        DAV_BINARY=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
        ;;
    nginx)
        [ -x /usr/sbin/nginx ] || dav_skip "WEBDAV_TEST_PEER=nginx but nginx is not installed"
        ;;
    *) dav_fail "WEBDAV_TEST_PEER must be nginx or empty, not $DAV_KIND" ;;
    esac
    DAV_LOGS=${WEBDAV_TEST_LOGS:-$PWD/webdav-logs}/$DAV_NAME
    rm -rf "$DAV_LOGS"
    mkdir -p "$DAV_LOGS" || dav_fail "cannot make $DAV_LOGS"
    DAV_DIR=$(mktemp -d "/tmp/vantry-$DAV_NAME.XXXXXX") || dav_fail "mktemp"
    # nginx's worker and davfs2's daemon may run as other users and must reach the root.
    chmod 755 "$DAV_DIR"
    DAV_ROOT=$DAV_DIR/www
    mkdir -p "$DAV_ROOT"
    trap dav_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# A port that no socket of this machine uses, in any state.
dav_free_port() {
    local tries port hex
    for ((tries = 0; tries < 200; tries++)); do
        port=$((20000 + RANDOM % 12000))
        hex=$(printf ':%04X ' "$port")
        grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null || {
            echo "$port"
            return 0
        }
    done
    return 1
}

# True when 127.0.0.1:PORT has a listening socket.
dav_listening() {
    awk -v want="0100007F:$(printf '%04X' "$1")" \
        'NR > 1 && $2 == want && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

# Starts the server on a free port (DAV_PORT when set) with the [Config] lines given (vantry),
# or nginx with its WebDAV modules; waits until it listens. Sets DAV_PID and DAV_URL.
# DAV_REGISTRY_EXTRA, when set, is added to vantry's registry file (a login switch, say).
# shellcheck disable=SC2120  # the scripts call it without lines today
dav_start_server() {
    local port=${DAV_PORT:-} i
    [ -n "$port" ] || port=$(dav_free_port) || dav_fail "found no free port"
    if [ "$DAV_KIND" = nginx ]; then
        dav_write_nginx_conf "$port"
        /usr/sbin/nginx -p "$DAV_DIR/nginx/" -c "$DAV_DIR/nginx/nginx.conf" \
            -e "$DAV_DIR/nginx/error.log" </dev/null >"$DAV_DIR/server.stdout" \
            2>"$DAV_DIR/server.stderr" &
    else
        # The program's folder (its configuration, its access log) lies beside the web root:
        # the drive never shows it, nor anything inside it.
        local program=$DAV_DIR/program
        mkdir -p "$program/run"
        cp "$DAV_BINARY" "$program/vantry"
        # The program that obtains certificates lives beside the server.
        if [ -x "$(dirname "$DAV_BINARY")/vantry-acme" ]; then
            cp "$(dirname "$DAV_BINARY")/vantry-acme" "$program/vantry-acme"
        fi
        {
            printf '[Config]\nport=%s\nwwwroot=%s/\nlogs=Y\nwebdav=W\nwebdavPath=/\n' \
                "$port" "$DAV_ROOT"
            printf '%s\n' "$@"
        } >"$program/Vantry.ini"
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"%s"="%s"\n' \
            "$DAV_USER" "$DAV_PASSWORD" >"$program/registry.reg"
        printf '%s' "${DAV_REGISTRY_EXTRA:-}" >>"$program/registry.reg"
        (cd "$program" && exec env XDG_RUNTIME_DIR="$program/run" \
            VANTRY_REGISTRY="$program/registry.reg" HOME="$program" \
            XDG_CONFIG_HOME="$program/.config" XDG_DATA_HOME="$program/.local/share" \
            "$program/vantry" -bind "$DAV_ADDR" --headless --no-qr \
            </dev/null >"$DAV_DIR/server.stdout" 2>"$DAV_DIR/server.stderr") &
    fi
    DAV_PID=$!
    for ((i = 0; i < DAV_START_LIMIT * 10; i++)); do
        kill -0 "$DAV_PID" 2>/dev/null || {
            cat "$DAV_DIR/server.stderr" >&2
            DAV_PID=""
            dav_fail "$DAV_KIND ended at start"
        }
        dav_listening "$port" && break
        sleep 0.1
    done
    dav_listening "$port" || dav_fail "$DAV_KIND did not listen on $DAV_ADDR:$port within ${DAV_START_LIMIT}s"
    DAV_URL="http://$DAV_ADDR:$port/"
    dav_say "$DAV_KIND (pid $DAV_PID) serves $DAV_ROOT at $DAV_URL"
}

# nginx with one worker, run as the user of this script, writing with its dav module and
# answering PROPFIND, OPTIONS, LOCK and UNLOCK with the dav-ext module when Debian's package of
# it is installed.
dav_write_nginx_conf() {
    local port=$1 prefix=$DAV_DIR/nginx ext="" load=""
    mkdir -p "$prefix/temp"
    if [ -f /usr/lib/nginx/modules/ngx_http_dav_ext_module.so ]; then
        load="load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;"
        # The module's OPTIONS answers "DAV: 2" alone, which clients that look for class 1
        # take for no WebDAV server: OPTIONS is answered here instead.
        # shellcheck disable=SC2016  # nginx's variable, not the shell's
        ext='dav_ext_methods PROPFIND LOCK UNLOCK; dav_ext_lock zone=davlocks;
            if ($request_method = OPTIONS) {
                add_header DAV "1, 2";
                add_header Allow "GET, HEAD, PUT, DELETE, MKCOL, COPY, MOVE, PROPFIND, OPTIONS, LOCK, UNLOCK";
                return 200;
            }'
    fi
    cat >"$prefix/nginx.conf" <<CONF
$load
$([ "$(id -u)" -eq 0 ] && printf 'user %s %s;' "$(id -un)" "$(id -gn)")
worker_processes 1;
daemon off;
master_process on;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
events { worker_connections 256; }
http {
    access_log $prefix/access.log;
    client_body_temp_path $prefix/temp/body;
    proxy_temp_path $prefix/temp/proxy;
    fastcgi_temp_path $prefix/temp/fastcgi;
    uwsgi_temp_path $prefix/temp/uwsgi;
    scgi_temp_path $prefix/temp/scgi;
    client_max_body_size 0;
    $([ -n "$ext" ] && echo "dav_ext_lock_zone zone=davlocks:1m;")
    server {
        listen $DAV_ADDR:$port;
        root $DAV_ROOT;
        location / {
            dav_methods PUT DELETE MKCOL COPY MOVE;
            create_full_put_path on;
            dav_access user:rw group:rw all:r;
            $ext
        }
    }
}
CONF
}

# SIGTERM to the server this script started, a bounded wait, then SIGKILL.
dav_stop_server() {
    local i
    [ -n "$DAV_PID" ] || return 0
    kill -TERM "$DAV_PID" 2>/dev/null
    for ((i = 0; i < DAV_STOP_LIMIT * 10; i++)); do
        kill -0 "$DAV_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$DAV_PID" 2>/dev/null; then
        dav_say "$DAV_KIND (pid $DAV_PID) still ran ${DAV_STOP_LIMIT}s after SIGTERM: killed"
        kill -KILL "$DAV_PID" 2>/dev/null
    fi
    # Its status says nothing here (a sanitized build ends with 66 after a report, which the
    # cleanup reads from its standard error).
    wait "$DAV_PID" 2>/dev/null || true
    DAV_PID=""
}

# However the script ends: the server stopped, its logs kept (and the end of its standard
# error shown when the run failed), the temporary directory removed.
dav_cleanup() {
    local status=$?
    trap - EXIT
    declare -F dav_before_cleanup >/dev/null && dav_before_cleanup
    dav_stop_server
    # A fault vantry reported about itself (a sanitizer's report, a failed assertion, an
    # exception nobody caught) fails the run, whatever the clients saw.
    if [ "$DAV_KIND" = vantry ] && [ -n "$DAV_DIR" ] && [ -f "$DAV_DIR/server.stderr" ] &&
        grep -qE "$DAV_FAULT_MARKERS" "$DAV_DIR/server.stderr"; then
        printf '%s: FAIL: vantry reported a fault:\n' "$DAV_NAME" >&2
        grep -E "$DAV_FAULT_MARKERS" "$DAV_DIR/server.stderr" | head -n 10 >&2
        status=1
    fi
    if [ -n "$DAV_DIR" ] && [ -d "$DAV_DIR" ]; then
        local f
        for f in server.stdout server.stderr program/access.log program/Vantry.ini \
            nginx/error.log nginx/access.log nginx/nginx.conf; do
            [ -f "$DAV_DIR/$f" ] && cp "$DAV_DIR/$f" "$DAV_LOGS/${f//\//-}"
        done
        if [ "$status" != 0 ] && [ "$status" != 77 ] && [ -s "$DAV_DIR/server.stderr" ]; then
            printf '%s: the end of %s standard error:\n' "$DAV_NAME" "$DAV_KIND" >&2
            tail -n 30 "$DAV_DIR/server.stderr" >&2
        fi
        rm -rf "$DAV_DIR"
    fi
    [ "$status" = 0 ] || [ "$status" = 77 ] || printf '%s: logs kept in %s\n' "$DAV_NAME" "$DAV_LOGS" >&2
    exit "$status"
}

# curl with the limits every request of the tests has; prints the status code only, the body
# going to $DAV_DIR/body. Further arguments are curl's.
dav_curl() {
    curl -s -o "$DAV_DIR/body" --max-time 30 -w '%{http_code}' "$@" || true
}
