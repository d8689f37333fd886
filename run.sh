#!/usr/bin/env bash
# Installs what is missing, builds Vantry and starts it from the folder instance/, which is
# made on the first run with a starter configuration (Server 1 on port 8080, Server 2 on
# 9600) and a web root. Arguments are passed on to vantry, e.g. ./run.sh -bind 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVANTRY_TESTS=OFF >/dev/null
cmake --build build-release -j2

instance=$PWD/instance
mkdir -p "$instance/www"
cp build-release/vantry build-release/vantry-passwd "$instance/"
if [ ! -e "$instance/Vantry.ini" ] && [ ! -e "$instance/Zelvin.ini" ]; then
    cat > "$instance/Vantry.ini" <<INI
[Config]
port=8080
wwwroot=$instance/www/
logs=Y

[Server-2-Config]
port=9600
wwwroot=$instance/www/

[Server-2]
secondPortEnabled=Y
INI
fi
if [ ! -e "$instance/www/index.html" ]; then
    printf '<html><body><h1>Vantry is running.</h1></body></html>\n' > "$instance/www/index.html"
fi
cd "$instance"
echo "Starting Vantry in $instance: ./vantry $*"
exec ./vantry "$@"
