#!/usr/bin/env bash
# scripts/release.sh as a release manager uses it, on a committed copy of this tree: every
# refusal, which leaves no zip behind; a release whose cases cannot run on this machine, which
# is refused; and a release signed with a key in a throwaway SoftHSM2 token and timestamped by
# a throwaway RFC 3161 server, and what its zips say about the program.
# Arguments: the source tree, the shipped build's end-to-end work directory, and the copy whose
# program the end-to-end cases have run (release-tree.sh), if they have: then its release relies
# on their passes.
set -euo pipefail
source=$1 e2e_work=$2 tree=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$e2e_work/skip-reason" ]; then
    [ "${KORVANE_REQUIRE_WIN32:-0}" != 1 ] || { echo "FAIL: $(cat "$e2e_work/skip-reason")" >&2; exit 1; }
    echo "SKIP: no release can be made here: $(cat "$e2e_work/skip-reason")"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-release.XXXXXX")
cleanup() {
    [ -z "${tsa_pid:-}" ] || kill "$tsa_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
version=$(sed -n 's/^project(KorvaneUninstall VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
zip_name="KorvaneUninstall-$version.zip"
kit_name="KorvaneUninstall-conformance-$version.zip"
listing="KorvaneUninstall.exe korvane-deploy.ps1 korvane-deploy.cmd korvane-detect.ps1 README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt BUILDINFO.txt KorvaneUninstall.spdx.json SHA256SUMS"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The tree as it stands, committed in a repository of its own: a release is made of a commit.
# Where the cases ran its program, and each passed, its release relies on them; one case's note
# says it passed cases that have changed since, so that the release runs that case alone.
[ -n "$tree" ] || { tree="$work/tree"; bash "$here/release-tree.sh" "$source" "$tree"; }
ran_cases="" digest=$(bash "$tree/tests/e2e/cases-digest.sh")
if [ -f "$tree/build/release/KorvaneUninstall.exe" ]; then
    passed="$tree/build/e2e-passed/$(sha256sum <"$tree/build/release/KorvaneUninstall.exe" | cut -d' ' -f1)"
    ran_cases=yes
    for case in "$tree"/tests/e2e/cases/*.sh; do
        [ "$(cat "$passed/e2e.win32.$(basename "$case" .sh)" 2>/dev/null)" = "$digest" ] || ran_cases=""
    done
    [ -z "$ran_cases" ] || echo "0000" >"$passed/e2e.win32.planted-msi"
fi
git() { command git -C "$tree" -c user.name=Release -c user.email=release@korvane.invalid "$@"; }
commit=$(git rev-parse HEAD)

release() {
    local dist=$1
    shift
    "$tree/scripts/release.sh" --dist "$work/$dist" "$@" >"$work/$dist.out" 2>"$work/$dist.err"
}

expect_refusal() {
    local dist=$1 message=$2
    shift 2
    if release "$dist" "$@"; then
        fail "release.sh $* succeeded"
    fi
    grep -qxF "release: $message" "$work/$dist.err" || fail "release.sh $*: $(cat "$work/$dist.err")"
    [ -z "$(ls -A "$work/$dist" 2>/dev/null)" ] || fail "release.sh $* left $(ls -A "$work/$dist")"
}

unpack() {
    mkdir -p "$work/$1.files" "$work/$1.kit"
    python3 -m zipfile -e "$work/$1/$zip_name" "$work/$1.files"
    python3 -m zipfile -e "$work/$1/$kit_name" "$work/$1.kit"
}

listing() {
    python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"
}

# Text for administrators on Windows: every line ends with CRLF.
expect_crlf() {
    [ "$(grep -c $'\r$' "$1")" -eq "$(wc -l <"$1")" ] || fail "${1##*/} has lines without CRLF"
}

# Throwaway signing material: a code-signing certificate with its key in a PKCS#12 file and in
# a SoftHSM2 token, and a timestamp server for them.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Korvane Test Signing" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=critical,digitalSignature" 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/cert.pfx" -passout pass:throwaway
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label KorvaneTest --pin 2468 --so-pin 13579 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -out "$work/key8.pem"
softhsm2-util --import "$work/key8.pem" --token KorvaneTest --label signing --id 01 --pin 2468 >/dev/null
module=/usr/lib/softhsm/libsofthsm2.so
token_key='pkcs11:token=KorvaneTest;object=signing;type=private'
python3 "$here/timestamp-server.py" "$work/tsa" >"$work/tsa.port" &
tsa_pid=$!

