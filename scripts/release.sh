#!/usr/bin/env bash
# Makes a release of the shipped 32-bit program from a clean, committed tree, of bytes that passed
# every end-to-end case under Wine: dist/KorvaneUninstall-<version>.zip (scripts/release/package.sh
# says what it holds) and dist/KorvaneUninstall-conformance-<version>.zip, the kit that checks a
# real Windows machine; the same bytes on every run of one commit. Signing, when asked, is
# Authenticode with SHA-256, with a PKCS#12 file or with a key in a token or HSM (PKCS#11).
set -euo pipefail

# Secrets leave the environment before anything else runs: no package manager, build tool or
# test started below ever sees them.
secret_password=${KORVANE_SIGN_PASSWORD-} password_given=${KORVANE_SIGN_PASSWORD+set}
secret_pin=${KORVANE_SIGN_PIN-} pin_given=${KORVANE_SIGN_PIN+set}
# SIGN_SECRET holds the secret from here on: unset first, so that a variable of that name the
# caller exported cannot carry it into the environment of what runs below.
unset KORVANE_SIGN_PASSWORD KORVANE_SIGN_PIN SIGN_SECRET

usage() {
    cat >&2 <<'USAGE'
usage: scripts/release.sh [SIGNING [--timestamp URL]] [--dist DIR]
SIGNING is one of:
  --sign CERT.pfx           a PKCS#12 file holding the certificate and its key; its password
                            comes from KORVANE_SIGN_PASSWORD or, when that is unset, the terminal
  --pkcs11-module MODULE --pkcs11-key 'pkcs11:...' --cert CERT.pem
                            a key in a token or HSM, reached through the PKCS#11 module (a .so)
                            by its RFC 7512 URI, with its certificate (and chain) in PEM; the PIN
                            comes from KORVANE_SIGN_PIN or, when that is unset, the terminal
  --timestamp URL   have the signature timestamped by this RFC 3161 server
  --timestamp-ca CA.pem
                    the CA of that server's certificate, where the system's CAs lack it
  --dist DIR        where the zip goes (dist/)
USAGE
    exit 2
}

fail() {
    echo "release: $*" >&2
    exit 1
}

# Paths on the command line are the caller's, from where the script was started.
absolute() {
    case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac
}

pfx="" module="" key="" cert="" timestamp="" timestamp_ca="" dist="$(cd "$(dirname "$0")/.." && pwd)/dist"
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
        --sign) pfx=$(absolute "$2") ;;
        --pkcs11-module) module=$(absolute "$2") ;;
        --pkcs11-key) key=$2 ;;
        --cert) cert=$(absolute "$2") ;;
        --timestamp) timestamp=$2 ;;
        --timestamp-ca) timestamp_ca=$(absolute "$2") ;;
        --dist) dist=$(absolute "$2") ;;
        *) usage ;;
    esac
    shift 2
done
SIGN_MODE=""
if [ -n "$pfx" ]; then
    [ -z "$module$key$cert" ] || fail "--sign takes a PKCS#12 file; --pkcs11-module, --pkcs11-key and --cert are the other way"
    SIGN_MODE=pkcs12
elif [ -n "$module$key$cert" ]; then
    [ -n "$module" ] && [ -n "$key" ] && [ -n "$cert" ] \
        || fail "signing through PKCS#11 needs --pkcs11-module, --pkcs11-key and --cert"
    case $key in pkcs11:*) ;; *) fail "--pkcs11-key takes a PKCS#11 URI (pkcs11:token=...;object=...)" ;; esac
    # The URI shows in the process list and in messages: never the PIN, which it could carry.
    case $key in *[?\;]pin-value=*) fail "--pkcs11-key carries the PIN (pin-value=): leave it out of the URI, and give the PIN in KORVANE_SIGN_PIN or on the terminal" ;; esac
    SIGN_MODE=pkcs11
fi
[ -z "$timestamp" ] || [ -n "$SIGN_MODE" ] || fail "--timestamp needs --sign or --pkcs11-key"
[ -z "$timestamp_ca" ] || [ -n "$timestamp" ] || fail "--timestamp-ca needs --timestamp"
if [ -n "$SIGN_MODE" ] && [ -z "$timestamp" ]; then
    echo "release: warning: no --timestamp: the signature stops being valid when the certificate expires" >&2
