# shellcheck shell=bash disable=SC2034  # the scripts that source this use its variables
# Sourced by every end-to-end case. A case runs the real KorvaneUninstall.exe of one build
# under Wine in a throwaway prefix copied from the base one (the 32-bit build as a 32-bit
# process in WoW64), sets the machine up with Wine's own tools in that build's registry view
# and compares what the program prints byte for byte. Both builds print the same bytes.
#
# From CTest: KORVANE_BUILD (win32 or win64), KORVANE_EXE, E2E_FIXTURES (that build's
# fixtures), E2E_WORK (scratch space, with what the base-prefix step found out).

set -euo pipefail

: "${KORVANE_BUILD:?}" "${KORVANE_EXE:?}" "${E2E_FIXTURES:?}" "${E2E_WORK:?}"
# Where the shipped build must be proven (CI, a release), a case that cannot run has failed.
if [ -f "$E2E_WORK/skip-reason" ]; then
    if [ "${KORVANE_REQUIRE_WIN32:-0}" = 1 ]; then
        echo "FAIL: KORVANE_REQUIRE_WIN32=1, but $(cat "$E2E_WORK/skip-reason")" >&2
        exit 1
    fi
    echo "SKIP: $(cat "$E2E_WORK/skip-reason")"
    exit 77
fi
export WINEDEBUG=-all
# No dialogs offering to download Wine's Mono or Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=}"

. "$(dirname "${BASH_SOURCE[0]}")/wine.sh"
. "$(dirname "${BASH_SOURCE[0]}")/toolkit.sh"
use_wine "$(cat "$E2E_WORK/wine-command")"
use_build "$KORVANE_BUILD"

CASE_NAME=$(basename "$0" .sh)
CASE_DIR="$E2E_WORK/cases/$CASE_NAME"
# Wine's answer to the planting cases: search as Windows does, so a bare-name load would
# really take a planted copy.
readonly WINDOWS_SEARCH_ORDER='msi,occache,version=n,b;rundll32.exe=n,b'

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

end_machine() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
}

# A case that passed notes it under the SHA-256 of the program it ran, in E2E_RECORDS (from
# CTest), where a release of those very bytes looks before it runs the cases again; the note
# holds the digest of the cases it passed as they stood.
PROGRAM_SHA256=$(sha256sum <"$KORVANE_EXE" | cut -d' ' -f1)
CASES_SHA256=$(bash "$(dirname "${BASH_SOURCE[0]}")/cases-digest.sh")
cleanup() {
    local status=$?
    end_machine
    rm -rf "$CASE_DIR"
    if [ "$status" -eq 0 ] && [ -n "${E2E_RECORDS:-}" ]; then
        mkdir -p "$E2E_RECORDS/$PROGRAM_SHA256"
        echo "$CASES_SHA256" >"$E2E_RECORDS/$PROGRAM_SHA256/e2e.$KORVANE_BUILD.$CASE_NAME"
    fi
}
trap cleanup EXIT

# Runs the command every tenth of a second until it succeeds, for at most $1 seconds; fails
# when it never did.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

# A fresh copy of the base prefix with the program in C:\Downloads, where administrators
# usually run it from; the current directory is C:\work.
new_machine() {
    end_machine
    rm -rf "$CASE_DIR"
    mkdir -p "$CASE_DIR"
    mkdir "$CASE_DIR/prefix"
    cp -a "$E2E_WORK/base-prefix/." "$CASE_DIR/prefix/"
    export WINEPREFIX="$CASE_DIR/prefix"
    DRIVE_C="$WINEPREFIX/drive_c"
    WINDIR="$DRIVE_C/windows"
    mkdir -p "$DRIVE_C/Downloads" "$DRIVE_C/work"
    cp "$KORVANE_EXE" "$DRIVE_C/Downloads/KorvaneUninstall.exe"
    cp "$E2E_FIXTURES/KorvaneDriver.exe" "$DRIVE_C/Downloads/KorvaneDriver.exe"
    PROGRAM='C:\Downloads\KorvaneUninstall.exe'
    DRIVER='C:\Downloads\KorvaneDriver.exe'
    say_what_runs "$DRIVE_C/Downloads/KorvaneUninstall.exe"
}

# Names the bytes a case runs, so that its output says which build it held to the case.
say_what_runs() {
    echo "runs: $(sha256sum <"$1" | cut -d' ' -f1)  ${1##*/}"
}

wine_in_work() {
    (cd "$DRIVE_C/work" && "$WINE" "$@")
}

