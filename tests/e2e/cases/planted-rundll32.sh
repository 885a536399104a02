#!/usr/bin/env bash
# A rundll32.exe planted beside the program and in the current directory: a bare-name start
# would take it, the command runner starts the system's own.
. "$(dirname "$0")/../lib.sh"
new_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"
cp "$E2E_FIXTURES/PlantedRundll32.exe" "$DRIVE_C/Downloads/rundll32.exe"
cp "$E2E_FIXTURES/PlantedRundll32.exe" "$DRIVE_C/work/rundll32.exe"
cp "$E2E_FIXTURES/SearchProbe.exe" "$DRIVE_C/Downloads/SearchProbe.exe"

probe=$(wine_in_work 'C:\Downloads\SearchProbe.exe' start 'rundll32.exe probe' | tr -d '\r')
[ "$probe" = 'exit code 7' ] || fail "a bare-name start does not find the planted copy: $probe"
rm -f "$DRIVE_C/planted-rundll32.log"

install_toolkit_inf qlvn.inf
run_driver inf-sweep full
expect_stdout <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...
Looking for: [qlvn2.inf] - not found. OK
Looking for: [qlvn.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn.inf,DefaultUninstall,1] returned 0
Looking for: [Korvane.inf] - not found. OK
Looking for: [warden.inf] - not found. OK
Looking for: [tm.inf] - not found. OK
Looking for: [plotra.inf] - not found. OK
=> TRUE
LOG
expect_file_gone "$DRIVE_C/planted-rundll32.log"
expect_key_gone 'HKLM\Software\Velmor\Korvane\Components\qlvn'
