#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Vantry, when any is missing.
# Usage: tools/install-deps.sh [extra package...]
set -euo pipefail
# libexpat reads the XML bodies of the network drive; libcurl (with OpenSSL) and nlohmann-json
# speak to the certificate authority that issues the certificates a server obtains; media-types is the system's MIME database
# (/etc/mime.types) that names the types of files; libqrencode makes the QR code and zbarimg reads it back in the tests; dpkg-dev (dpkg-shlibdeps)
# builds the Debian package and groff-base and man-db check the manual pages; libssl-dev is
# HTTPS, which openssl checks in the tests; clang and its runtime libraries (libFuzzer, the
# sanitizers) build the fuzz targets; clang-format checks the code's layout; libnghttp2-dev is
# HTTP/2, which h2load (nghttp2-client) drives in the tests; unzip tests the zip archives of
# folders.
packages=(g++ make cmake libgtest-dev perl libncurses-dev libcrypt-dev tmux python3-pyftpdlib curl
          libqrencode-dev zbar-tools dpkg-dev groff-base man-db libssl-dev openssl
          media-types libnghttp2-dev nghttp2-client unzip libexpat1-dev
          libcurl4-openssl-dev nlohmann-json3-dev
          clang libclang-rt-14-dev clang-format "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}; run as root or install them first." >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