# reg add with Wine's own reg.exe in the build's view; the arguments after the key as reg
# takes them.
reg_add() {
    wine_reg add "$@" "$REG_VIEW" /f || fail "reg add $*: $REG_ANSWER"
}

# A Linux path as Windows programs in the prefix see it, through drive Z:.
windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}

install_toolkit_msi() {
    wine_in_work 'C:\windows\system32\msiexec.exe' /i "$(windows_path "$E2E_FIXTURES/KorvaneToolkit.msi")" /qn \
        || fail "msiexec could not install the toolkit package"
    [ -f "$DRIVE_C/Program Files/Korvane/readme.txt" ] || fail "the package installed nothing"
}

# Runs a Windows program from C:\work with a standard input that stays open and silent: a
# pause would wait forever here, so the run has to end by itself. Output in $CASE_DIR/stdout.
run_windows_program() {
    local fifo="$CASE_DIR/stdin.fifo" holder rc=0
    rm -f "$fifo"
    mkfifo "$fifo"
    sleep 600 >"$fifo" &
    holder=$!
    (cd "$DRIVE_C/work" && timeout 120 "$WINE" "$@") <"$fifo" >"$CASE_DIR/stdout" \
        2>"$CASE_DIR/stderr" || rc=$?
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    [ "$rc" -ne 124 ] || fail "[$*] did not end by itself (a pause?)"
    return "$rc"
}

run_program() {
    run_windows_program "$PROGRAM" "$@"
}

# An INF sweep that finds none of the toolkit's INF files; the argument is bDeleteOnly.
inf_sweep_found_nothing() {
    local name
    echo "[Info] Checking ManualRunInfUninstall(bDeleteOnly: $1)..."
    for name in $TOOLKIT_INF_FILES; do
        echo "Looking for: [$name] - not found. OK"
    done
}

# An INF sweep that finds every one of them; in delete-only mode (the argument TRUE) it runs no
# section in between.
inf_sweep_found_all() {
    local name
    echo "[Info] Checking ManualRunInfUninstall(bDeleteOnly: $1)..."
    for name in $TOOLKIT_INF_FILES; do
        echo "Looking for: [$name] it exists"
    done
}

# The manual cleanup of a unit that install_distribution_unit registered: its INF section run,
# its INF and OSD files deleted, its tree removed. The arguments are the unit's CLSID and the
# names of its INF and OSD files.
unit_cleaned_up_by_hand() {
    local inf="C:\\windows\\Downloaded Program Files\\$2"
    local osd="C:\\windows\\Downloaded Program Files\\$3"
    printf 'Started DeleteDistributionUnit: %s\n' "$1"
    printf '\tdistribution has download information registered\n'
    printf '\tINF file: [%s]\n' "$inf"
    printf '[Info] Execute command: [%s] returned 0\n' \
        "rundll32.exe advpack.dll,LaunchINFSection $inf,DefaultUninstall,1"
    printf '\t(delete) OSD file: [%s]\n' "$osd"
    printf '\tGoing to delete the reg key ...\n'
    printf 'Completed DeleteDistributionUnit\n'
}

# The end of a whole removal once the toolkit's libraries are dealt with: each of its programs
# deleted, and nothing of it left in Downloaded Program Files.
removal_end() {
    local name
    for name in $TOOLKIT_PROGRAMS; do
        printf 'Looking for: [C:\\windows\\syswow64\\%s.exe] - exists.  deleted ok\n' "$name"
    done
    cat <<'LOG'
[Info] DeleteKorvaneOSDFiles...
Looking for: [C:\windows\Downloaded Program Files\qlvn.osd] - not found. OK
Looking for: [C:\windows\Downloaded Program Files\qlvn2.inf] - not found. OK
Leaving UninstallKorvane
LOG
}

# What the program logs on a machine where install_toolkit and install_unrelated put
# everything, with Wine's browser engine and no control cache.
full_removal_log() {
    cat <<'LOG'
Velmor Korvane Uninstall utility.
Started UninstallKorvane
IE Version is: 600
Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
	It is registered
Started DeleteInstalledUnit()
	 **FAILED** to load OCCACHE.DLL
LOG
    unit_cleaned_up_by_hand "$WARDEN_CLSID" vlwarden.inf vlwarden.osd
    inf_sweep_found_all TRUE
    cat <<'LOG'
Completed uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
Uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
	It is registered
Started DeleteInstalledUnit()
	 **FAILED** to load OCCACHE.DLL
LOG
    unit_cleaned_up_by_hand "$KORVAN_CLSID" qlvn2.inf qlvn.osd
    inf_sweep_found_nothing TRUE
    cat <<'LOG'
Completed uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
Final check and removal ...
LOG
    inf_sweep_found_nothing FALSE
    cat <<'LOG'
[Info] DeleteKorvaneFiles...
Looking for: [C:\windows\syswow64\vlkorvan.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlwarden.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlplotra.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vltemplo.dll] - exists.  asking it to unregister deleted ok
LOG
    removal_end
}

