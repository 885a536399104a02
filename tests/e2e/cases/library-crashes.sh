#!/usr/bin/env bash
# One of the toolkit's libraries dies of an access violation inside DllUnregisterServer: the
# program logs the exception, deletes the library anyway and goes on with the rest.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
cp "$E2E_FIXTURES/crashing/vlplotra.dll" "$WINDIR/syswow64/vlplotra.dll"

expect_exit_zero /log
sed -n '/^\[Info\] DeleteKorvaneFiles/,$p' "$CASE_DIR/stdout" >"$CASE_DIR/tail"
mv "$CASE_DIR/tail" "$CASE_DIR/stdout"
expect_stdout <<'LOG'
[Info] DeleteKorvaneFiles...
Looking for: [C:\windows\syswow64\vlkorvan.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlwarden.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlplotra.dll] - exists.  asking it to unregister
*** EXCEPTION: c0000005 *****
Continuing after exception in DllUnregisterServer() deleted ok
Looking for: [C:\windows\syswow64\vltemplo.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlpluser.exe] - exists.  deleted ok
Looking for: [C:\windows\syswow64\vlplhost.exe] - exists.  deleted ok
Looking for: [C:\windows\syswow64\vlbroker.exe] - exists.  deleted ok
Looking for: [C:\windows\syswow64\vlkvuser.exe] - exists.  deleted ok
Looking for: [C:\windows\syswow64\vlkvhost.exe] - exists.  deleted ok
[Info] DeleteKorvaneOSDFiles...
Looking for: [C:\windows\Downloaded Program Files\qlvn.osd] - not found. OK
Looking for: [C:\windows\Downloaded Program Files\qlvn2.inf] - not found. OK
Leaving UninstallKorvane
LOG
expect_file_gone "$WINDIR/syswow64/vlplotra.dll"
expect_file_gone "$WINDIR/syswow64/vltemplo.dll"
