#!/usr/bin/env bash
# vantry's network drive (webdav=W) on 127.0.0.1 mounted with davfs2: a file put on the
# server's disk read through the mount; a folder made, files written (one of a few hundred
# KiB), renamed and deleted through it, each change seen on the server's disk; then the
# unmount, after which everything written is on the disk. davfs2 locks a file it opens for
# writing (use_locks 1). The mount is always undone. Skips (77) without mount.davfs, without
# root, without /dev/fuse, or when this machine refuses the mount itself (a container without
# the right to mount).
# Usage: tests/webdav/davfs2_test.sh PATH_TO_VANTRY
# ls itself is what is checked: listings through the mount.
# shellcheck disable=SC2012
set -uo pipefail
# shellcheck source=tests/webdav/lib.sh
. "$(dirname "$0")/lib.sh"

MOUNT_LIMIT=30    # seconds for the mount and for the unmount
SETTLE_LIMIT=30   # seconds for a change through the mount to reach the server's disk

DAV_NAME=davfs2
[ -x /usr/sbin/mount.davfs ] || [ -x /sbin/mount.davfs ] ||
    dav_skip "davfs2 is not installed (apt-get install davfs2)"
[ "$(id -u)" -eq 0 ] || dav_skip "mount.davfs needs root"
[ -c /dev/fuse ] || dav_skip "no /dev/fuse"
dav_init davfs2 "${1:-}"

MNT=$DAV_DIR/mnt
mkdir -p "$MNT" "$DAV_DIR/cache"
# Started by root, mount.davfs's daemon runs as the user davfs2, which writes the cache; it
# looks for the right as its group and others, not as the owner.
chmod 777 "$DAV_DIR/cache"

# Undoes the mount before the server stops (lib.sh calls it first in its cleanup).
dav_before_cleanup() {
    mountpoint -q "$MNT" 2>/dev/null || return 0
    timeout "$MOUNT_LIMIT" umount "$MNT" 2>/dev/null || umount -l "$MNT" 2>/dev/null
    wait_for_daemon
}