fi

cd "$(dirname "$0")/.."
. scripts/release/sign.sh

# A release names the commit it is built from, so it is built from nothing else.
git rev-parse --verify -q HEAD >/dev/null 2>&1 && [ "$(git rev-parse --show-toplevel)" = "$(pwd -P)" ] \
    || fail "$PWD is not a git checkout with a commit: a release is built from a commit"
if [ -n "$(git status --porcelain)" ]; then
    echo "release: the tree has changes that are not committed; commit or remove them first:" >&2
    git status --short | sed -n '1,10s/^/release:   /p' >&2
    exit 1
fi

# The version is the one the changelog's newest entry names, and nothing waits under
# [Unreleased]: else the zip would carry a version already released, with other bytes, or
# changes nobody has described to the administrators who deploy it.
version=$(sed -n 's/^project(KorvaneUninstall VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "CMakeLists.txt names no version"
[ -z "$(awk '/^## / { open = $0 == "## [Unreleased]" } open && /^[-*] /' CHANGELOG.md)" ] \
    || fail "CHANGELOG.md lists changes under [Unreleased]: move them into the entry of a new version, and give CMakeLists.txt that version"
newest=$(sed -n 's/^## \[\([0-9][0-9.]*\)\] - [0-9]\{4\}-[0-9][0-9]-[0-9][0-9]$/\1/p' CHANGELOG.md | sed -n 1p)
[ "$newest" = "$version" ] \
    || fail "the newest entry in CHANGELOG.md is ${newest:-missing}, not $version, the version in CMakeLists.txt: add its entry, ## [$version] - YYYY-MM-DD"

./scripts/bootstrap.sh

# Everything about signing is settled before the build: a wrong password should not cost one.
ask_secret() {
    [ -t 0 ] || fail "no $1 for $2: set $3, or run release.sh in a terminal"
    read -rs -p "${1^} for $2: " SIGN_SECRET
    echo >&2
}
case $SIGN_MODE in
    pkcs12)
        [ -f "$pfx" ] && [ -r "$pfx" ] || fail "cannot read the certificate file $pfx"
        SIGN_PFX=$pfx SIGN_SECRET=$secret_password
        [ -n "$password_given" ] || ask_secret password "$pfx" KORVANE_SIGN_PASSWORD
        signing_options
        signing_works || fail "$pfx does not open with that password, or is no PKCS#12 file"
        signed_with=("$(command -v osslsigncode)")
        ;;
    pkcs11)
        [ -f "$module" ] && [ -r "$module" ] || fail "cannot read the PKCS#11 module $module"
        [ -f "$cert" ] && [ -r "$cert" ] || fail "cannot read the certificate file $cert"
        SIGN_MODULE=$module SIGN_KEY=$key SIGN_CERT=$cert SIGN_SECRET=$secret_pin
        [ -n "$pin_given" ] || ask_secret PIN "$key" KORVANE_SIGN_PIN
        signing_options
        if ! signing_works; then
            case $SIGN_ERROR in
                *"PIN incorrect"*|*PIN_INCORRECT*) fail "the token refused the PIN for $key" ;;
                *"PIN locked"*|*PIN_LOCKED*) fail "the token's PIN for $key is locked" ;;
                *) fail "cannot sign with $key through $module: $(signing_error 2)" ;;
            esac
        fi
        signed_with=("$(command -v osslsigncode)" "$SIGN_ENGINE" "$module")
        ;;
esac
unset secret_password secret_pin
if [ -n "$timestamp" ] && ! signing_works "$timestamp"; then
    echo "release: $(signing_error 2)" >&2
    fail "cannot have the signature timestamped by $timestamp"
fi

# The end-to-end cases run the shipped 32-bit program under Wine: where it cannot run, no build
# is worth making.
probe=$(mktemp -d)
why=$(bash tests/e2e/probe-32bit.sh "$probe") || { rm -rf "$probe"; fail "the shipped 32-bit build cannot run here, so its end-to-end cases cannot: $why; nothing is built"; }
rm -rf "$probe"

