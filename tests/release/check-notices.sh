#!/usr/bin/env bash
# Nothing the link takes from the toolchain ships without its notices: the build's own map is
# covered, and the same map with one more archive, libssp.a (beside libgcc.a in the toolchain,
# never linked by the program), is refused with the archive and its package named.
# Arguments: the linker map, and a directory for the changed copy.
set -euo pipefail
map=$1 work=$2
provenance="$(dirname "$0")/../../scripts/release/provenance.py"
python3 "$provenance" check "$map"

libgcc=$(grep -m1 -o '^/[^(]*/libgcc\.a' "$map") || { echo "FAIL: $map names no libgcc.a" >&2; exit 1; }
extra=$(realpath -m "${libgcc%/libgcc.a}/libssp.a")
mkdir -p "$work"
sed "/^Archive member included/a $extra(ssp.o)\n                              (__stack_chk_fail)" "$map" >"$work/uncovered.map"
if python3 "$provenance" check "$work/uncovered.map" >/dev/null 2>"$work/uncovered.err"; then
    echo "FAIL: a link that took $extra passed the check" >&2
    exit 1
fi
expected="provenance: the link took $extra (Debian package $(dpkg -S "$extra" | cut -d: -f1)), which no component in scripts/release/components.json covers: add it there with its notices"
[ "$(cat "$work/uncovered.err")" = "$expected" ] || { echo "FAIL: $(cat "$work/uncovered.err")" >&2; exit 1; }
echo "refused: $extra"
