#!/usr/bin/env bash
# Installs what is missing, builds Vantry (Release, in build-release/) and starts the installed
# copy. The first time, the program's installer runs: it asks where to install on a terminal
# and takes its proposals ($HOME/Vantry) otherwise. Later runs copy the fresh build into the
# installation the installer recorded in $XDG_CONFIG_HOME/vantry/installation and start it.
# Arguments are passed on to vantry, e.g. ./run.sh -bind 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVANTRY_TESTS=OFF >/dev/null
cmake --build build-release -j2

# A configuration in the build directory would make the fresh build start as a server there
# instead of installing.
for name in Vantry.ini Zelvin.ini; do
    if [ -e "build-release/$name" ]; then
        echo "build-release/$name exists: move it away, then run ./run.sh again." >&2
        exit 1
    fi
done

record="${XDG_CONFIG_HOME:-$HOME/.config}"
case "$record" in /*) ;; *) record="$HOME/.config" ;; esac
record="$record/vantry/installation"

installation() {
    [ -r "$record" ] || return 1
    local dir
    dir=$(head -n 1 "$record")
    [ -n "$dir" ] && [ -x "$dir/vantry" ] && { [ -e "$dir/Vantry.ini" ] || [ -e "$dir/Zelvin.ini" ]; } || return 1
    printf '%s\n' "$dir"
}

# Replaces a program of the installation through a temporary file, so a copy that is running
# keeps its own file.
update() {
    local from=$1 to=$2
    [ "$from" -ef "$to" ] && return 0
    cp "$from" "$to.new" && mv -f "$to.new" "$to"
}

if dir=$(installation); then
    for program in vantry vantry-passwd vantry-ftp vantry-cert vantry-acme; do
        if [ -e "build-release/$program" ]; then update "build-release/$program" "$dir/$program"; fi
    done
    echo "Updated the programs in $dir."
else
    if ! build-release/vantry "$@"; then
        echo "Vantry was not installed." >&2
        exit 1
    fi
    if ! dir=$(installation); then
        echo "The installer did not record where it installed Vantry ($record)." >&2
        exit 1
    fi
fi

cd "$dir"
echo "Vantry is installed in $dir. Starting it: ./vantry $*"
if url=$(./vantry --url "$@"); then echo "Open $url in a browser."; fi
exec ./vantry "$@"