commit=$(git rev-parse HEAD)
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

build="$PWD/build/release" kit_build="$PWD/build/release-win64" stage="" sessions=()
# What a release that stops leaves behind: nothing, and nothing still running. What runs beside
# it runs in a session of its own, which ends whole.
cleanup() {
    local session
    for session in ${sessions[@]+"${sessions[@]}"}; do kill -- -"$session" 2>/dev/null || true; done
    [ -z "$stage" ] || rm -rf "$stage"
    rm -f "$dist"/.KorvaneUninstall-*.zip.part
}
trap cleanup EXIT
rm -rf "$build" "$kit_build"
mkdir -p "$kit_build"
# The 64-bit executable of the conformance kit builds beside the program: of the 64-bit build
# only that, and what its case puts on the machine with it.
setsid bash -c 'cmake --preset win64 -B "$1" >/dev/null && cmake --build "$1" -j"$(nproc)" --target korvane_conformance_tests KorvaneUninstall KorvaneDriver' \
    kit-build "$kit_build" >"$kit_build/build.log" 2>&1 &
kit_builder=$!
sessions+=("$kit_builder")
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || { tail -n 20 "$build/build.log" >&2; fail "the build failed"; }
exe="$build/KorvaneUninstall.exe"
artefacts=$(python3 tests/e2e/check-artefacts.py "$exe" i386 "commit $commit") \
    || fail "the build is not what ships: $artefacts"
python=/usr/bin/python3
$python scripts/release/provenance.py notices "$version" /dev/null "KorvaneUninstall.exe=$build/KorvaneUninstall.map" \
    || fail "the notices do not cover the link"
unsigned=$(sha256sum <"$exe" | cut -d' ' -f1)

# Only bytes that passed every end-to-end case ship: the very file packed below, as the 32-bit
# process it is on 64-bit Windows. Each case that passes notes it in build/e2e-passed under the
# SHA-256 of the program it ran, holding the digest of the cases as they stood; a case with such
# a note for these very bytes and these very cases (the suite runs them on the tree its release
# test releases) does not run again. A case that could not run counts as one that failed.
cases=$(ctest --test-dir "$build" -L e2e -N | sed -n 's/^ *Test *#[0-9]*: \(e2e\.win32\.[^ ]*\)$/\1/p' | grep -vx 'e2e\.win32\.base-prefix')
[ -n "$cases" ] || fail "the build has no end-to-end cases"
passed="build/e2e-passed/$unsigned"
digest=$(bash tests/e2e/cases-digest.sh)
untested() {
    for case in $cases; do [ "$(cat "$passed/$case" 2>/dev/null)" = "$digest" ] || echo "$case"; done
}
due=$(untested)
if [ -z "$due" ]; then
    echo "release: every end-to-end case passed on $unsigned before ($passed)" >&2
    ctest --test-dir "$build" -R '^e2e\.win32\.base-prefix$' >"$build/e2e.log" 2>&1 || fail "no Wine prefix (build/release/e2e.log)"
else
    if [ "$due" = "$cases" ]; then
        echo "release: running the $(wc -w <<<"$cases") end-to-end cases on $unsigned" >&2
    else
        echo "release: running $(wc -w <<<"$due") of the $(wc -w <<<"$cases") end-to-end cases on $unsigned; the others passed on it before ($passed)" >&2
    fi
    if ! KORVANE_REQUIRE_WIN32=1 ctest --test-dir "$build" -R "^($(tr '\n' '|' <<<"$due" | sed 's/|$//; s/\./\\./g'))\$" \
        -j"$(nproc)" --output-on-failure >"$build/e2e.log" 2>&1; then
        # Each case that failed, with all it said, up to 40 lines. awk stops itself: a reader that
        # quit early would kill it with SIGPIPE, and pipefail would end this script unexplained.
        awk '/\*\*\*/ {shown = 1} /^ +Start |^ *[0-9]+\/[0-9]+ Test / && !/\*\*\*/ {shown = 0}
             shown && ++lines <= 40' "$build/e2e.log" >&2
        fail "an end-to-end case failed (build/release/e2e.log); nothing is packaged"
    fi
    [ -z "$(untested)" ] || fail "not every end-to-end case ran (build/release/e2e.log); nothing is packaged"
