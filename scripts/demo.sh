#!/usr/bin/env bash
# The utility at work: builds the program, installs the toolkit on a sample Windows machine
# under Wine the way its setup and the browser's code download leave it, runs
# KorvaneUninstall.exe there with its log shown, and lists what remains of the toolkit and
# what was kept beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

demo="$PWD/build/demo"
. tests/e2e/wine.sh
. tests/e2e/toolkit.sh
# The program users run is the 32-bit one, a 32-bit process in WoW64 on 64-bit Windows.
build=win32
if ! choose_wine "$demo"; then
    echo "== $WHY_NOT_32BIT: showing the 64-bit build instead of the 32-bit one users run"
    build=win64
fi
use_build "$build"

echo "== Building ($build preset)"
cmake --preset "$build" >/dev/null
cmake --build --preset "$build" -j"$(nproc)" >/dev/null
fixtures="$PWD/build/$build/tests/e2e/fixtures"

export WINEPREFIX="$demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
WINDIR="$WINEPREFIX/drive_c/windows"

list_or_none() {
    if [ -n "$1" ]; then
        printf '%s\n' "$1" | sed 's/^/      /'
    else
        echo "      (none)"
    fi
}

subkeys() {
    "$WINE" "$REG_EXE" query "$1" "$REG_VIEW" 2>/dev/null | tr -d '\r' | sed -n 's/^HKEY_LOCAL_MACHINE.*\\//p'
}

existing() {
    local directory=$1 name present=""
    shift
    for name in "$@"; do
        [ -e "$directory/$name" ] && present+="$name"$'\n'
    done
    printf '%s' "${present%$'\n'}"
}

classes() {
    local name present=""
    for name in "$@"; do
        reg_key_exists "HKLM\\Software\\Classes\\CLSID\\$(library_clsid "$name")" \
            && present+="$(library_clsid "$name") ($name.dll)"$'\n'
    done
    printf '%s' "${present%$'\n'}"
}

show_toolkit() {
    echo "   Distribution units in the Code Store Database:"
    list_or_none "$(subkeys "$UNITS_KEY" | grep -v 00000000-1111 || true)"
    echo "   INF files in C:\\windows\\Inf:"
    list_or_none "$(existing "$(inf_directory)" $TOOLKIT_INF_FILES)"
    echo "   Libraries and programs in C:\\windows\\syswow64:"
    # shellcheck disable=SC2046  # the toolkit's names are one word each
    list_or_none "$(existing "$WINDIR/syswow64" $(printf '%s.dll ' $TOOLKIT_LIBRARIES) $(printf '%s.exe ' $TOOLKIT_PROGRAMS))"
    echo "   Their registered classes:"
    list_or_none "$(classes $TOOLKIT_LIBRARIES)"
    echo "   Files in C:\\windows\\Downloaded Program Files:"
    list_or_none "$(existing "$(downloads_directory)" vlwarden.inf vlwarden.osd qlvn2.inf qlvn.osd)"
    echo "   Components its INF sections remove, under $COMPONENTS_KEY:"
    list_or_none "$(subkeys "$COMPONENTS_KEY" | grep -v OtherUnit || true)"
}

show_unrelated() {
    echo "   Another vendor's distribution unit:"
    list_or_none "$(subkeys "$UNITS_KEY" | grep 00000000-1111 || true)"
    echo "   Its files in C:\\windows\\Downloaded Program Files:"
    list_or_none "$(existing "$(downloads_directory)" other.inf other.osd)"
    echo "   Another INF file in C:\\windows\\Inf:"
    list_or_none "$(existing "$(inf_directory)" other.inf)"
    echo "   Another library in C:\\windows\\syswow64, and its class:"
    list_or_none "$(existing "$WINDIR/syswow64" notkorvane.dll)"
    list_or_none "$(classes notkorvane)"
}

echo "== Making a sample machine in build/demo/prefix"
make_base_prefix "$demo/base-prefix"
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
cp -a "$demo/base-prefix" "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp "build/$build/KorvaneUninstall.exe" "$WINEPREFIX/drive_c/Downloads/"
install_toolkit "$fixtures"
install_unrelated "$fixtures"

echo "== The toolkit on the sample machine"
show_toolkit
echo "== Beside it"
show_unrelated

echo "== Running C:\\Downloads\\KorvaneUninstall.exe /log ($build build)"
set +e
"$WINE" 'C:\Downloads\KorvaneUninstall.exe' /log </dev/null | tr -d '\r' | sed 's/^/   /'
status=${PIPESTATUS[0]}
set -e
echo "== Exit code: $status"

echo "== What remains of the toolkit"
show_toolkit
echo "== What was kept"
show_unrelated
wineserver -w