# Refusals, each before anything is built or written.
echo "# changed" >>"$tree/README.md"
expect_refusal dirty "the tree has changes that are not committed; commit or remove them first:"
git checkout -q README.md
touch "$tree/stray.cpp"
expect_refusal untracked "the tree has changes that are not committed; commit or remove them first:"
rm "$tree/stray.cpp"
# A release is of the version the changelog's newest entry names, with nothing left unreleased.
sed -i 's/^## \[Unreleased\]$/&\n\n### Fixed\n\n- A change that no version names yet./' "$tree/CHANGELOG.md"
git commit -q -am "a change listed under no version"
expect_refusal unreleased \
    "CHANGELOG.md lists changes under [Unreleased]: move them into the entry of a new version, and give CMakeLists.txt that version"
git reset -q --hard "$commit"
sed -i 's/^\(project(KorvaneUninstall VERSION \)[0-9.]*/\19.9.9.9/' "$tree/CMakeLists.txt"
git commit -q -am "a version the changelog does not name"
expect_refusal unnamed-version \
    "the newest entry in CHANGELOG.md is $version, not 9.9.9.9, the version in CMakeLists.txt: add its entry, ## [9.9.9.9] - YYYY-MM-DD"
git reset -q --hard "$commit"
expect_refusal lonely-timestamp "--timestamp needs --sign or --pkcs11-key" --timestamp http://127.0.0.1:9
expect_refusal half-pkcs11 "signing through PKCS#11 needs --pkcs11-module, --pkcs11-key and --cert" \
    --pkcs11-module "$module" --pkcs11-key "$token_key"
expect_refusal missing "cannot read the certificate file $work/missing.pfx" --sign "$work/missing.pfx"
head -c 2048 /dev/urandom >"$work/garbage.pfx"
KORVANE_SIGN_PASSWORD=throwaway expect_refusal garbage \
    "$work/garbage.pfx does not open with that password, or is no PKCS#12 file" --sign "$work/garbage.pfx"
KORVANE_SIGN_PASSWORD=wrong expect_refusal wrong \
    "$work/cert.pfx does not open with that password, or is no PKCS#12 file" --sign "$work/cert.pfx"
[ "$(head -n 1 "$work/wrong.err")" = "release: warning: no --timestamp: the signature stops being valid when the certificate expires" ] \
    || fail "no warning about the missing timestamp: $(cat "$work/wrong.err")"
(unset KORVANE_SIGN_PASSWORD; expect_refusal no-terminal \
    "no password for $work/cert.pfx: set KORVANE_SIGN_PASSWORD, or run release.sh in a terminal" \
    --sign "$work/cert.pfx" </dev/null)
KORVANE_SIGN_PIN=1111 expect_refusal wrong-pin "the token refused the PIN for $token_key" \
    --pkcs11-module "$module" --pkcs11-key "$token_key" --cert "$work/cert.pem"
KORVANE_SIGN_PIN=2468 expect_refusal no-module "cannot read the PKCS#11 module $work/none.so" \
    --pkcs11-module "$work/none.so" --pkcs11-key "$token_key" --cert "$work/cert.pem"
expect_refusal pin-in-uri "--pkcs11-key carries the PIN (pin-value=): leave it out of the URI, and give the PIN in KORVANE_SIGN_PIN or on the terminal" \
    --pkcs11-module "$module" --pkcs11-key "$token_key;pin-value=2468" --cert "$work/cert.pem"
! grep -q 2468 "$work/pin-in-uri.err" || fail "the refusal shows the PIN: $(cat "$work/pin-in-uri.err")"
KORVANE_SIGN_PIN=2468 expect_refusal no-timestamp "cannot have the signature timestamped by http://127.0.0.1:9" \
    --pkcs11-module "$module" --pkcs11-key "$token_key" --cert "$work/cert.pem" --timestamp http://127.0.0.1:9
# On a terminal the secret is asked for.
for mode in password PIN; do
    case $mode in
        password) arguments="--sign '$work/cert.pfx'" prompt="Password for $work/cert.pfx: " refusal="does not open with that password" ;;
        PIN) arguments="--pkcs11-module $module --pkcs11-key '$token_key' --cert '$work/cert.pem'"
             prompt="PIN for $token_key: " refusal="the token refused the PIN" ;;
    esac
    (unset KORVANE_SIGN_PASSWORD KORVANE_SIGN_PIN; printf 'typed-wrong\n' | script -qec \
        "'$tree/scripts/release.sh' --dist '$work/terminal' $arguments" /dev/null >"$work/terminal.out" 2>&1) \
        && fail "a wrong $mode typed on the terminal was taken"
    grep -qF "$prompt" "$work/terminal.out" || fail "no $mode prompt: $(cat "$work/terminal.out")"
    grep -qF "$refusal" "$work/terminal.out" || fail "the typed $mode was not used: $(cat "$work/terminal.out")"
    [ ! -e "$work/terminal" ] || fail "a refused release left $(ls -A "$work/terminal")"
