#!/usr/bin/env bash
# Nothing a link takes ships without its notices: the maps of the program and of the conformance
# kit are covered, and each map with one more archive is refused with the archive named: from
# the toolchain libssp.a (beside libgcc.a, never linked), with its package; from the build, an
# archive that is neither this project's own nor built from a covered package's sources.
# Arguments: the program's linker map, the kit's, and a directory for the changed copies.
set -euo pipefail
program_map=$1 kit_map=$2 work=$3
provenance="$(dirname "$0")/../../scripts/release/provenance.py"
python3 "$provenance" check "$program_map" "$kit_map" >/dev/null

libgcc=$(grep -m1 -o '^/[^(]*/libgcc\.a' "$program_map") || { echo "FAIL: $program_map names no libgcc.a" >&2; exit 1; }
libssp=$(realpath -m "${libgcc%/libgcc.a}/libssp.a")
gmock=../../lib/libgmock.a
uncovered=(
    "$program_map|$libssp(ssp.o)|the link took $libssp (Debian package $(dpkg -S "$libssp" | cut -d: -f1)), which no component in scripts/release/components.json covers: add it there with its notices"
    "$kit_map|$gmock(gmock-all.cc.obj)|the link took $gmock, which the build made but which is neither this project's own nor built from a component in scripts/release/components.json: add it there with its notices"
)
mkdir -p "$work"
for row in "${uncovered[@]}"; do
    IFS='|' read -r map member expected <<<"$row"
    sed "/^Archive member included/a $member\n                              (a_symbol)" "$map" >"$work/uncovered.map"
    if python3 "$provenance" check "$work/uncovered.map" >/dev/null 2>"$work/uncovered.err"; then
        echo "FAIL: a link that took ${member%(*} passed the check" >&2
        exit 1
    fi
    [ "$(cat "$work/uncovered.err")" = "provenance: $expected" ] || { echo "FAIL: $(cat "$work/uncovered.err")" >&2; exit 1; }
    echo "refused: ${member%(*}"
done
