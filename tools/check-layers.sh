#!/bin/bash
# Checks that includes run one way through the layers: each folder may include only the
# folders listed for it below (and itself). An include against the direction fails the run
# with the file, the line and the rule it breaks.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
    [platform]=""
    [config]="platform"
    [http]="config platform"
    [pages]="http config platform"
    [auth]="http config platform"
    [apps]="pages http config platform"
    [admin]="pages http config platform"
    [publish]="http config platform"
    [webdav]="http config platform"
    [acme]="config platform"
    [site]="acme webdav admin apps auth pages http config platform"
    [app]="site acme webdav publish admin apps auth pages http config platform"
    [tools]="app site acme webdav publish admin apps auth pages http config platform"
)

failures=0
for folder in "${!allowed[@]}"; do
    for file in "$folder"/*.cc "$folder"/*.h; do
        [ -e "$file" ] || continue
        while IFS=: read -r line target; do
            to=${target%%/*}
            [ "$to" = "$folder" ] && continue
            # Only the project's own folders are layers; generated headers and others pass.
            [ -n "${allowed[$to]+set}" ] || continue
            if [[ " ${allowed[$folder]} " != *" $to "* ]]; then
                echo "$file:$line: $folder/ may not include $target (it may include: ${allowed[$folder]:-nothing})"
                failures=$((failures + 1))
            fi
        done < <(grep -n '^#include "' "$file" | sed 's/^\([0-9]*\):#include "\([^"]*\)".*/\1:\2/')
    done
done
if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures include(s) against the layers' direction"
    exit 1
fi
echo "check-layers: every include runs one way"