done
echo "refusals: uncommitted and untracked changes, changes under no version, a version the changelog does not name, argument mistakes, missing, garbage and wrong PKCS#12 files, wrong PIN, missing module, a PIN in the URI, a timestamp server that does not answer, no secret without a terminal, wrong secrets typed"

# Where the shipped build cannot run, no release, and nothing built.
sed -i '/^set -u$/a echo "this kernel cannot run 32-bit programs (simulated)"; exit 1' "$tree/tests/e2e/probe-32bit.sh"
git commit -q -am "a machine that runs no 32-bit programs"
expect_refusal no-32bit "the shipped 32-bit build cannot run here, so its end-to-end cases cannot: this kernel cannot run 32-bit programs (simulated); nothing is built"
git reset -q --hard "$commit"
echo "no release where the 32-bit build cannot run"

# One whole release, signed with the key in the token, timestamped, the PIN from the
# environment: no build tool sees the PIN (cmake and ctest note their environment on the way),
# not even through a variable of the signing code's that the caller happened to export.
# Unsigned releases take the same path without the signing step.
mkdir "$work/spy"
for tool in cmake ctest; do
    printf '#!/bin/sh\nenv >>"%s"\nexec %s "$@"\n' "$work/spy.log" "$(command -v "$tool")" >"$work/spy/$tool"
    chmod +x "$work/spy/$tool"
done
for _ in $(seq 50); do [ -s "$work/tsa.port" ] && break; sleep 0.1; done
timestamp="http://127.0.0.1:$(cat "$work/tsa.port")"
KORVANE_SIGN_PIN=2468 SIGN_SECRET=exported PATH="$work/spy:$PATH" release signed --pkcs11-module "$module" \
    --pkcs11-key "$token_key" --cert "$work/cert.pem" --timestamp "$timestamp" --timestamp-ca "$work/tsa/tsa.pem" \
    || fail "$(cat "$work/signed.err")"
[ -s "$work/spy.log" ] || fail "no build tool was watched"
! grep -qE 'KORVANE_SIGN|SIGN_SECRET|2468' "$work/spy.log" || fail "a build tool saw the PIN"
! grep -q "warning" "$work/signed.err" || fail "a timestamped release warned: $(cat "$work/signed.err")"
built="$tree/build/release/KorvaneUninstall.exe"
unsigned=$(sha256sum <"$built" | cut -d' ' -f1)
# Its cases ran once: before, on these very bytes, or now.
cases=$(ls "$tree/tests/e2e/cases" | wc -l)
tested="running the $cases end-to-end cases on $unsigned"
[ -z "$ran_cases" ] || tested="running 1 of the $cases end-to-end cases on $unsigned; the others passed on it before (build/e2e-passed/$unsigned)"
grep -qxF "release: $tested" "$work/signed.err" || fail "the release did not test its program: $(cat "$work/signed.err")"
[ "$(cat "$tree/build/e2e-passed/$unsigned"/e2e.win32.* | grep -cxF "$digest")" -eq "$cases" ] \
    || fail "the release did not note each case that passed"
grep -qxF "release: every signature it made verifies" "$work/signed.err" || fail "the signatures were not verified"
grep -qxF "release: the signed program passes full-removal" "$work/signed.err" || fail "the signed program was not run"
grep -qxF "release: the signed conformance kit passes under Wine" "$work/signed.err" || fail "the signed kit was not run"

# The files in their order, checksums that hold, text for Windows.
[ "$(listing "$work/signed/$zip_name")" = "$listing" ] || fail "the zip's listing"
[ "$(listing "$work/signed/$kit_name")" = "KorvaneConformance-x86.exe KorvaneConformance-x64.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt KorvaneConformance.spdx.json SHA256SUMS" ] \
    || fail "the conformance kit's listing"
for name in "$zip_name" "$kit_name"; do
    grep -qxF "$(cd "$work/signed" && sha256sum "$name")" "$work/signed.out" \
        || fail "the release did not print the checksum of $name: $(cat "$work/signed.out")"
