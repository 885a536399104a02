#!/usr/bin/env bash
# Builds KorvaneUninstall.exe twice more from copies of the sources and their repository in two
# other directories, with the preset the one under test was built with: all three must be the
# same bytes, so that nothing of where or when it was built ends up in the program an
# administrator verifies. The last copy, its repository taken away, still builds, and says so.
set -euo pipefail
source=$1 preset=$2 built=$3
here=$(cd "$(dirname "$0")" && pwd)
machine=$( [ "$preset" = win32 ] && echo i386 || echo x86-64 )
scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvane-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

build_copy() {
    local copy=$1
    mkdir -p "$scratch/$copy"
    tar -C "$source" --exclude=./build --exclude=./dist -cf - . | tar -C "$scratch/$copy" -xf -
    cmake -S "$scratch/$copy" --preset "$preset" -B "$scratch/$copy/out" >/dev/null
    cmake --build "$scratch/$copy/out" --target KorvaneUninstall -j"$(nproc)" >/dev/null
}

hashes=("$(sha256sum <"$built" | cut -d' ' -f1)  $built")
for copy in first/src second/a/deeper/source; do
    build_copy "$copy"
    hashes+=("$(sha256sum <"$scratch/$copy/out/KorvaneUninstall.exe" | cut -d' ' -f1)  ${copy}")
done
printf '%s\n' "${hashes[@]}"
[ "$(printf '%s\n' "${hashes[@]}" | cut -d' ' -f1 | sort -u | wc -l)" -eq 1 ] \
    || { echo "FAIL: the builds differ"; exit 1; }

# Only what names the commit is built again: the rest never depends on the repository.
rm -rf "$scratch/$copy/.git"
cmake --build "$scratch/$copy/out" --target KorvaneUninstall -j"$(nproc)" >/dev/null
python3 "$here/check-artefacts.py" "$scratch/$copy/out/KorvaneUninstall.exe" "$machine" \
    "built without git" | sed 's|.*: PE|without git: PE|'
