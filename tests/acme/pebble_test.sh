#!/usr/bin/env bash
# A certificate obtained from a real certificate authority on this machine: Debian's pebble,
# with its DNS helper pebble-challtestsrv answering every name with 127.0.0.1, both on
# loopback. The server obtains a certificate for vantry.test and serves HTTPS with it (curl
# trusting pebble's root); the certificate lives ACME_VALIDITY seconds, so a renewal follows
# and the new certificate is served without a restart; a wrong token is refused; then an
# authority that cannot reach the challenge refuses, and the old certificate stays in place
# with a message naming the step and the authority's problem.
# ACME_CHALLENGE=tls-alpn-01 runs the same with the challenge answered by a handshake on the
# HTTPS port, which then runs with a self-signed certificate until the first one comes.
# Usage: pebble_test.sh PATH_TO_VANTRY
set -euo pipefail
# shellcheck source=tests/webdav/lib.sh
source "$(dirname "$0")/../webdav/lib.sh"
CHALLENGE=${ACME_CHALLENGE:-http-01}
dav_init "acme-pebble-$CHALLENGE" "${1:-}"
command -v pebble >/dev/null && command -v pebble-challtestsrv >/dev/null ||
    dav_skip "pebble is not installed"
command -v openssl >/dev/null || dav_skip "openssl is not installed"

NAME=vantry.test
ACME_VALIDITY=${ACME_VALIDITY:-24}   # seconds a certificate lives: renewed after 16
WAIT_LIMIT=45                        # seconds for any one step of the authority
PEBBLE_PIDS=()

dav_before_cleanup() {
    local pid
    for pid in "${PEBBLE_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${PEBBLE_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    for f in pebble.log challtestsrv.log; do
        [ -f "$DAV_DIR/$f" ] && cp "$DAV_DIR/$f" "$DAV_LOGS/$f"
    done
    return 0
}