done
unpack signed
files="$work/signed.files"
kit_built=tests/e2e/fixtures/korvane_conformance_tests.exe
# Each program the release ships: where its zip is unpacked, its name, the build it was signed
# from, that build's directory, and the case the release ran the signed file in again.
programs=("$files|KorvaneUninstall|$built|$tree/build/release|full-removal"
    "$work/signed.kit|KorvaneConformance-x86|$tree/build/release/$kit_built|$tree/build/release|platform-conformance"
    "$work/signed.kit|KorvaneConformance-x64|$tree/build/release-win64/$kit_built|$tree/build/release-win64|platform-conformance")
# Each zip's checksums cover all it holds, and name the unsigned build the release tested, as
# anyone building the commit gets it.
for program in "${programs[@]}"; do
    IFS='|' read -r unpacked name tested _ <<<"$program"
    (cd "$unpacked" && sha256sum --quiet -c --ignore-missing SHA256SUMS) || fail "$unpacked/SHA256SUMS does not hold"
    [ "$(grep -vc -- '-unsigned\.exe$' "$unpacked/SHA256SUMS")" -eq "$(($(ls "$unpacked" | wc -l) - 1))" ] \
        || fail "$unpacked/SHA256SUMS leaves files out"
    grep -qxF "$(sha256sum <"$tested" | cut -d' ' -f1)  $name-unsigned.exe" "$unpacked/SHA256SUMS" \
        || fail "$unpacked/SHA256SUMS lacks the hash of $tested"
done
for text in korvane-deploy.ps1 korvane-deploy.cmd korvane-detect.ps1 README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt BUILDINFO.txt; do
    expect_crlf "$files/$text"
done
# The kit: the conformance executables the release ran under Wine, signed and run again, each
# needing nothing but what Windows XP SP3 has and asking for elevation, a README for Windows,
# and the notices of both links, GoogleTest's too.
for text in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    expect_crlf "$work/signed.kit/$text"
done
kit_packages=$(sed -n 's/^Debian package: \(.*\)\r$/\1/p' "$work/signed.kit/THIRD-PARTY-NOTICES.txt" | sed 's/, /\n/g')
for package in googletest mingw-w64-i686-dev mingw-w64-x86-64-dev g++-mingw-w64-x86-64-win32; do
    grep -qxF "$package $(dpkg-query -W -f='${Version}' "$package")" <<<"$kit_packages" \
        || fail "the kit's notices lack $package: $kit_packages"
done
grep -qxF $'Copyright 2008, Google Inc.\r' "$work/signed.kit/THIRD-PARTY-NOTICES.txt" || fail "the kit's notices lack GoogleTest's"
for exe in x86=i386 x64=x86-64; do
    artefacts=$(python3 "$source/tests/e2e/check-artefacts.py" --kit \
        "$work/signed.kit/KorvaneConformance-${exe%=*}.exe" "${exe#*=}") || fail "the kit: $artefacts"
done

# What the program, the notices, BUILDINFO.txt and the SBOM say about the build.
artefacts=$(python3 "$source/tests/e2e/check-artefacts.py" "$built" i386 "commit $commit") \
    || fail "the program does not name its commit: $artefacts"
tr -d '\r' <"$files/BUILDINFO.txt" >"$work/buildinfo"
grep -qxF "Commit:            $commit" "$work/buildinfo" || fail "BUILDINFO.txt lacks the commit"
grep -qxF "SOURCE_DATE_EPOCH: 1796700000 (2026-12-08T03:20:00Z)" "$work/buildinfo" || fail "BUILDINFO.txt lacks the commit's time"
# What built it, and what packed and signed it: Debian's python3 and zlib, osslsigncode, OpenSSL,
# the PKCS#11 engine and the token's module.
python_package=$(dpkg -S "$(realpath /usr/bin/python3)" | cut -d: -f1)
for package in g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-common mingw-w64-i686-dev cmake \
        "$python_package" zlib1g osslsigncode libssl3 libengine-pkcs11-openssl libsofthsm2; do
    [ "$(awk -v p="$package" '$1 == p && NF == 2 {print $2}' "$work/buildinfo")" = "$(dpkg-query -W -f='${Version}\n' "$package" | head -n 1)" ] \
        || fail "BUILDINFO.txt lacks $package at its installed version"
done
for package in gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 mingw-w64-i686-dev; do
    grep -qxF "Debian package: $package $(dpkg-query -W -f='${Version}' "$package")"$'\r' "$files/THIRD-PARTY-NOTICES.txt" \
        || fail "THIRD-PARTY-NOTICES.txt lacks $package"
