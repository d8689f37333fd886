#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Vantry, when any is missing.
# Usage: tools/install-deps.sh [extra package...]
set -euo pipefail
# clang and its runtime libraries (libFuzzer, the sanitizers) build the fuzz targets.
# libssl-dev is HTTPS; curl and openssl check it in the tests.
packages=(g++ make cmake libgtest-dev perl libncurses-dev libcrypt-dev tmux python3-pyftpdlib
          clang libclang-rt-14-dev libssl-dev curl openssl "$@")
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
