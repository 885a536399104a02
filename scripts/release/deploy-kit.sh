#!/usr/bin/env bash
# Writes the deployment kit of a release into a folder: the scripts of deploy/, each naming the
# release's version. Arguments: the version and the folder.
set -euo pipefail
version=$1 out=$2
source=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
for name in korvane-deploy.ps1 korvane-deploy.cmd korvane-detect.ps1; do
    # CRLF whatever the checkout gave: cmd.exe misreads labels in a file of bare LFs.
    sed "s/@VERSION@/$version/g; s/\r*\$/\r/" "$source/deploy/$name" >"$out/$name"
done
