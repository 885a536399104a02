#!/usr/bin/env bash
# Makes the Wine prefix every end-to-end case copies, once per Wine version.
set -euo pipefail
prefix="$1"
stamp="$prefix/.korvane-base"
version=$(wine --version)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
wineboot -i >/dev/null 2>&1
wineserver -w
echo "$version" >"$stamp"
