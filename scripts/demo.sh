#!/usr/bin/env bash
# The utility at work: builds the program, makes a sample Windows machine under Wine and runs
# KorvaneUninstall.exe there, showing its log.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$(nproc)" >/dev/null

demo=build/demo
export WINEPREFIX="$PWD/$demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
echo "== Making a sample machine in $demo/prefix"
./tests/e2e/make-base-prefix.sh "$PWD/$demo/base-prefix"
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
cp -a "$demo/base-prefix" "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp build/win64/KorvaneUninstall.exe "$WINEPREFIX/drive_c/Downloads/"

echo "== Running C:\\Downloads\\KorvaneUninstall.exe /log"
wine 'C:\Downloads\KorvaneUninstall.exe' /log </dev/null | tr -d '\r'
echo "== Exit code: ${PIPESTATUS[0]}"
wineserver -w