done
/usr/bin/python3 "$here/check-sbom.py" "$here/spdx-2.3-schema.json" "$files" "$commit" || fail "the SBOM"
/usr/bin/python3 -c 'import json, sys, jsonschema; jsonschema.validate(*(json.load(open(f)) for f in sys.argv[1:]))' \
    "$work/signed.kit/KorvaneConformance.spdx.json" "$here/spdx-2.3-schema.json" || fail "the kit's SBOM"
# The same tested build packs into the same bytes again.
"$tree/scripts/release/package.sh" "$tree/build/release" "$files/KorvaneUninstall.exe" "$unsigned" \
    "$version" "$commit" 1796700000 "$work/repacked.zip" "$files" "$(command -v osslsigncode)" \
    "$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so" "$module"
cmp -s "$work/signed/$zip_name" "$work/repacked.zip" || fail "the same build packs into different zips"
echo "release: $(sha256sum <"$work/signed/$zip_name" | cut -d' ' -f1), packed twice"

# The signatures, their timestamps, and programs changed only where a signature goes: the
# program and the kit's, each the very one the release ran under Wine, and run again signed.
for program in "${programs[@]}"; do
    IFS='|' read -r unpacked name tested build_dir rerun <<<"$program"
    signed=$unpacked/$name.exe name=$name.exe
    grep -q "^runs: $(sha256sum <"$signed" | cut -d' ' -f1)  " "$build_dir/signed-$rerun.log" \
        || fail "the signed $name is not what ran $rerun again: $(grep '^runs:' "$build_dir/signed-$rerun.log")"
    osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa/tsa.pem" -in "$signed" >"$work/verify.out" 2>&1 \
        || fail "osslsigncode verify $name: $(cat "$work/verify.out")"
    grep -qxF "Timestamp Server Signature verification: ok" "$work/verify.out" || fail "$name has no timestamp: $(cat "$work/verify.out")"
    [ "$name" != KorvaneUninstall.exe ] \
        || grep -E '^(Message digest algorithm|Signature verification:|Timestamp Server Signature verification)' "$work/verify.out" | sort -u
    python3 - "$tested" "$signed" <<'PY' || fail "signing $name changed more than the signature"
import struct, sys
unsigned, signed = (open(path, "rb").read() for path in sys.argv[1:])
opt = struct.unpack_from("<I", unsigned, 0x3C)[0] + 24
slots = [(opt + 64, 4), (opt + (128 if struct.unpack_from("<H", unsigned, opt)[0] == 0x10B else 144), 8)]
def blanked(data):
    data = bytearray(data[:len(unsigned)])
    for offset, size in slots:
        data[offset:offset + size] = bytes(size)
    return bytes(data)
sys.exit(len(signed) <= len(unsigned) or blanked(signed) != blanked(unsigned))
PY
done

# The deployment kit's PowerShell scripts, signed with the program's key and timestamped.
for script in korvane-deploy.ps1 korvane-detect.ps1; do
    osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa/tsa.pem" -in "$files/$script" >"$work/verify.out" 2>&1 \
        && grep -qxF "Timestamp Server Signature verification: ok" "$work/verify.out" \
        || fail "osslsigncode verify $script: $(cat "$work/verify.out")"
    head -n 1 "$files/$script" | grep -qF ", KorvaneUninstall $version:" || fail "$script does not name $version"
done

# The PKCS#12 way signs the same tested program, through the same signing code, and what it
# signed verifies against its certificate alone: not once changed, nor against another's.
(
    . "$tree/scripts/release/sign.sh"
    SIGN_MODE=pkcs12 SIGN_PFX="$work/cert.pfx" SIGN_SECRET=throwaway
    signing_options
    sign_file "$built" "$work/pfx-signed.exe" || fail "PKCS#12 signing: $SIGN_ERROR"
    mkdir "$work/identity"
    signing_identity "$work/identity"
    signature_holds "$work/pfx-signed.exe" || fail "a signature made does not verify: $SIGN_ERROR"
    ! signature_holds "$files/KorvaneUninstall.exe" "$timestamp" || fail "a signature verifies without its timestamp server's CA"
    cp "$work/pfx-signed.exe" "$work/changed.exe"
    printf 'x' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc status=none
    ! signature_holds "$work/changed.exe" || fail "a changed program verifies"
)
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/pfx-signed.exe" >"$work/verify-pfx.out" 2>&1 \
    || fail "osslsigncode verify (PKCS#12): $(cat "$work/verify-pfx.out")"
echo "signed: through PKCS#11 (timestamped) and PKCS#12"
