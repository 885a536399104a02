#!/usr/bin/env bash
# scripts/release.sh as an administrator's release manager uses it: the zip and its bytes from
# two runs, signing with a throwaway code-signing certificate and what the signed program
# still is, and every refusal, which leaves no zip behind.
# Arguments: the source tree, the shipped build's KorvaneUninstall.exe, and the end-to-end
# setting (fixtures and work directory) of that build.
set -euo pipefail
source=$1 built=$2 fixtures=$3 e2e_work=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
zip_name="KorvaneUninstall-$(sed -n 's/^project(KorvaneUninstall VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt").zip"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

release() {
    local dist=$1
    shift
    "$source/scripts/release.sh" --dist "$work/$dist" "$@" >"$work/$dist.out" 2>"$work/$dist.err"
}

unpack() {
    mkdir -p "$work/$1.files"
    python3 -m zipfile -e "$work/$1/$zip_name" "$work/$1.files"
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

# Unsigned, twice: the same bytes, the files in their order, README.txt with Windows line
# ends, and checksums that hold; the program is the shipped build, byte for byte.
release first
release second
cmp -s "$work/first/$zip_name" "$work/second/$zip_name" || fail "two runs gave different zips"
[ "$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "$work/first/$zip_name")" = "KorvaneUninstall.exe README.txt SHA256SUMS" ] || fail "the zip's listing"
unpack first
(cd "$work/first.files" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the unsigned zip"
cmp -s "$work/first.files/KorvaneUninstall.exe" "$built" || fail "the zip's program is not the build's"
[ "$(grep -c $'\r$' "$work/first.files/README.txt")" -eq "$(wc -l <"$work/first.files/README.txt")" ] \
    || fail "README.txt has lines without CRLF"
echo "unsigned: $(sha256sum <"$work/first/$zip_name" | cut -d' ' -f1) twice"

# Signed with a throwaway certificate, the password from the environment.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Korvane Test Signing" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=critical,digitalSignature" 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/cert.pfx" \
    -passout pass:throwaway
KORVANE_SIGN_PASSWORD=throwaway release signed --sign "$work/cert.pfx" || fail "$(cat "$work/signed.err")"
unpack signed
signed="$work/signed.files/KorvaneUninstall.exe"
osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >"$work/verify.out" 2>&1 \
    || fail "osslsigncode verify: $(cat "$work/verify.out")"
grep -E '^(Message digest algorithm|Signature verification)' "$work/verify.out" | sort -u
(cd "$work/signed.files" && sha256sum --quiet -c --ignore-missing SHA256SUMS) || fail "SHA256SUMS of the signed zip"
grep -qxF "$(sha256sum <"$built" | cut -d' ' -f1)  KorvaneUninstall-unsigned.exe" \
    "$work/signed.files/SHA256SUMS" || fail "SHA256SUMS lacks the unsigned build's hash"
# Signing changed only the checksum and the signature's slot, and appended the signature.
python3 - "$built" "$signed" <<'PY' || fail "signing changed more than the signature"
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
python3 "$source/tests/e2e/check-artefacts.py" "$signed" i386 >/dev/null || fail "the signed program's artefacts"
# The signed program still removes the toolkit, with the same log; in a work directory of its
# own, beside the end-to-end cases that may be running now.
mkdir "$work/e2e"
ln -s "$e2e_work/base-prefix" "$work/e2e/base-prefix"
cp "$e2e_work/wine-command" "$work/e2e/"
[ ! -f "$e2e_work/skip-reason" ] || cp "$e2e_work/skip-reason" "$work/e2e/"
status=0
KORVANE_BUILD=win32 KORVANE_EXE="$signed" E2E_FIXTURES="$fixtures" E2E_WORK="$work/e2e" \
    bash "$source/tests/e2e/cases/full-removal.sh" || status=$?
case $status in
    0) echo "the signed program passes full-removal under Wine" ;;
    77) echo "the signed program was not run: this machine runs no 32-bit programs" ;;
    *) fail "the signed program fails full-removal" ;;
esac

# Refusals, each before anything is built or written.
expect_refusal missing "cannot read the certificate file $work/missing.pfx" --sign "$work/missing.pfx"
head -c 2048 /dev/urandom >"$work/garbage.pfx"
KORVANE_SIGN_PASSWORD=throwaway expect_refusal garbage \
    "$work/garbage.pfx does not open with that password, or is no PKCS#12 file" --sign "$work/garbage.pfx"
KORVANE_SIGN_PASSWORD=wrong expect_refusal wrong \
    "$work/cert.pfx does not open with that password, or is no PKCS#12 file" --sign "$work/cert.pfx"
(unset KORVANE_SIGN_PASSWORD; expect_refusal no-terminal \
    "no password for $work/cert.pfx: set KORVANE_SIGN_PASSWORD, or run release.sh in a terminal" \
    --sign "$work/cert.pfx" </dev/null)
# On a terminal the password is asked for.
(unset KORVANE_SIGN_PASSWORD; printf 'wrong\n' | script -qec \
    "'$source/scripts/release.sh' --dist '$work/terminal' --sign '$work/cert.pfx'" /dev/null \
    >"$work/terminal.out" 2>&1) && fail "a wrong password typed on the terminal was taken"
grep -qF "Password for $work/cert.pfx: " "$work/terminal.out" || fail "no password prompt: $(cat "$work/terminal.out")"
grep -qF "does not open with that password" "$work/terminal.out" || fail "the typed password was not used"
[ ! -e "$work/terminal" ] || fail "a refused release left $(ls -A "$work/terminal")"
echo "refusals: missing, garbage, wrong password, no password without a terminal, wrong password typed"
