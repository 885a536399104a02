# shellcheck shell=bash
# Authenticode signing (SHA-256) through osslsigncode, with a PKCS#12 file or with a key held in
# a token or HSM (PKCS#11). Sourced by release.sh, which sets SIGN_MODE (pkcs12 or pkcs11),
# SIGN_PFX, or SIGN_MODULE, SIGN_KEY and SIGN_CERT, and SIGN_SECRET (the password or PIN, a
# shell variable only: it reaches osslsigncode on its standard input, never in an argument or
# the environment).

signing_options() {
    SIGN_OPTIONS=(-h sha256 -n "Velmor Korvane Uninstall utility")
    case $SIGN_MODE in
        pkcs12) SIGN_OPTIONS+=(-pkcs12 "$SIGN_PFX") ;;
        pkcs11)
            # osslsigncode finds the engine itself where it is where OpenSSL keeps engines.
            SIGN_ENGINE=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so
            [ ! -f "$SIGN_ENGINE" ] || SIGN_OPTIONS+=(-pkcs11engine "$SIGN_ENGINE")
            SIGN_OPTIONS+=(-pkcs11module "$SIGN_MODULE" -certs "$SIGN_CERT" -key "$SIGN_KEY")
            ;;
    esac
    SIGN_OPTIONS+=(-readpass -)
}

# Signs $1 into $2, with the timestamp server $3 if given. On failure, what osslsigncode said
# is in SIGN_ERROR.
sign_file() {
    local options=("${SIGN_OPTIONS[@]}")
    [ -z "${3:-}" ] || options+=(-ts "$3")
    rm -f "$2"
    SIGN_ERROR=$(printf '%s' "$SIGN_SECRET" | osslsigncode sign "${options[@]}" -in "$1" -out "$2" 2>&1 >/dev/null) \
        && [ -s "$2" ]
}

# The first $1 lines of SIGN_ERROR that say something, on one line: the engine's banner and
# the closing "Failed" say nothing.
signing_error() {
    grep -v -e '^Engine' -e '^Failed$' <<<"$SIGN_ERROR" | sed -n "1,$1p" | tr '\n' ' '
}

# Whether the key and its secret sign at all, tried on a program of 1 KiB: a wrong password or
# PIN should not cost a build and every test first.
signing_works() {
    local probe
    probe=$(mktemp -d)
    python3 - "$probe/probe.exe" <<'PY'
import struct, sys
coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, 0x200, 0, 0, 0x1000, 0x1000,
                       0x1000, 0x400000, 0x1000, 0x200, 5, 1, 0, 0, 5, 1, 0, 0x2000, 0x200, 0, 3, 0,
                       0x100000, 0x1000, 0x100000, 0x1000, 0, 16) + bytes(16 * 8)
text = struct.pack("<8sIIIIIIHHI", b".text", 1, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
headers = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"PE\0\0" + coff + optional + text
open(sys.argv[1], "wb").write(headers.ljust(0x200, b"\0") + b"\xC3".ljust(0x200, b"\0"))
PY
    local status=0
    sign_file "$probe/probe.exe" "$probe/signed.exe" || status=$?
    rm -rf "$probe"
    return "$status"
}
