#!/usr/bin/env bash
# An INF engine that reports failure (a stand-in rundll32.exe in the system directory that
# exits with 5) ends the sweep at that file: it stays, and the rows after it are not examined.
. "$(dirname "$0")/../lib.sh"
new_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"
cp "$E2E_FIXTURES/StandInRundll32.exe" "$WINDIR/$PROCESS_SYSTEM32/rundll32.exe"
install_toolkit_inf qlvn.inf
install_toolkit_inf tm.inf

run_driver inf-sweep full
expect_stdout <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...
Looking for: [qlvn2.inf] - not found. OK
Looking for: [qlvn.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn.inf,DefaultUninstall,1] returned 5
=> FALSE
LOG
expect_file_kept "$(inf_directory)/qlvn.inf"
expect_file_kept "$(inf_directory)/tm.inf"
[ "$(tr -d '\r' <"$DRIVE_C/standin-rundll32.log")" = \
  'rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn.inf,DefaultUninstall,1' ] \
    || fail "the stand-in was not run once with the INF command line"
