#!/usr/bin/env bash
# Exceptions inside foreign code during a whole removal: a control cache that crashes for both
# units, one guarded call after the other, and toolkit libraries whose DllUnregisterServer
# throws a C++ exception of another compiler, crashes, or meets a fault it handles itself. What
# the foreign code leaves unhandled is logged and contained, what it handles is its own, and
# the removal goes on to its end.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
install_control_cache faults
for variant in throws/vlwarden crashes/vlplotra recovers/vltemplo; do
    cp "$E2E_FIXTURES/$variant.dll" "$WINDIR/syswow64/${variant#*/}.dll"
done

expect_exit_zero /log
sed -n -e '/^Started DeleteInstalledUnit/,/^Completed DeleteInstalledUnit/p' \
    -e '/^\[Info\] DeleteKorvaneFiles/,$p' "$CASE_DIR/stdout" >"$CASE_DIR/guarded"
mv "$CASE_DIR/guarded" "$CASE_DIR/stdout"
{
    cat <<'LOG'
Started DeleteInstalledUnit()
	 found RemoveControlByName, calling ...
*** EXCEPTION: c0000005 *****
Continuing after exception in RemoveControlByName()
Completed DeleteInstalledUnit(): 80004005
Started DeleteInstalledUnit()
	 found RemoveControlByName, calling ...
*** EXCEPTION: c0000005 *****
Continuing after exception in RemoveControlByName()
Completed DeleteInstalledUnit(): 80004005
[Info] DeleteKorvaneFiles...
Looking for: [C:\windows\syswow64\vlkorvan.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlwarden.dll] - exists.  asking it to unregister
*** EXCEPTION: e06d7363 *****
Continuing after exception in DllUnregisterServer() deleted ok
Looking for: [C:\windows\syswow64\vlplotra.dll] - exists.  asking it to unregister
*** EXCEPTION: c0000005 *****
Continuing after exception in DllUnregisterServer() deleted ok
Looking for: [C:\windows\syswow64\vltemplo.dll] - exists.  asking it to unregister deleted ok
LOG
    removal_end
} | expect_stdout
# The units went by hand; every library was asked and deleted. The two that were cut off kept
# their registration; the one that handled its own fault removed it.
expect_key_gone "$UNITS_KEY\\$WARDEN_CLSID"
expect_key_gone "$UNITS_KEY\\$KORVAN_CLSID"
for name in $TOOLKIT_LIBRARIES; do
    expect_file_gone "$WINDIR/syswow64/$name.dll"
done
[ "$(tr -d '\r' <"$DRIVE_C/unregister-calls.log")" = \
  "$(printf 'C:\\windows\\syswow64\\%s.dll\n' vlkorvan vlwarden vlplotra vltemplo)" ] \
    || fail "not every library was asked to unregister"
for name in vlkorvan vltemplo; do
    expect_key_gone "HKLM\\Software\\Classes\\CLSID\\$(library_clsid "$name")"
done
for name in vlwarden vlplotra; do
    expect_key_kept "HKLM\\Software\\Classes\\CLSID\\$(library_clsid "$name")"
done
