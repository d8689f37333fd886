#!/usr/bin/env bash
# The litmus suites basic, copymove, props and locks against vantry's network drive
# (webdav=W) on 127.0.0.1. Fails on any failed test, prints every warning and a summary of
# each suite; skips (77) when litmus is not installed.
# Usage: tests/webdav/litmus_test.sh PATH_TO_VANTRY
set -uo pipefail
# shellcheck source=tests/webdav/lib.sh
. "$(dirname "$0")/lib.sh"

LITMUS_DIR=/usr/libexec/litmus
LITMUS_SUITES=${LITMUS_SUITES:-"basic copymove props locks"}
LITMUS_LIMIT=${LITMUS_LIMIT:-120}  # seconds for one suite

DAV_NAME=litmus
[ -x "$LITMUS_DIR/basic" ] || dav_skip "litmus is not installed (apt-get install litmus)"
dav_init litmus "${1:-}"
dav_start_server

failed=0
summary=()
: >"$DAV_LOGS/failures.txt"
for suite in $LITMUS_SUITES; do
    out=$DAV_LOGS/$suite.txt
    mkdir -p "$DAV_DIR/litmus-$suite"
    # Each suite writes debug.log and child.log in its working directory; it runs in a
    # collection of its own ("litmus/" under the URL), which it removes at its end.
    (cd "$DAV_DIR/litmus-$suite" &&
        exec timeout "$LITMUS_LIMIT" "$LITMUS_DIR/$suite" --htdocs /usr/share/litmus/htdocs \
            "$DAV_URL" "$DAV_USER" "$DAV_PASSWORD") >"$out" 2>&1
    status=$?
    cp "$DAV_DIR/litmus-$suite/debug.log" "$DAV_LOGS/$suite-debug.log" 2>/dev/null
    # The suite's own count: "<- summary for `basic': of 16 tests run: 15 passed, 1 failed."
    read -r ran passes fails < <(sed -n "s/^<- summary for \`$suite': of \([0-9]*\) tests run: \([0-9]*\) passed, \([0-9]*\) failed.*/\1 \2 \3/p" "$out")
    : "${ran:=0}" "${passes:=0}" "${fails:=?}"
    warnings=$(grep -c 'WARNING:' "$out")
    skips=$(sed -n 's/^-> \([0-9]*\) tests\{0,1\} w[a-z]* skipped.*/\1/p' "$out")
    # A failed test: " 4. copy_overwrite........ FAIL (reason)"; after a warning, the FAIL
    # stands on a line of its own below the test's name.
    awk -v suite="$suite" '{
            if (match($0, /[0-9]+\. [a-z0-9_]+\.\.+/)) {
                name = substr($0, RSTART, RLENGTH); sub(/\.\.+$/, "", name)
            }
            if (i = index($0, "FAIL")) print suite ": " name " " substr($0, i)
        }' "$out" >>"$DAV_LOGS/failures.txt"
    line="$suite: $ran run, $passes passed, $fails failed, $warnings warning(s), ${skips:-0} skipped"
    [ "$status" = 124 ] && line+=", cut off after ${LITMUS_LIMIT}s"
    summary+=("$line")
    if [ "$fails" != 0 ] || [ "$status" != 0 ]; then
        failed=1
        printf '%s: suite %s (exit status %s):\n' "$DAV_NAME" "$suite" "$status"
        cat "$out"
    else
        grep -E 'WARNING:|\.\.\. *pass \(with' "$out" | sed "s/^/$DAV_NAME: $suite: /"
    fi
done
kill -0 "$DAV_PID" 2>/dev/null || failed=1
dav_say "summary (outputs in $DAV_LOGS):"
printf '  %s\n' "${summary[@]}"
if [ -s "$DAV_LOGS/failures.txt" ]; then
    dav_say "failed tests:"
    sed 's/^/  /' "$DAV_LOGS/failures.txt"
fi
[ "$failed" = 0 ] || dav_fail "litmus reported failures (see above)"
dav_say "every suite passed"
