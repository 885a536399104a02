#!/usr/bin/env bash
# Builds the shipped 32-bit program in a fresh build directory and packs it for administrators:
# dist/KorvaneUninstall-<version>.zip with KorvaneUninstall.exe, README.txt and SHA256SUMS,
# its entries in a fixed order with the commit's time, so that two runs on one commit give the
# same bytes. With --sign, the program is Authenticode-signed (SHA-256) with the organisation's
# certificate before the checksums are written.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat >&2 <<'USAGE'
usage: scripts/release.sh [--sign CERT.pfx [--timestamp URL]] [--dist DIR]
  --sign CERT.pfx   sign with this PKCS#12 certificate and key; its password is read from
                    KORVANE_SIGN_PASSWORD or, when that is unset, asked for on the terminal
  --timestamp URL   have the signature timestamped by this RFC 3161 server
  --dist DIR        where the zip goes (dist/)
USAGE
    exit 2
}

fail() {
    echo "release: $*" >&2
    exit 1
}

cert="" timestamp="" dist="$PWD/dist"
while [ $# -gt 0 ]; do
    case $1 in
        --sign) [ $# -ge 2 ] || usage; cert=$2; shift 2 ;;
        --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
        --dist) [ $# -ge 2 ] || usage; dist=$2; shift 2 ;;
        *) usage ;;
    esac
done
[ -z "$timestamp" ] || [ -n "$cert" ] || fail "--timestamp needs --sign"

./scripts/bootstrap.sh

# Everything about the certificate is settled before the build: a wrong password should not
# cost one.
password=""
if [ -n "$cert" ]; then
    [ -f "$cert" ] && [ -r "$cert" ] || fail "cannot read the certificate file $cert"
    if [ -n "${KORVANE_SIGN_PASSWORD+set}" ]; then
        password=$KORVANE_SIGN_PASSWORD
    elif [ -t 0 ]; then
        read -rs -p "Password for $cert: " password
        echo >&2
    else
        fail "no password for $cert: set KORVANE_SIGN_PASSWORD, or run release.sh in a terminal"
    fi
    # Certificates exported from Windows often use algorithms OpenSSL 3 keeps as legacy.
    if ! printf '%s' "$password" | openssl pkcs12 -in "$cert" -noout -passin stdin 2>/dev/null &&
        ! printf '%s' "$password" | openssl pkcs12 -legacy -in "$cert" -noout -passin stdin 2>/dev/null; then
        fail "$cert does not open with that password, or is no PKCS#12 file"
    fi
fi

version=$(sed -n 's/^project(KorvaneUninstall VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "CMakeLists.txt names no version"
if ! git diff --quiet HEAD -- 2>/dev/null; then
    echo "release: warning: the tree has changes not committed; this build is no commit's" >&2
fi
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}

build="$PWD/build/release"
rm -rf "$build"
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" --target KorvaneUninstall -j"$(nproc)" >/dev/null
python3 tests/e2e/check-artefacts.py "$build/KorvaneUninstall.exe" i386 >/dev/null \
    || fail "the build is not what ships: $(python3 tests/e2e/check-artefacts.py "$build/KorvaneUninstall.exe" i386)"

stage=$(mktemp -d)
trap 'rm -rf "$stage"; rm -f "$dist"/.KorvaneUninstall-*.zip.part' EXIT
mkdir "$stage/files"
exe="$stage/files/KorvaneUninstall.exe"
sums="$stage/files/SHA256SUMS"
unsigned=$(sha256sum <"$build/KorvaneUninstall.exe" | cut -d' ' -f1)
if [ -n "$cert" ]; then
    options=(-pkcs12 "$cert" -readpass - -h sha256 -n "Velmor Korvane Uninstall utility")
    [ -z "$timestamp" ] || options+=(-ts "$timestamp")
    if ! error=$(printf '%s' "$password" |
        osslsigncode sign "${options[@]}" -in "$build/KorvaneUninstall.exe" -out "$exe" 2>&1 >/dev/null); then
        fail "signing with $cert failed: $(echo "$error" | head -n 3)"
    fi
else
    cp "$build/KorvaneUninstall.exe" "$exe"
fi
sed "s/@VERSION@/$version/; s/\$/\r/" res/README.txt >"$stage/files/README.txt"
(
    cd "$stage/files"
    sha256sum KorvaneUninstall.exe README.txt
    [ -z "$cert" ] || echo "$unsigned  KorvaneUninstall-unsigned.exe"
) >"$sums"

zip="KorvaneUninstall-$version.zip"
python3 - "$stage/$zip" "$epoch" "$exe" "$stage/files/README.txt" "$sums" <<'PY'
import os, sys, time, zipfile
out, epoch, paths = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times begin in 1980
with zipfile.ZipFile(out, "w") as archive:
    for path in paths:
        entry = zipfile.ZipInfo(os.path.basename(path), stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0
        entry.external_attr = 0
        with open(path, "rb") as data:
            archive.writestr(entry, data.read(), compresslevel=9)
PY
# Only a whole zip ever appears under its name.
mkdir -p "$dist"
cp "$stage/$zip" "$dist/.$zip.part"
mv -f "$dist/.$zip.part" "$dist/$zip"
echo "$dist/$zip"
(cd "$stage/files" && cat SHA256SUMS)
