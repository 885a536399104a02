#!/usr/bin/env bash
# Builds: win32
# The deployment batch file from the unpacked release zip in C:\kit, started from another folder
# by a 64-bit or a 32-bit cmd.exe (both must find the same folder and registry view), on machines
# in each state its exit code tells apart. Only the deployed build.
. "$(dirname "$0")/../lib.sh"
sources="$(dirname "$0")/../../.."
version=$(sed -n 's/^project(KorvaneUninstall VERSION \([0-9.]*\) .*/\1/p' "$sources/CMakeLists.txt")
readonly FOLDER="Program Files/KorvaneUninstall"

# The release unpacked in C:\kit, and a clock the batch file can read: Wine has no makecab.exe
# and no bias, here two hours east of UTC on a new year's night.
new_kit_machine() {
    new_machine
    "$sources/scripts/release/package.sh" "$(dirname "$KORVANE_EXE")" "$KORVANE_EXE" "" "$version" \
        e2e 1796700000 "$CASE_DIR/release.zip" || fail "the release zip could not be made"
    python3 -m zipfile -e "$CASE_DIR/release.zip" "$DRIVE_C/kit"
    tee "$WINDIR"/{system32,syswow64}/makecab.exe <"$E2E_FIXTURES/StandInMakecab.exe" >/dev/null
    reg_add 'HKLM\SYSTEM\CurrentControlSet\Control\TimeZoneInformation' /v ActiveTimeBias /t REG_DWORD /d 0xffffff88
}

# Runs C:\kit\korvane-deploy.cmd in the cmd.exe of $1 bits; its exit code in rc.
deploy() {
    local wine=$WINE cmd='C:\windows\syswow64\cmd.exe'
    [ "$1" = 32 ] || wine=/usr/lib/wine/wine64 cmd='C:\windows\system32\cmd.exe'
    rc=0
    WINE=$wine run_windows_program "$cmd" /c 'C:\kit\korvane-deploy.cmd' || rc=$?
}

# Exit code $1, and the log, or its last $2 lines, into $CASE_DIR/stdout.
expect_deploy() {
    [ "$rc" -eq "$1" ] || fail "exit code $rc, expected $1; cmd said: $(cat "$CASE_DIR/stdout" "$CASE_DIR/stderr")"
    tail -n "${2:-+1}" "$DRIVE_C/$FOLDER/KorvaneUninstall.log" >"$CASE_DIR/stdout" || fail "no log"
}

# The machine outside the deployment folder, less the files where Wine's cmd.exe keeps "for /f" output.
outside_kit() {
    machine_state | grep -vF "./$FOLDER" | grep -vE '^\./users/[^/]+/Temp/CMD[0-9a-f]+\.tmp '
}

new_kit_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
computer=$(wine_in_work 'C:\windows\system32\cmd.exe' /c 'echo %COMPUTERNAME%' | tr -d '\r')
header="Run: 2026-12-31 23:30:05 UTC, computer $computer, KorvaneUninstall $version, korvane-deploy.cmd"
deploy 64
expect_deploy 0
removed=$(printf '%s\n' "$header"; full_removal_log; echo "Result: 0 (nothing of the toolkit remains)")
expect_stdout_bytes "$removed"$'\n'
expect_toolkit_gone
expect_unrelated_kept

# Nothing left to remove: nothing is copied or run, and the first run's block stays.
cp "$E2E_FIXTURES/PlantedProgram.exe" "$DRIVE_C/kit/KorvaneUninstall.exe"
deploy 32 && expect_deploy 0 && expect_file_gone "$DRIVE_C/planted.log"
expect_stdout <<LOG
$removed
$header
Nothing of the toolkit is on this machine: KorvaneUninstall.exe was not run.
Result: 0 (nothing of the toolkit remains)
LOG

new_kit_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
install_toolkit_msi
before=$(outside_kit)
deploy 32
expect_deploy 2
expect_stdout <<LOG
$header
Velmor Korvane Uninstall utility.
Korvane has been installed using Windows Installer, please use Add/Remove Programs to remove Korvane
Result: 2 (the program refused: a Windows Installer package brought the toolkit; nothing was removed)
LOG
[ "$(outside_kit)" = "$before" ] || fail "the machine changed: $(diff <(echo "$before") <(outside_kit) | head)"

# An INF engine that fails stops the sweep at qlvn.inf, which stays, and tm.inf after it.
new_kit_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"
cp "$E2E_FIXTURES/StandInRundll32.exe" "$WINDIR/$PROCESS_SYSTEM32/rundll32.exe"
install_toolkit_inf qlvn.inf
install_toolkit_inf tm.inf
deploy 32
expect_deploy 3 3
expect_stdout <<'LOG'
Remains: C:\windows\Inf\qlvn.inf
Remains: C:\windows\Inf\tm.inf
Result: 3 (the program ran and something of the toolkit remains)
LOG

# A copy that fails: the older program in the folder (a stand-in leaving a marker) must not run.
rm "$DRIVE_C/kit/KorvaneUninstall.exe"
cp "$E2E_FIXTURES/PlantedProgram.exe" "$DRIVE_C/$FOLDER/KorvaneUninstall.exe"
deploy 32
reason='KorvaneUninstall.exe could not be copied from C:\kit\ into C:\Program Files\KorvaneUninstall'
tr -d '\r' <"$CASE_DIR/stderr" | grep -qxF "korvane-deploy.cmd: $reason: nothing was run." || fail "$(cat "$CASE_DIR/stderr")"
expect_deploy 1 2
expect_file_gone "$DRIVE_C/planted.log"
expect_stdout <<LOG
Stopped: $reason
Result: 1 (stopped before the program ran)
LOG

# The program back, from a 64-bit cmd.exe: the INF files go, and a unit key without download
# information, which only the missing control cache could remove, stays in the 32-bit view.
cp "$KORVANE_EXE" "$DRIVE_C/kit/KorvaneUninstall.exe"
reg_add "$UNITS_KEY\\$WARDEN_CLSID" /ve /d 'Velmor Korvane WardenUnit'
deploy 64
expect_deploy 3 2
expect_stdout <<'LOG'
Remains: HKLM\SOFTWARE\Microsoft\Code Store Database\Distribution Units\{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D} (32-bit registry view)
Result: 3 (the program ran and something of the toolkit remains)
LOG
