#!/usr/bin/env bash
# rclone against vantry's network drive (webdav=W) on 127.0.0.1: a tree of 500 files in
# nested folders (empty files, files of a few hundred KiB, UTF-8 names, blanks and signs that
# URLs escape) copied there and back and checked byte for byte, then changed locally (files
# grown, deleted, added, a folder removed) and synced, and checked again on the server's disk;
# the modification times rclone lists are the files' own. Then curl: a locked file refuses a
# PUT without the lock's token (423) and takes one with it; a client that is not this
# machine's own address may write only with a login. Skips (77) when rclone or curl is
# missing.
# Usage: tests/webdav/rclone_test.sh PATH_TO_VANTRY
set -uo pipefail
# shellcheck source=tests/webdav/lib.sh
. "$(dirname "$0")/lib.sh"

RCLONE_LIMIT=${RCLONE_LIMIT:-120}  # seconds for one rclone command
FILES=500

DAV_NAME=rclone
command -v rclone >/dev/null 2>&1 || dav_skip "rclone is not installed (apt-get install rclone)"
command -v curl >/dev/null 2>&1 || dav_skip "curl is not installed"
dav_init rclone "${1:-}"
dav_start_server

# The remote "dav" in a configuration file of the run's own.
CONF=$DAV_DIR/rclone.conf
cat >"$CONF" <<CONF
[dav]
type = webdav
url = $DAV_URL
vendor = other
user = $DAV_USER
pass = $(rclone obscure "$DAV_PASSWORD")
CONF

# rclone with the run's configuration, bounded, without the retries that would hide a failed
# request; its log goes to the kept logs.
rc() {
    timeout "$RCLONE_LIMIT" rclone --config "$CONF" --retries 1 --low-level-retries 2 \
        --contimeout 10s --timeout 30s --stats 0 --log-level INFO \
        --log-file "$DAV_LOGS/rclone.log" "$@"
}

# The tree: FILES files under four levels of folders, names with blanks, UTF-8 letters and
# '#', '%', '&', '+', ';', "'" and brackets; sizes from 0 bytes to a few hundred KiB.
SRC=$DAV_DIR/src
make_tree() {
    local i dir size names=("plain" "with blank" "Ünïcödé – ファイル" "hash#sign" "100% & more"
        "a+b;c" "it's [here]" "Ωμέγα")
    for ((i = 0; i < FILES; i++)); do
        dir="$SRC/level-$((i % 5))/${names[$((i / 5 % ${#names[@]}))]}/deep $((i % 3))"
        mkdir -p "$dir"
        case $((i % 10)) in
        0) size=0 ;;
        1) size=$((200000 + i * 113)) ;;   # a few hundred KiB
        2) size=1 ;;
        *) size=$((i * 37 % 9000)) ;;
        esac
        head -c "$size" /dev/urandom >"$dir/file $i ${names[$((i % ${#names[@]}))]}.bin"
    done
    # One file at the top, and an empty folder.
    printf 'top\n' >"$SRC/top level.txt"
    mkdir -p "$SRC/empty folder"
}

# The last errors rclone logged, for a failure's message.
rclone_errors() {
    grep -E 'ERROR|Failed' "$DAV_LOGS/rclone.log" 2>/dev/null | tail -n 5
}

# Compares the local tree with the copy on the server's disk and the copy brought back.
same_trees() {
    local what=$1 a=$2 b=$3
    # An empty folder is no file: rclone carries it only with --create-empty-src-dirs.
    diff -r "$a" "$b" >"$DAV_DIR/diff.txt" 2>&1 || {
        head -n 20 "$DAV_DIR/diff.txt" >&2
        dav_fail "$what: the trees differ"
    }
}

# rclone sends '+', ';' and '&' of a path as they are ('+' is no blank in a path, only in a
# query): a file so named must land under its own name.
code=$(dav_curl -T - "${DAV_URL}a+b;c&d.txt" <<<"plus")
if [[ $code != 20[14] ]] || [ ! -f "$DAV_ROOT/a+b;c&d.txt" ]; then
    dav_fail "PUT /a+b;c&d.txt answered $code and stored: $(cd "$DAV_ROOT" && ls)"
fi
rm -f "$DAV_ROOT/a+b;c&d.txt"

make_tree
dav_say "$(find "$SRC" -type f | wc -l) files, $(du -sk "$SRC" | cut -f1) KiB"

rc copy --create-empty-src-dirs "$SRC" dav:tree || dav_fail "rclone copy to the server failed: $(rclone_errors)"
rc check --download "$SRC" dav:tree >"$DAV_LOGS/check-1.txt" 2>&1 ||
    dav_fail "rclone check after the copy: $(rclone_errors)"
same_trees "the server's disk after the copy" "$SRC" "$DAV_ROOT/tree"
rc copy --create-empty-src-dirs dav:tree "$DAV_DIR/back" || dav_fail "rclone copy from the server failed: $(rclone_errors)"
same_trees "the tree copied back" "$SRC" "$DAV_DIR/back"
dav_say "copied there and back, checked byte for byte"

# The modification times listed are those of the files on the server's disk (whole seconds:
# getlastmodified has no finer ones).
rc lsjson -R --files-only dav:tree >"$DAV_DIR/list.json" || dav_fail "rclone lsjson failed: $(rclone_errors)"
python3 - "$DAV_DIR/list.json" "$DAV_ROOT/tree" "$FILES" <<'PY' || dav_fail "lsjson: the listing does not match the server's disk"
import datetime, json, os, sys
entries = json.load(open(sys.argv[1]))
root, wanted = sys.argv[2], int(sys.argv[3]) + 1
bad = []
for e in entries:
    path = os.path.join(root, e["Path"])
    st = os.stat(path)
    listed = datetime.datetime.fromisoformat(e["ModTime"].replace("Z", "+00:00")).timestamp()
    if abs(listed - st.st_mtime) >= 1 or e["Size"] != st.st_size:
        bad.append(f'{e["Path"]}: listed {e["ModTime"]} {e["Size"]}, on disk {st.st_mtime} {st.st_size}')
