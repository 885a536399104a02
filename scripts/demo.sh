#!/usr/bin/env bash
# The utility at work: builds the program, makes a sample Windows machine under Wine with the
# toolkit on it, runs KorvaneUninstall.exe there with its log shown, and lists what remains.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$(nproc)" >/dev/null

demo=build/demo
export WINEPREFIX="$PWD/$demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
WINDIR="$WINEPREFIX/drive_c/windows"
. tests/e2e/toolkit.sh

list_or_none() {
    if [ -n "$1" ]; then
        printf '%s\n' "$1" | sed 's/^/      /'
    else
        echo "      (none)"
    fi
}

show_toolkit() {
    local name present=""
    echo "   Distribution units in the Code Store Database:"
    list_or_none "$(wine reg query "$UNITS_KEY" 2>/dev/null | tr -d '\r' | sed -n 's/^HKEY_LOCAL_MACHINE.*\\//p')"
    echo "   Files in C:\\windows\\Downloaded Program Files:"
    list_or_none "$(ls "$(downloads_directory)" 2>/dev/null)"
    echo "   The toolkit's INF files in C:\\windows\\Inf:"
    for name in $TOOLKIT_INF_FILES; do
        [ -e "$(inf_directory)/$name" ] && present+="$name"$'\n'
    done
    list_or_none "${present%$'\n'}"
    echo "   Components under $COMPONENTS_KEY:"
    list_or_none "$(wine reg query "$COMPONENTS_KEY" 2>/dev/null | tr -d '\r' | sed -n 's/^HKEY_LOCAL_MACHINE.*\\//p')"
}

echo "== Making a sample machine in $demo/prefix"
./tests/e2e/make-base-prefix.sh "$PWD/$demo/base-prefix"
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
cp -a "$demo/base-prefix" "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp build/win64/KorvaneUninstall.exe "$WINEPREFIX/drive_c/Downloads/"
install_toolkit_inf_files
install_toolkit_units
install_unrelated_unit

echo "== The toolkit on the sample machine"
show_toolkit

echo "== Running C:\\Downloads\\KorvaneUninstall.exe /log"
set +e
wine 'C:\Downloads\KorvaneUninstall.exe' /log </dev/null | tr -d '\r' | sed 's/^/   /'
status=${PIPESTATUS[0]}
set -e
echo "== Exit code: $status"

echo "== What remains of the toolkit"
show_toolkit
wineserver -w
