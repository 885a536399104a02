#!/usr/bin/env bash
# Nothing a link takes ships without its licence and notices: the maps of the program and of the
# conformance kit are covered, and each broken input is refused with what it names: a map with an
# archive from the toolchain that no component covers (libssp.a, beside libgcc.a, never linked),
# or one the build made from no covered package; a member no rule tells (libstdc++'s
# floating_to_chars.o, which bundles other code); and a catalogue that maps a licence the link
# takes (mingw_pformat.c's) to no SPDX identifier, or that gives one no valid SPDX expression.
# Arguments: the program's linker map, the kit's, and a directory for the changed copies.
set -euo pipefail
program_map=$1 kit_map=$2 work=$3
release="$(dirname "$0")/../../scripts/release"
/usr/bin/python3 "$release/provenance.py" notices test /dev/null "program=$program_map" "kit=$kit_map"

libgcc=$(grep -m1 -o '^/[^(]*/libgcc\.a' "$program_map") || { echo "FAIL: $program_map names no libgcc.a" >&2; exit 1; }
libssp=$(realpath -m "${libgcc%/libgcc.a}/libssp.a")
libstdcxx=$(grep -m1 -o '^/[^(]*/libstdc++\.a' "$program_map")
pformat="libmingwex.a(lib32_libmingwex_a-mingw_pformat.o)"
catalogue="the copyright file of mingw-w64-i686-dev gives mingw-w64-crt/stdio/mingw_pformat.c, which the link took as $pformat, the licence Keith-Marshall, which scripts/release/components.json maps to no SPDX identifier: add it there"
# The map, a member it takes besides, what the catalogue loses (a sed script), what is refused.
broken=(
    "$program_map|$libssp(ssp.o)||the link took $libssp (Debian package $(dpkg -S "$libssp" | cut -d: -f1)), which no component in scripts/release/components.json covers: add it there with its notices"
    "$kit_map|../../lib/libgmock.a(gmock-all.cc.obj)||the link took libgmock.a, which the build made but which is neither this project's own nor built from a component in scripts/release/components.json: add it there with its notices"
    "$program_map|$libstdcxx(floating_to_chars.o)||the link took libstdc++.a(floating_to_chars.o), whose licence scripts/release/components.json cannot tell: add a rule for it there, with its notices"
    "$program_map||/\"Keith-Marshall\":/d|$catalogue"
    "$program_map||s/GCC-exception-3.1/GCC-exception-3.2/|'GPL-3.0-or-later WITH GCC-exception-3.2' is no SPDX licence expression with known identifiers: A plain license symbol cannot be used as an exception in a \"WITH symbol\" statement. for token: \"GCC-exception-3.2\" at position: 22"
)
mkdir -p "$work/tree/scripts/release"
cp "$release/provenance.py" "$work/tree/scripts/release/"
cp "$release/../../LICENSE" "$work/tree/"
for row in "${broken[@]}"; do
    IFS='|' read -r map member loses expected <<<"$row"
    # Beside the map, where its build's target folders are told.
    changed="$(dirname "$map")/broken.map"
    sed "/^Archive member included/a ${member:-$libgcc(_ctors.o)}\n                              (a_symbol)" "$map" >"$changed"
    sed "$loses" "$release/components.json" >"$work/tree/scripts/release/components.json"
    status=0
    /usr/bin/python3 "$work/tree/scripts/release/provenance.py" notices test /dev/null "program=$changed" 2>"$work/broken.err" || status=$?
    rm -f "$changed"
    [ "$status" -ne 0 ] || { echo "FAIL: a link that took ${member:-what it takes} passed the check, with [$loses]" >&2; exit 1; }
    [ "$(cat "$work/broken.err")" = "provenance: $expected" ] || { echo "FAIL: $(cat "$work/broken.err")" >&2; exit 1; }
    echo "refused: ${member:-the catalogue less $loses}"
done