# mount.davfs's daemon keeps uploading after umount returns; it ends when it is done. Its pid
# file lies in /var/run/mount.davfs, named after the mount point.
PIDFILE=""
wait_for_daemon() {
    local i pid
    [ -n "$PIDFILE" ] && [ -f "$PIDFILE" ] || return 0
    pid=$(cat "$PIDFILE" 2>/dev/null)
    for ((i = 0; i < MOUNT_LIMIT * 10; i++)); do
        [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    dav_say "mount.davfs (pid $pid) still ran ${MOUNT_LIMIT}s after the unmount"
    return 1
}

# Waits until COMMAND... succeeds; fails the run with WHAT after SETTLE_LIMIT seconds.
settle() {
    local what=$1 i
    shift
    for ((i = 0; i < SETTLE_LIMIT * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    dav_fail "$what: not seen on the server's disk within ${SETTLE_LIMIT}s"
}

dav_start_server
printf 'put on the disk\n' >"$DAV_ROOT/from disk.txt"

# davfs2 names the locked file by its whole URL in the If header of its PUT (a tagged list);
# nginx's lock module refuses that with 423, so it is tried without locks.
LOCKS=1
[ "$DAV_KIND" = nginx ] && LOCKS=0
# The run's own configuration: its cache, no delay before an upload, locks on, no question
# asked, the login in its own secrets file (the client is this machine's own and needs none,
# but davfs2 would ask for one).
cat >"$DAV_DIR/secrets" <<SECRETS
$DAV_URL $DAV_USER "$DAV_PASSWORD"
SECRETS
chmod 600 "$DAV_DIR/secrets"
cat >"$DAV_DIR/davfs2.conf" <<CONF
cache_dir $DAV_DIR/cache
secrets $DAV_DIR/secrets
delay_upload 0
use_locks $LOCKS
ask_auth 0
CONF
PIDFILE=/var/run/mount.davfs/$(sed 's|^/||; s|/|-|g' <<<"$MNT").pid
if ! timeout "$MOUNT_LIMIT" mount -t davfs -o "conf=$DAV_DIR/davfs2.conf" "$DAV_URL" "$MNT" \
    </dev/null >"$DAV_LOGS/mount.txt" 2>&1; then
    cat "$DAV_LOGS/mount.txt"
    if grep -qiE 'not permitted|permission denied|fuse' "$DAV_LOGS/mount.txt"; then
        dav_skip "this machine refuses the mount (a container without the right to mount?)"
    fi
    dav_fail "mount.davfs failed"
fi
mountpoint -q "$MNT" || dav_fail "nothing is mounted at $MNT"
dav_say "mounted at $MNT"

[ "$(cat "$MNT/from disk.txt")" = "put on the disk" ] || dav_fail "reading a file through the mount"
# davfs2 1.6 speaks the kernel's FUSE protocol itself, and newer kernels refuse its answers to
# a folder's reading (EINVAL) before any request reaches the server: the listings are then
# left out, and everything else still runs.
LISTING=1
if ! ls "$MNT" >/dev/null 2>"$DAV_LOGS/ls-root.txt"; then
    grep -q 'Invalid argument' "$DAV_LOGS/ls-root.txt" || dav_fail "listing the mount: $(cat "$DAV_LOGS/ls-root.txt")"
    LISTING=0
    dav_say "note: this kernel refuses davfs2's folder listings (EINVAL): listings not checked"
fi
[ "$LISTING" = 0 ] || [ "$(ls "$MNT")" = "from disk.txt"$'\n'"lost+found" ] ||
    dav_fail "the mount's root lists: $(ls "$MNT" | paste -sd'|')"

mkdir "$MNT/a folder" || dav_fail "mkdir through the mount"
printf 'first file\n' >"$MNT/a folder/first.txt" || dav_fail "writing first.txt"
printf 'to be renamed\n' >"$MNT/a folder/old name.txt" || dav_fail "writing old name.txt"
printf 'to be deleted\n' >"$MNT/a folder/gone.txt" || dav_fail "writing gone.txt"
head -c 300000 /dev/urandom >"$DAV_DIR/big.bin"
cp "$DAV_DIR/big.bin" "$MNT/a folder/big é.bin" || dav_fail "writing big é.bin"
settle "the folder and its files" grep -qx 'to be deleted' "$DAV_ROOT/a folder/gone.txt"
settle "big é.bin" cmp -s "$DAV_DIR/big.bin" "$DAV_ROOT/a folder/big é.bin"

mv "$MNT/a folder/old name.txt" "$MNT/a folder/new name.txt" || dav_fail "renaming through the mount"
rm "$MNT/a folder/gone.txt" || dav_fail "deleting through the mount"
settle "the renamed file" grep -qx 'to be renamed' "$DAV_ROOT/a folder/new name.txt"
settle "the deleted file" test ! -e "$DAV_ROOT/a folder/gone.txt"
[ ! -e "$DAV_ROOT/a folder/old name.txt" ] || dav_fail "the old name is still on the disk"
[ "$(cat "$MNT/a folder/new name.txt")" = "to be renamed" ] || dav_fail "reading the renamed file"
printf 'changed\n' >>"$MNT/a folder/first.txt" || dav_fail "changing first.txt"
[ "$LISTING" = 0 ] || [ "$(ls "$MNT/a folder" | paste -sd'|')" = "big é.bin|first.txt|new name.txt" ] ||
    dav_fail "the folder lists: $(ls "$MNT/a folder" | paste -sd'|')"

timeout "$MOUNT_LIMIT" umount "$MNT" || dav_fail "umount"
wait_for_daemon || dav_fail "mount.davfs did not end"
mountpoint -q "$MNT" && dav_fail "still mounted after umount"
[ "$(cat "$DAV_ROOT/a folder/first.txt")" = $'first file\nchanged' ] ||
    dav_fail "first.txt on the disk after the unmount: $(cat "$DAV_ROOT/a folder/first.txt")"
cmp -s "$DAV_DIR/big.bin" "$DAV_ROOT/a folder/big é.bin" || dav_fail "big é.bin after the unmount"
[ "$(find "$DAV_ROOT/a folder" -type f -printf '%f\n' | sort | paste -sd'|')" = "big é.bin|first.txt|new name.txt" ] ||
    dav_fail "the folder on the disk: $(find "$DAV_ROOT/a folder" -printf '%f ')"
dav_say "passed"
