#!/usr/bin/env bash
# The real program on a machine with the whole toolkit installed by its real mechanisms, and
# things beside it that are not the toolkit's: afterwards nothing of the toolkit is left and
# everything else is as it was.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"

expect_exit_zero /log
{
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
    cat <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...
Looking for: [qlvn2.inf] it exists
Looking for: [qlvn.inf] it exists
Looking for: [Korvane.inf] it exists
Looking for: [warden.inf] it exists
Looking for: [tm.inf] it exists
Looking for: [plotra.inf] it exists
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
} | expect_stdout
expect_toolkit_gone
expect_unrelated_kept
unregistered=$(tr -d '\r' <"$DRIVE_C/unregister-calls.log")
[ "$unregistered" = "$(printf 'C:\\windows\\syswow64\\%s.dll\n' vlkorvan vlwarden vlplotra vltemplo)" ] \
    || fail "DllUnregisterServer calls: $unregistered"
