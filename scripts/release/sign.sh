# shellcheck shell=bash
# Authenticode signing (SHA-256) through osslsigncode, with a PKCS#12 file or with a key held in
# a token or HSM (PKCS#11), and the verification of what it signed. Sourced by release.sh, which
# sets SIGN_MODE (pkcs12 or pkcs11), SIGN_PFX, or SIGN_MODULE, SIGN_KEY and SIGN_CERT, and
# SIGN_SECRET (the password or PIN, a shell variable only: it reaches osslsigncode and openssl on
# their standard input, never in an argument or the environment).

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

# Whether the key and its secret sign at all, tried on a script of one line, with the timestamp
# server $1 if given: a wrong password, PIN or server should not cost a build and every test first.
signing_works() {
    local probe status=0
    probe=$(mktemp -d)
    echo "Write-Output probe" >"$probe/probe.ps1"
    sign_file "$probe/probe.ps1" "$probe/signed.ps1" "${1:-}" || status=$?
    rm -rf "$probe"
    return "$status"
}

# Writes into the folder $1 what a signature of this key verifies against: the signing
# certificate and its chain, beside the system's CAs and the timestamp server's CA $2 if given, in
# SIGN_CA, and the SHA-256 of the signing certificate in SIGN_LEAF.
signing_identity() {
    local leaf=$1/leaf.pem
    case $SIGN_MODE in
        pkcs11) cp "$SIGN_CERT" "$1/chain.pem"; openssl x509 -in "$SIGN_CERT" -out "$leaf" ;;
        pkcs12)
            printf '%s' "$SIGN_SECRET" | openssl pkcs12 -in "$SIGN_PFX" -nokeys -passin stdin -out "$1/chain.pem"
            printf '%s' "$SIGN_SECRET" | openssl pkcs12 -in "$SIGN_PFX" -nokeys -clcerts -passin stdin | openssl x509 -out "$leaf"
            ;;
    esac
    SIGN_CA=$1/ca.pem
    cat "$1/chain.pem" /etc/ssl/certs/ca-certificates.crt ${2:+"$2"} >"$SIGN_CA"
    SIGN_LEAF=$(openssl x509 -in "$leaf" -outform DER | sha256sum | cut -d' ' -f1)
}

# Whether $1 carries a signature that verifies, made with this key, with a timestamp that
# verifies too when $2 says one was asked for. On failure, what osslsigncode said is in SIGN_ERROR.
signature_holds() {
    SIGN_ERROR=$(osslsigncode verify -CAfile "$SIGN_CA" -TSA-CAfile "$SIGN_CA" -ignore-crl \
        -require-leaf-hash "sha256:$SIGN_LEAF" -in "$1" 2>&1) || return 1
    [ -z "${2:-}" ] || grep -qxF "Timestamp Server Signature verification: ok" <<<"$SIGN_ERROR" \
        || { SIGN_ERROR="no timestamp that verifies"; return 1; }
}

# What SIGN_ERROR says went wrong in a verification, on one line.
verify_error() {
    grep -i -e 'failed' -e 'error' -e 'mismatch' -e 'no timestamp' <<<"$SIGN_ERROR" | sed -n '1,3p' | tr '\n' ' '
}