if len(entries) != wanted:
    bad.append(f"{len(entries)} files listed, {wanted} expected")
for line in bad[:10]:
    print("lsjson:", line, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
dav_say "lsjson: every file's size and modification time as on the server's disk"

# Local changes: files grown (rclone compares sizes where the server keeps no modification
# time of the client's), files deleted, files added in new and old folders, a folder removed.
n=0
while IFS= read -r -d '' f; do
    case $((n % 4)) in
    0) printf 'grown %s\n' "$n" >>"$f" ;;
    1) rm -f "$f" ;;
    esac
    n=$((n + 1))
    [ "$n" -lt 80 ] || break
done < <(find "$SRC/level-1" "$SRC/level-2" -type f -print0 | sort -z)
rm -rf "$SRC/level-3/plain"
for ((i = 0; i < 20; i++)); do
    mkdir -p "$SRC/added/sub $((i % 4))"
    head -c $((i * 1000)) /dev/urandom >"$SRC/added/sub $((i % 4))/new é $i.dat"
done
head -c 5000 /dev/urandom >"$SRC/level-0/added beside.bin"

rc sync --create-empty-src-dirs "$SRC" dav:tree || dav_fail "rclone sync failed: $(rclone_errors)"
rc check --download "$SRC" dav:tree >"$DAV_LOGS/check-2.txt" 2>&1 ||
    dav_fail "rclone check after the sync: $(rclone_errors)"
same_trees "the server's disk after the sync" "$SRC" "$DAV_ROOT/tree"
dav_say "synced: $(find "$SRC" -type f | wc -l) files, deleted ones gone from the server's disk"

# Locks, with curl: LOCK a file; a second exclusive lock and a PUT without the token are
# refused with 423 (Locked), a PUT with it in an If header is taken, UNLOCK frees the file.
LOCKED=${DAV_URL}tree/locked.txt
code=$(dav_curl -T - "$LOCKED" <<<"first")
[[ $code == 20[14] ]] || dav_fail "PUT locked.txt: $code"
LOCKINFO='<?xml version="1.0" encoding="utf-8"?>
<D:lockinfo xmlns:D="DAV:"><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype><D:owner>rclone_test</D:owner></D:lockinfo>'
code=$(dav_curl -X LOCK -H 'Content-Type: application/xml' -H 'Timeout: Second-600' \
    -D "$DAV_DIR/lock.headers" --data-binary "$LOCKINFO" "$LOCKED")
[ "$code" = 200 ] || dav_fail "LOCK: $code $(cat "$DAV_DIR/body")"
token=$(tr -d '\r' <"$DAV_DIR/lock.headers" | sed -n 's/^lock-token: *<\(.*\)> *$/\1/Ip')
[ -n "$token" ] || dav_fail "LOCK answered no Lock-Token header: $(cat "$DAV_DIR/lock.headers")"
grep -qF "$token" "$DAV_DIR/body" || dav_fail "the LOCK answer's body does not hold its token"
code=$(dav_curl -X LOCK -H 'Content-Type: application/xml' --data-binary "$LOCKINFO" "$LOCKED")
[ "$code" = 423 ] || dav_fail "a second exclusive LOCK of the locked file: $code (423 expected)"
code=$(dav_curl -T - "$LOCKED" <<<"without the token")
[ "$code" = 423 ] || dav_fail "PUT to the locked file without its token: $code (423 expected)"
[ "$(cat "$DAV_ROOT/tree/locked.txt")" = first ] || dav_fail "the refused PUT changed the file"
code=$(dav_curl -T - -H "If: (<$token>)" "$LOCKED" <<<"with the token")
[[ $code == 20[14] ]] || dav_fail "PUT with If: (<token>): $code"
[ "$(cat "$DAV_ROOT/tree/locked.txt")" = "with the token" ] || dav_fail "the PUT with the token was not stored"
code=$(dav_curl -X UNLOCK -H "Lock-Token: <$token>" "$LOCKED")
[ "$code" = 204 ] || dav_fail "UNLOCK: $code"
code=$(dav_curl -T - "$LOCKED" <<<"after the unlock")
[[ $code == 20[14] ]] || dav_fail "PUT after UNLOCK: $code"
dav_say "locks: a second lock and a PUT without the token refused (423), taken with it, free after UNLOCK"

# A client at another loopback address is not this machine's own: it writes only with a login.
if [ "$DAV_KIND" = vantry ]; then
    code=$(dav_curl --interface 127.0.0.3 -T - "${DAV_URL}tree/remote.txt" <<<"no login")
    [ "$code" = 401 ] || dav_fail "PUT from 127.0.0.3 without a login: $code (401 expected)"
    [ ! -e "$DAV_ROOT/tree/remote.txt" ] || dav_fail "the PUT without a login was stored"
    code=$(dav_curl --interface 127.0.0.3 -u "$DAV_USER:$DAV_PASSWORD" -T - \
        "${DAV_URL}tree/remote.txt" <<<"login")
    [ "$code" = 201 ] || dav_fail "PUT from 127.0.0.3 with the login: $code (201 expected)"
    dav_say "a client at 127.0.0.3 writes only with the login"
fi
dav_say "passed"
