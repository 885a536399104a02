#!/usr/bin/env bash
# A control cache that crashes inside RemoveControlByName, one that throws a C++ exception of
# another compiler out of it, and one without that export: the program goes on with E_FAIL and
# the manual cleanup removes the unit.
. "$(dirname "$0")/../lib.sh"

expect_manual_cleanup() {
    unit_cleaned_up_by_hand "$KORVAN_CLSID" qlvn2.inf qlvn.osd
    inf_sweep_found_nothing TRUE
    cat <<'LOG'
Completed uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
=> done
LOG
}

expect_unit_removed() {
    expect_key_gone "$UNITS_KEY\\$KORVAN_CLSID"
    expect_key_gone "$COMPONENTS_KEY\\KorvanUnit"
    expect_file_gone "$WINDIR/Korvane/KorvanUnit.marker"
    expect_file_gone "$(downloads_directory)/qlvn2.inf"
    expect_file_gone "$(downloads_directory)/qlvn.osd"
    expect_key_kept "$UNITS_KEY\\$WARDEN_CLSID"
    expect_unrelated_unit_kept
}

# An access violation inside the call, and a foreign exception thrown out of it.
for behaviour_code in faults:c0000005 throws:e06d7363; do
    new_machine
    install_toolkit_units
    install_unrelated_unit
    install_control_cache "${behaviour_code%:*}"
    run_driver unit vlkorvan.dll "$KORVAN_CLSID"
    {
        cat <<'LOG'
Uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
	It is registered
Started DeleteInstalledUnit()
	 found RemoveControlByName, calling ...
LOG
        printf '*** EXCEPTION: %s *****\n' "${behaviour_code#*:}"
        cat <<'LOG'
Continuing after exception in RemoveControlByName()
Completed DeleteInstalledUnit(): 80004005
LOG
        expect_manual_cleanup
    } | expect_stdout
    expect_control_cache_calls <<'CALLS'
RemoveControlByName(C:\windows\syswow64\vlkorvan.dll, {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}, NULL, 1, 0)
CALLS
    expect_unit_removed
done

# No RemoveControlByName: visible only as E_FAIL on the completion line.
new_machine
install_toolkit_units
install_unrelated_unit
install_control_cache no-export
run_driver unit vlkorvan.dll "$KORVAN_CLSID"
{
    cat <<'LOG'
Uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}
	It is registered
Started DeleteInstalledUnit()
Completed DeleteInstalledUnit(): 80004005
LOG
    expect_manual_cleanup
} | expect_stdout
expect_control_cache_calls </dev/null
expect_unit_removed
