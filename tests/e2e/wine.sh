# shellcheck shell=bash
# How Wine is started on this machine, and the base prefix the cases, the demo and the
# benchmark copy. Sourced.

# Sets WINE, the command that starts a Windows program, and WHY_NOT_32BIT, empty when 32-bit
# programs run here. Where they cannot, Wine's launcher would still try its 32-bit loader
# first, so the 64-bit loader is started directly; so too where 32-bit code runs only in an
# emulator, so that only 32-bit programs pay for it. Fails when 32-bit programs cannot run.
choose_wine() {
    if WHY_NOT_32BIT=$(bash "$(dirname "${BASH_SOURCE[0]}")/probe-32bit.sh" "$1"); then
        if emulated_32bit; then
            use_wine /usr/lib/wine/wine64
        else
            use_wine wine
        fi
        return 0
    fi
    use_wine /usr/lib/wine/wine64
    return 1
}

use_wine() {
    WINE=$1
    if [ "$WINE" != wine ]; then
        export WINELOADER=$WINE
    fi
    # In the emulator, with the CPU's page faults (scripts/bootstrap-32bit.sh).
    if emulated_32bit && [ -f "$PAGE_FAULT_TRAP" ]; then
        export QEMU_SET_ENV="LD_PRELOAD=$PAGE_FAULT_TRAP"
    fi
}

PAGE_FAULT_TRAP=/usr/local/lib/korvane/page-fault-trap.so

# Whether 32-bit programs run here only in QEMU's user-mode emulator.
emulated_32bit() {
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null
}

# The installed Wine, down to the package versions of both architectures.
installed_wine() {
    "$WINE" --version
    dpkg-query -W -f '${Package}:${Architecture} ${Version}\n' 'wine*' 'libwine*' 2>/dev/null | sort
}

# Makes a new prefix at $1 unless the one there was made by the Wine installed now, on a machine
# that ran 32-bit programs as this one does: without them, Wine leaves out the 32-bit half.
make_base_prefix() {
    local prefix=$1 stamp="$1/.korvane-base" wine
    wine="$(installed_wine)
32-bit programs: ${WHY_NOT_32BIT:-they run}"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wine" ]; then
        return 0
    fi
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    (
        export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
        "$WINE" wineboot.exe -i >/dev/null 2>&1
        wineserver -w
    )
    printf '%s\n' "$wine" >"$stamp"
}
