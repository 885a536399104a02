#!/usr/bin/env bash
# Where the kernel cannot run 32-bit programs (built or booted without IA-32 emulation), has
# QEMU's user-mode emulator run them, through binfmt_misc, so that the shipped 32-bit program
# still runs under Wine as it does on 64-bit Windows. Does nothing where the kernel runs them
# itself, or where the emulator cannot be set up (then the 32-bit cases say why they cannot run).
# Run by bootstrap.sh, with $sudo and the Wine packages installed.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
sudo=${sudo-}
readonly BINFMT=/proc/sys/fs/binfmt_misc
# PAGE_FAULT_TRAP: where the cases look for the library built below.
. "$source/tests/e2e/wine.sh"
. "$source/scripts/apt.sh"

if [ ! -e "$BINFMT/qemu-i386" ]; then
    scratch=$(mktemp -d)
    reason=$(bash "$source/tests/e2e/probe-32bit.sh" "$scratch") && status=0 || status=$?
    rm -rf "$scratch"
    case $status:$reason in
        0:*) exit 0 ;;
        *"kernel cannot run 32-bit programs"*) ;;
        *) exit 0 ;;
    esac
    echo "Setting up QEMU to run 32-bit programs: $reason"
    # QEMU 7.2 takes about a minute to start each 32-bit Wine process, QEMU 10 a few seconds.
    version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    if [ -z "$version" ] || dpkg --compare-versions "$version" lt 1:8.1; then
        target=()
        . /etc/os-release
        if [ "${VERSION_CODENAME:-}" = bookworm ]; then
            # Backports, from the mirror the machine already uses for the release itself.
            uri=$(awk -v suite=bookworm '/^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) found = uri } END { print found }' \
                /etc/apt/sources.list.d/debian.sources 2>/dev/null)
            [ -n "$uri" ] || { echo "no Debian mirror found for bookworm-backports" >&2; exit 0; }
            printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
                "$uri" | $sudo tee /etc/apt/sources.list.d/korvane-backports.sources >/dev/null
            # Only that source: the others were updated by bootstrap.sh.
            apt_update -o Dir::Etc::SourceParts=- -o APT::Get::List-Cleanup=0 \
                -o Dir::Etc::SourceList=/etc/apt/sources.list.d/korvane-backports.sources
            target=(-t bookworm-backports)
        fi
        apt_install "${target[@]}" qemu-user-static
    fi
    mountpoint -q "$BINFMT" || $sudo mount -t binfmt_misc binfmt_misc "$BINFMT" || exit 0
    # The i386 ELF magic and mask of QEMU's own binfmt configuration; F opens the emulator now,
    # so that it is found inside any root or namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | $sudo tee "$BINFMT/register" >/dev/null || exit 0
fi

# The emulator's page faults, as Wine needs them (page-fault-trap.c says why).
if [ ! -f "$PAGE_FAULT_TRAP" ] || [ "$source/tests/e2e/page-fault-trap.c" -nt "$PAGE_FAULT_TRAP" ]; then
    installed gcc-multilib || apt_install gcc-multilib
    $sudo mkdir -p "$(dirname "$PAGE_FAULT_TRAP")"
    built=$(mktemp)
    gcc -m32 -O2 -shared -fPIC -Wall -Wextra -Werror -o "$built" "$source/tests/e2e/page-fault-trap.c" -ldl
    $sudo install -m 0644 "$built" "$PAGE_FAULT_TRAP"
    rm -f "$built"
fi