# What a machine without the toolkit logs after the banner, with Wine's directories and its
# browser engine at 6.0.2800.1106.
clean_machine_log() {
    cat <<'LOG'
Started UninstallKorvane
IE Version is: 600
Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
	It wasnt registered
Completed uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
Uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
	It wasnt registered
Completed uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
Final check and removal ...
[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...
Looking for: [qlvn2.inf] - not found. OK
Looking for: [qlvn.inf] - not found. OK
Looking for: [Korvane.inf] - not found. OK
Looking for: [warden.inf] - not found. OK
Looking for: [tm.inf] - not found. OK
Looking for: [plotra.inf] - not found. OK
[Info] DeleteKorvaneFiles...
Looking for: [C:\windows\syswow64\vlkorvan.dll] - not found. OK
Looking for: [C:\windows\syswow64\vlwarden.dll] - not found. OK
Looking for: [C:\windows\syswow64\vlplotra.dll] - not found. OK
Looking for: [C:\windows\syswow64\vltemplo.dll] - not found. OK
Looking for: [C:\windows\syswow64\vlpluser.exe] - not found. OK
Looking for: [C:\windows\syswow64\vlplhost.exe] - not found. OK
Looking for: [C:\windows\syswow64\vlbroker.exe] - not found. OK
Looking for: [C:\windows\syswow64\vlkvuser.exe] - not found. OK
Looking for: [C:\windows\syswow64\vlkvhost.exe] - not found. OK
[Info] DeleteKorvaneOSDFiles...
Looking for: [C:\windows\Downloaded Program Files\qlvn.osd] - not found. OK
Looking for: [C:\windows\Downloaded Program Files\qlvn2.inf] - not found. OK
Leaving UninstallKorvane
LOG
}

expect_exit_zero() {
    local rc=0
    run_program "$@" || rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc with [$*]"
}

# One operation through the driver; its log and result in $CASE_DIR/stdout.
run_driver() {
    local rc=0
    run_windows_program "$DRIVER" "$@" || rc=$?
    [ "$rc" -eq 0 ] || fail "the driver failed ($rc) with [$*]"
}

expect_key_gone() {
    ! reg_key_exists "$1" || fail "$1 is still there"
}

expect_key_kept() {
    reg_key_exists "$1" || fail "$1 is gone"
}

# Installs one of the OCCACHE.DLL stand-ins as the system's control cache.
install_control_cache() {
    cp "$E2E_FIXTURES/occache-$1/OCCACHE.dll" "$WINDIR/$PROCESS_SYSTEM32/OCCACHE.DLL"
}

expect_control_cache_calls() {
    local expected actual
    expected=$(cat)
    actual=$(tr -d '\r' <"$DRIVE_C/occache-calls.log" 2>/dev/null || true)
    [ "$actual" = "$expected" ] || fail "control cache calls: [$actual], expected [$expected]"
}

expect_unrelated_unit_kept() {
    expect_key_kept "$UNITS_KEY\{00000000-1111-2222-3333-444444444444}\DownloadInformation"
    expect_file_kept "$(downloads_directory)/other.inf"
    expect_file_kept "$(downloads_directory)/other.osd"
    expect_key_kept "$COMPONENTS_KEY\OtherUnit"
}

# Nothing of a full installation is left: units, components, classes, files.
expect_toolkit_gone() {
    local name
    expect_key_gone "$UNITS_KEY\\$WARDEN_CLSID"
    expect_key_gone "$UNITS_KEY\\$KORVAN_CLSID"
    for name in WardenUnit warden KorvanUnit qlvn2 qlvn Korvane tm plotra; do
        expect_key_gone "$COMPONENTS_KEY\\$name"
        expect_file_gone "$WINDIR/Korvane/$name.marker"
    done
    for name in $TOOLKIT_INF_FILES; do
        expect_file_gone "$(inf_directory)/$name"
    done
    for name in vlwarden.inf vlwarden.osd qlvn2.inf qlvn.osd; do
        expect_file_gone "$(downloads_directory)/$name"
    done
    for name in $TOOLKIT_LIBRARIES; do
        expect_key_gone "HKLM\\Software\\Classes\\CLSID\\$(library_clsid "$name")"
        expect_file_gone "$WINDIR/syswow64/$name.dll"
    done
    for name in $TOOLKIT_PROGRAMS; do
        expect_file_gone "$WINDIR/syswow64/$name.exe"
    done
}

expect_unrelated_kept() {
    expect_unrelated_unit_kept
    expect_file_kept "$(inf_directory)/other.inf"
    expect_file_kept "$WINDIR/syswow64/notkorvane.dll"
    expect_key_kept "HKLM\\Software\\Classes\\CLSID\\$(library_clsid notkorvane)"
}

# What the machine holds: registry contents below Software, every folder, and every file with its
# size. The 64-bit view holds the 32-bit one too, under Wow6432Node. The registry is read from the
# files of the prefix, which Wine's server writes when it ends, less its volatile keys: the
# session ends here, and the next program starts another. reg export would ask the server for each
# of some 24,000 keys, 15 s a time here; these files take milliseconds. A key is named as reg
# names it, without the time Wine notes it was last written. Left out are the keys where Wine's
# font setup notes the fonts it found, which it fills in some runs and not others, depending on
# which process sets fonts up first (the program touches no font key), and the one Wine's debugger
# makes whenever it starts. The debugger's appeared once, under load, after a process had been
# ended from outside; whether the program itself failed, its exit code and log say. So is
# NetworkCards, where Wine lists the host's network adapters in keys it never writes out: the base
# prefix holds it empty, and once a session has filled it in, the files lack it.
machine_state() {
    local hive
    end_machine
    for hive in system=HKEY_LOCAL_MACHINE user=HKEY_CURRENT_USER; do
        awk -v root="${hive#*=}" '
            function wine_own(key) {
                return key ~ /\\CurrentVersion\\(Fonts|NetworkCards(\\.*)?)\]$|\\Software\\Wine\\(Fonts|WineDbg)(\\.*)?\]$/
            }
            /^\[/ {
                key = $0
                sub(/\] [0-9]+$/, "]", key)
                gsub(/\\\\/, "\\", key)
                key = "[" root "\\" substr(key, 2)
                shown = 0
                if (key !~ /^\[[A-Z_]+\\Software[\\\]]/) next
                # A key with subkeys and no values has no section of its own there.
                n = split(substr(key, 2, length(key) - 2), name, "\\")
                path = "[" name[1]
                for (j = 2; j < n; j++) {
                    path = path "\\" name[j]
                    parent = path "]"
                    if (!(parent in seen) && !wine_own(parent)) { seen[parent]; print parent; print "" }
                }
                if (shown = !wine_own(key)) { seen[key]; print key }
                next
            }
            shown && !/^#time=/' "$WINEPREFIX/${hive%=*}.reg"
    done
    # A folder by its name alone: ext4 never gives back the block a folder grew by for a file
    # since deleted, so its size says nothing about what the machine holds.
    (cd "$DRIVE_C" && find . -type d -printf '%p/\n' -o -printf '%p %s\n' | sort)
}