fi

# The conformance kit: the cases the simulated machine is held to, for real Windows machines,
# the 64-bit executable too; each proven under Wine to pass and to leave nothing behind. The
# 64-bit one runs its case here unsigned; signed, only the signed file runs it, below: the same
# code, run once.
wait "$kit_builder" || { tail -n 20 "$kit_build/build.log" >&2; fail "the 64-bit build failed"; }
# The case brings the prefix it starts from with it: two tests.
kit_case=platform-conformance kit_tests=2
[ -z "$SIGN_MODE" ] || kit_case=base-prefix kit_tests=1
{ ctest --test-dir "$kit_build" -R "^e2e\.win64\.$kit_case\$" --output-on-failure >"$kit_build/e2e.log" 2>&1 &&
    grep -q "^100% tests passed, 0 tests failed out of $kit_tests\$" "$kit_build/e2e.log"; } \
    || { tail -n 20 "$kit_build/e2e.log" >&2; fail "the 64-bit conformance kit fails under Wine; nothing is packaged"; }
for kit_exe in "$build=i386" "$kit_build=x86-64"; do
    artefacts=$(python3 tests/e2e/check-artefacts.py --kit \
        "${kit_exe%=*}/tests/e2e/fixtures/korvane_conformance_tests.exe" "${kit_exe##*=}") \
        || fail "the conformance kit is not what ships: $artefacts"
done
kit_maps=("KorvaneConformance-x86.exe=$build/korvane_conformance_tests.map"
          "KorvaneConformance-x64.exe=$kit_build/korvane_conformance_tests.map")
$python scripts/release/provenance.py notices "$version" /dev/null "${kit_maps[@]}" \
    || fail "the notices do not cover the conformance kit's link"

stage=$(mktemp -d)
mkdir "$stage/kit"

# Starts the end-to-end case $3 once more, for the build in $1 (win32 or win64, $2), on a copy
# of the prefix its tests began from; the assignments after the case say what it runs instead.
# The signed files run side by side, each in a machine of its own; reruns_pass waits for them.
reruns=()
rerun_case() {
    local build_dir=$1 build_os=$2 case=$3 work
    shift 3
    work=$(mktemp -d "$stage/e2e.XXXXXX")
    ln -s "$build_dir/e2e-work/base-prefix" "$work/base-prefix"
    cp "$build_dir/e2e-work/wine-command" "$work/"
    setsid env KORVANE_REQUIRE_WIN32=1 KORVANE_BUILD="$build_os" KORVANE_EXE="$build_dir/KorvaneUninstall.exe" \
        E2E_FIXTURES="$build_dir/tests/e2e/fixtures" E2E_WORK="$work" "$@" \
        bash "tests/e2e/cases/$case.sh" >"$build_dir/signed-$case.log" 2>&1 &
    reruns+=("$!|$build_os|$case|$build_dir/signed-$case.log") sessions+=("$!")
}

reruns_pass() {
    local rerun pid build_os case log failed=""
    for rerun in ${reruns[@]+"${reruns[@]}"}; do
        IFS='|' read -r pid build_os case log <<<"$rerun"
        wait "$pid" && continue
        cat "$log" >&2
        failed+="${failed:+, }the signed $build_os build fails $case"
    done
    [ -z "$failed" ] || fail "$failed under Wine; nothing is packaged"
}

# Signs $1 into $2, which ships as $3; a signature that does not verify stops the release.
sign_verified() {
    sign_file "$1" "$2" "$timestamp" || fail "signing $3 failed: $(signing_error 3)"
    signature_holds "$2" "$timestamp" || fail "the signature of $3 does not verify: $(verify_error)"
}

shipped=$exe
if [ -n "$SIGN_MODE" ]; then
    shipped="$stage/KorvaneUninstall.exe"
    signing_identity "$stage" "$timestamp_ca"
    sign_verified "$exe" "$shipped" KorvaneUninstall.exe
    # The signed file runs a whole removal once more, with the same log.
    rerun_case "$build" win32 full-removal KORVANE_EXE="$shipped"
    unsigned_listed=$unsigned