# Waits until COMMAND succeeds, at most WAIT_LIMIT seconds; false when it never did.
wait_for() {
    local i
    for ((i = 0; i < WAIT_LIMIT * 5; i++)); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

# The serial number of the certificate the server shows for NAME on its TLS port.
served_serial() {
    openssl s_client -connect "127.0.0.1:$TLS_PORT" -servername "$NAME" </dev/null 2>/dev/null |
        openssl x509 -noout -serial 2>/dev/null | sed 's/^serial=//'
}

# The serial number of the certificate stored for NAME.
stored_serial() { openssl x509 -in "$CHAIN" -noout -serial 2>/dev/null | sed 's/^serial=//'; }
# The stored certificate is the one served, and it is not the one served before ($1).
serving_new() {
    local now
    now=$(served_serial)
    [ -n "$now" ] && [ "$now" = "$(stored_serial)" ] && [ "$now" != "${1:-}" ]
}

# pebble on its ports, validating challenges on port $1 (HTTP-01) and $2 (TLS-ALPN-01) of the
# names it resolves.
start_pebble() {
    cat >"$DAV_DIR/pebble.json" <<JSON
{"pebble": {"listenAddress": "127.0.0.1:$PEBBLE_PORT",
            "managementListenAddress": "127.0.0.1:$PEBBLE_MANAGEMENT",
            "certificate": "$DAV_DIR/pebble-cert.pem", "privateKey": "$DAV_DIR/pebble-key.pem",
            "httpPort": $1, "tlsPort": $2,
            "ocspResponderURL": "", "externalAccountBindingRequired": false,
            "certificateValidityPeriod": $ACME_VALIDITY}}
JSON
    PEBBLE_VA_NOSLEEP=1 pebble -config "$DAV_DIR/pebble.json" -dnsserver "127.0.0.1:$DNS_PORT" \
        >>"$DAV_DIR/pebble.log" 2>&1 &
    PEBBLE_PID=$!
    PEBBLE_PIDS+=("$PEBBLE_PID")
    wait_for dav_listening "$PEBBLE_PORT" || dav_fail "pebble did not listen on $PEBBLE_PORT"
}

stop_pebble() {
    kill -TERM "$PEBBLE_PID" 2>/dev/null || true
    wait "$PEBBLE_PID" 2>/dev/null || true
}

# pebble's own HTTPS certificate, which the server trusts through acmeCaFile.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" -keyout "$DAV_DIR/pebble-key.pem" \
    -out "$DAV_DIR/pebble-cert.pem" 2>/dev/null || dav_fail "openssl could not make pebble's certificate"

DAV_PORT=$(dav_free_port)
TLS_PORT=$(dav_free_port)
PEBBLE_PORT=$(dav_free_port)
PEBBLE_MANAGEMENT=$(dav_free_port)
DNS_PORT=$(dav_free_port)
pebble-challtestsrv -defaultIPv4 127.0.0.1 -defaultIPv6 "" -dns01 "127.0.0.1:$DNS_PORT" \
    -http01 "" -https01 "" -tlsalpn01 "" -management "127.0.0.1:$(dav_free_port)" \
    >"$DAV_DIR/challtestsrv.log" 2>&1 &
PEBBLE_PIDS+=("$!")
start_pebble "$DAV_PORT" "$TLS_PORT"

echo '<html><body>over a trusted certificate</body></html>' >"$DAV_ROOT/index.html"
# Every page asks for a login: the challenges are answered without one all the same.
DAV_REGISTRY_EXTRA=$'\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"AuthenticationRequiredServerOne"=dword:00000001\n'
export DAV_REGISTRY_EXTRA
started=$(date +%s.%N)
dav_start_server "tlsPort=$TLS_PORT" "acmeDomains=$NAME" "acmeEmail=owner@$NAME" \
    "acmeDirectory=https://127.0.0.1:$PEBBLE_PORT/dir" "acmeAccept=Y" \
    "acmeCaFile=$DAV_DIR/pebble-cert.pem" "acmeChallenge=$CHALLENGE"
CHAIN=$DAV_DIR/program/certificates/$NAME/fullchain.pem
KEY=$DAV_DIR/program/certificates/$NAME/privkey.pem

# Obtained, stored for the owner only, and served.
wait_for test -s "$CHAIN" || dav_fail "no certificate within ${WAIT_LIMIT}s"
dav_say "certificate obtained in $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s"
for f in "$CHAIN" "$KEY" "$DAV_DIR/program/certificates/.account/key.pem"; do
    [ "$(stat -c %a "$f")" = 600 ] || dav_fail "$f has mode $(stat -c %a "$f"), not 600"
done
wait_for serving_new || dav_fail "HTTPS does not serve the certificate obtained"
curl -fsS --max-time 10 -o "$DAV_DIR/root.pem" "https://127.0.0.1:$PEBBLE_MANAGEMENT/roots/0" \
    --cacert "$DAV_DIR/pebble-cert.pem" || dav_fail "pebble gave no root"
page=$(curl -fsS --max-time 10 --cacert "$DAV_DIR/root.pem" -u "$DAV_USER:$DAV_PASSWORD" \
    --resolve "$NAME:$TLS_PORT:127.0.0.1" "https://$NAME:$TLS_PORT/") ||
    dav_fail "HTTPS with the obtained certificate failed"
[[ $page == *"over a trusted certificate"* ]] || dav_fail "HTTPS served: $page"
first=$(served_serial)
dav_say "served certificate $first"

# Only tokens the server waits for are answered, and with no login, where pages ask for one.
status=$(dav_curl "${DAV_URL}.well-known/acme-challenge/not-a-token-it-waits-for")
[ "$status" = 404 ] || dav_fail "a wrong token answered $status"
status=$(dav_curl "$DAV_URL")
[ "$status" = 401 ] || dav_fail "a page without a login answered $status, not 401"

# Renewed in time and served by the same process.
wait_for serving_new "$first" || dav_fail "the certificate was not renewed within ${WAIT_LIMIT}s"
kill -0 "$DAV_PID" || dav_fail "the server ended"
second=$(served_serial)
dav_say "renewed: now serving $second, same process"
grep -q "certificate for $NAME valid until" "$DAV_DIR/server.stdout" "$DAV_DIR/server.stderr" ||
    dav_fail "the status line never told the certificate's expiry"

# An authority that cannot reach the challenge refuses; the certificate in place stays.
stop_pebble
start_pebble "$(dav_free_port)" "$(dav_free_port)"
before=$(sha256sum "$CHAIN" "$KEY")
refused() { grep -h "not obtained" "$DAV_DIR/server.stdout" "$DAV_DIR/server.stderr"; }
wait_for refused >/dev/null || dav_fail "no failed renewal reported within ${WAIT_LIMIT}s"
message=$(refused | head -n 1)
dav_say "reported: $message"
[[ $message == *"authorization of $NAME"*"urn:ietf:params:acme:error:"*"stays in use"* ]] ||
    dav_fail "the message does not name the step, the problem and the certificate kept"
[ "$(sha256sum "$CHAIN" "$KEY")" = "$before" ] || dav_fail "a failed renewal changed the files"
[ "$(served_serial)" = "$second" ] || dav_fail "a failed renewal changed the certificate served"
dav_say "passed"