# The machine holds what $1, an earlier machine_state, says; else the case fails with $2 and
# the first lines that differ.
expect_machine_state() {
    local now
    now=$(machine_state)
    [ "$now" = "$1" ] || fail "$2:
$(diff <(echo "$1") <(echo "$now") | head -n 20)"
}

expect_file_gone() {
    [ ! -e "$1" ] || fail "${1#"$DRIVE_C"/} is still there"
}

expect_file_kept() {
    [ -e "$1" ] || fail "${1#"$DRIVE_C"/} is gone"
}

# The program's standard output must be these bytes, given with LF line ends: a Windows
# program writing through the C runtime in text mode ends its lines with CRLF.
expect_stdout_bytes() {
    local expected="$CASE_DIR/expected"
    printf '%s' "$1" | sed -z 's/\n/\r\n/g' >"$expected"
    if ! cmp -s "$expected" "$CASE_DIR/stdout"; then
        echo "--- expected" >&2
        cat -A "$expected" >&2
        echo "--- actual" >&2
        cat -A "$CASE_DIR/stdout" >&2
        # Where Wine could not start a process, it says why there, not in the log.
        if [ -s "$CASE_DIR/stderr" ]; then
            echo "--- standard error" >&2
            cat -A "$CASE_DIR/stderr" >&2
        fi
        fail "standard output differs"
    fi
}

# The same, with the expected text read from standard input (a here-document).
expect_stdout() {
    local text
    # The x keeps the here-document's last newline through the command substitution.
    text="$(cat; printf x)"
    expect_stdout_bytes "${text%x}"
}
