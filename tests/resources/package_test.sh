#!/usr/bin/env bash
# The Debian package built with cpack from a build directory: its files, its declared
# dependencies, its programs run from a throw-away root, and its manual pages rendered
# without a warning.
# Usage: tests/resources/package_test.sh BUILD_DIRECTORY
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(cd "$build" && cpack -G DEB -B "$work") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/vantry_*_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "one vantry_VERSION_ARCH.deb expected, got: ${debs[*]}"
deb=${debs[0]}

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for file in ./usr/bin/vantry ./usr/bin/vantry-passwd ./usr/bin/vantry-ftp ./usr/bin/vantry-cert \
    ./usr/bin/vantry-acme ./usr/share/man/man1/vantry-acme.1.gz ./usr/share/man/man1/vantry.1.gz ./usr/share/man/man1/vantry-passwd.1.gz \
    ./usr/share/man/man1/vantry-ftp.1.gz ./usr/share/man/man1/vantry-cert.1.gz \
    ./usr/share/applications/vantry.desktop \
    ./usr/lib/systemd/user/vantry.service; do
    grep -qxF "$file" "$work/files" || fail "$file is not in the package: $(cat "$work/files")"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libcrypt1 libqrencode4 libtinfo6 libssl3; do
    [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
[ "$("$root/usr/bin/vantry" --version)" = "Vantry V1.0" ] || fail "vantry --version"
"$root/usr/bin/vantry-passwd" --help | grep -q "^Usage: vantry-passwd" || fail "vantry-passwd --help"
"$root/usr/bin/vantry-acme" --help | grep -q "^Usage: vantry-acme" || fail "vantry-acme --help"
"$root/usr/bin/vantry-cert" -o "$work" localhost >/dev/null && [ -s "$work/vantry.crt" ] ||
    fail "vantry-cert"

for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -wall 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
    rendered=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -P-bou 2>/dev/null)
    [[ $'\n'"$rendered" == *$'\n'NAME$'\n'* ]] || fail "$page has no NAME"
done
grep -qx "ExecStart=%h/Vantry/vantry --headless" "$root/usr/lib/systemd/user/vantry.service" ||
    fail "the unit does not run the installation headless"
echo "package ok: $(basename "$deb")"
