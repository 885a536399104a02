#!/usr/bin/env bash
# Installs what building, testing and the demo need, where it is missing. Safe to run again.
set -euo pipefail

packages=(
    cmake make g++ binutils
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine64 wixl
    clang libclang-rt-14-dev
    osslsigncode openssl
    reuse shellcheck python3-jsonschema python3-debian python3-license-expression softhsm2 libengine-pkcs11-openssl
)
command -v python3 >/dev/null 2>&1 || packages+=(python3)
# The shipped program is 32-bit: Wine runs it in WoW64 with its 32-bit half.
wine32=wine32:i386

. "$(dirname "$0")/apt.sh"
mapfile -t missing < <(not_installed "${packages[@]}" "$wine32")

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export sudo
if [ ${#missing[@]} -gt 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    echo "Installing: ${missing[*]}"
    apt_update
    apt_install "${missing[@]}"
fi
# Without it, the 32-bit cases say why they cannot run; everything else can.
"$(dirname "$0")/bootstrap-32bit.sh" || echo "warning: 32-bit programs cannot be emulated here" >&2