fi

# The kit's programs run elevated too, on machines that may run only signed code: signed like
# the program, each runs its checks under Wine once more, and the kit's checksums name the
# unsigned builds too, what anyone building the commit gets.
kit_unsigned=()
ship_kit() {
    local arch=$1 build_dir=$2 build_os=$3
    local kit_exe="$stage/kit/KorvaneConformance-$arch.exe"
    local built_kit="$build_dir/tests/e2e/fixtures/korvane_conformance_tests.exe"
    if [ -z "$SIGN_MODE" ]; then
        cp "$built_kit" "$kit_exe"
        return
    fi
    sign_verified "$built_kit" "$kit_exe" "KorvaneConformance-$arch.exe"
    rerun_case "$build_dir" "$build_os" platform-conformance KORVANE_CONFORMANCE_EXE="$kit_exe"
    kit_unsigned+=(--unsigned "KorvaneConformance-$arch-unsigned.exe=$(sha256sum <"$built_kit" | cut -d' ' -f1)")
}
ship_kit x86 "$build" win32
ship_kit x64 "$kit_build" win64
reruns_pass
if [ -n "$SIGN_MODE" ]; then
    echo "release: the signed program passes full-removal" >&2
    echo "release: the signed conformance kit passes under Wine" >&2
fi

# The deployment kit names the release; a signed release signs its PowerShell scripts like the
# program, for machines that run only signed scripts. A .cmd file cannot carry a signature.
scripts/release/deploy-kit.sh "$version" "$stage/deploy"
if [ -n "$SIGN_MODE" ]; then
    for script in korvane-deploy.ps1 korvane-detect.ps1; do
        sign_verified "$stage/deploy/$script" "$stage/$script" "$script"
        mv "$stage/$script" "$stage/deploy/$script"
    done
fi

[ -z "$SIGN_MODE" ] || echo "release: every signature it made verifies" >&2

zip="KorvaneUninstall-$version.zip"
scripts/release/package.sh "$build" "$shipped" "${unsigned_listed:-}" "$version" "$commit" "$epoch" \
    "$stage/$zip" "$stage/deploy" ${signed_with[@]+"${signed_with[@]}"}
kit="KorvaneUninstall-conformance-$version.zip"
sed "s/@VERSION@/$version/; s/\$/\r/" res/ConformanceKit.txt >"$stage/kit/README.txt"
# Binaries too carry the licences of what is linked into them, GoogleTest's among them.
sed 's/$/\r/' LICENSE >"$stage/kit/LICENSE.txt"
$python scripts/release/provenance.py notices "$version" "$stage/kit/THIRD-PARTY-NOTICES.txt" "${kit_maps[@]}"
$python scripts/release/provenance.py sbom --name KorvaneUninstall-conformance --version "$version" --commit "$commit" \
    --epoch "$epoch" --out "$stage/kit/KorvaneConformance.spdx.json" \
    --program "$stage/kit/KorvaneConformance-x86.exe" "$build" "${kit_maps[0]#*=}" \
    --program "$stage/kit/KorvaneConformance-x64.exe" "$kit_build" "${kit_maps[1]#*=}"
kit_names=(KorvaneConformance-x86.exe KorvaneConformance-x64.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt KorvaneConformance.spdx.json)
$python scripts/release/pack.py "$stage/$kit" "$epoch" "${kit_unsigned[@]}" "${kit_names[@]/#/$stage/kit/}"
# Only whole zips ever appear under their names.
mkdir -p "$dist"
for name in "$zip" "$kit"; do
    cp "$stage/$name" "$dist/.$name.part"
done
for name in "$zip" "$kit"; do
    mv -f "$dist/.$name.part" "$dist/$name"
    echo "$dist/$name"
done
# The zips' own checksums, for the download page beside them; then what the program's zip holds.
(cd "$dist" && sha256sum "$zip" "$kit")
python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read("SHA256SUMS").decode(), end="")' "$dist/$zip"
