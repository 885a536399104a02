#!/usr/bin/env bash
# Installs what building, testing and the demo need, where it is missing. Safe to run again.
set -euo pipefail

packages=(
    cmake make g++ binutils
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine64 wixl
    clang libclang-rt-14-dev
)
command -v python3 >/dev/null 2>&1 || packages+=(python3)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
