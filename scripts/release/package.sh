#!/usr/bin/env bash
# Writes the release zip of a tested build: the program, the deployment kit, README.txt,
# LICENSE.txt, THIRD-PARTY-NOTICES.txt, BUILDINFO.txt, the SPDX SBOM and SHA256SUMS, in that
# order, with the commit's time. The same arguments give the same bytes.
# Arguments: the build directory, the program to ship (signed or not), the SHA-256 of the
# unsigned build when they differ (else ""), the version, the commit, SOURCE_DATE_EPOCH, the zip,
# the deployment kit as deploy-kit.sh wrote it and signing signed it (else it is written here),
# and the signing tools that took part, one path each.
set -euo pipefail
build=$1 exe=$2 unsigned=$3 version=$4 commit=$5 epoch=$6 zip=$7 kit=${8:-}
signed_with=("${@:9}")
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT

cp "$exe" "$files/KorvaneUninstall.exe"
if [ -z "$kit" ]; then
    kit=$files/kit
    "$here/deploy-kit.sh" "$version" "$kit"
fi
kit_names=(korvane-deploy.ps1 korvane-deploy.cmd korvane-detect.ps1)
cp "${kit_names[@]/#/$kit/}" "$files/"
sed "s/@VERSION@/$version/; s/\$/\r/" "$source/res/README.txt" >"$files/README.txt"
sed 's/$/\r/' "$source/LICENSE" >"$files/LICENSE.txt"
# Debian's python3: what the tooling reads with, and the zlib that deflates the zip, is its.
python=/usr/bin/python3
$python "$here/provenance.py" notices "$version" "$files/THIRD-PARTY-NOTICES.txt" \
    "KorvaneUninstall.exe=$build/KorvaneUninstall.map"
facts=(--version "$version" --commit "$commit" --epoch "$epoch")
$python "$here/provenance.py" buildinfo "${facts[@]}" --build "$build" --out "$files/BUILDINFO.txt" \
    "${signed_with[@]/#/--signed-with=}"
$python "$here/provenance.py" sbom "${facts[@]}" --name KorvaneUninstall --out "$files/KorvaneUninstall.spdx.json" \
    --program "$files/KorvaneUninstall.exe" "$build" "$build/KorvaneUninstall.map" "${kit_names[@]/#/--file=$files/}"
names=(KorvaneUninstall.exe "${kit_names[@]}" README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt BUILDINFO.txt KorvaneUninstall.spdx.json)
$python "$here/pack.py" "$zip" "$epoch" ${unsigned:+--unsigned "KorvaneUninstall-unsigned.exe=$unsigned"} \
    "${names[@]/#/$files/}"
