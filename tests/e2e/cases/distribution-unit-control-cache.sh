#!/usr/bin/env bash
# A registered distribution unit removed through a control cache that does its work, also one
# that meets a fault on the way and handles it itself, and through one that refuses: then the
# manual cleanup runs the unit's INF section with Wine's own advpack and deletes its files and
# its tree.
. "$(dirname "$0")/../lib.sh"

warden_unit="$UNITS_KEY\\$WARDEN_CLSID"
removal_call='RemoveControlByName(C:\windows\syswow64\vlwarden.dll, {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}, NULL, 1, 0)'

nothing_to_sweep() {
    inf_sweep_found_nothing TRUE
    cat <<'LOG'
Completed uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
=> done
LOG
}

# The control cache removes the unit: its files and its tree. A fault it handles itself is its
# own business: nothing of it shows, and its work is done.
for behaviour in removes recovers; do
    new_machine
    install_toolkit_units
    install_unrelated_unit
    install_control_cache "$behaviour"
    run_driver unit vlwarden.dll "$WARDEN_CLSID"
    {
        cat <<'LOG'
Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
	It is registered
Started DeleteInstalledUnit()
	 found RemoveControlByName, calling ...
	 on C:\windows\syswow64\vlwarden.dll ... returned: 00000000
Completed DeleteInstalledUnit(): 00000000
	Going to delete the reg key ...
Started DeleteDistributionUnit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
Completed DeleteDistributionUnit
LOG
        nothing_to_sweep
    } | expect_stdout
    {
        echo "$removal_call"
        [ "$behaviour" = removes ] || echo "recovered from its own fault"
    } | expect_control_cache_calls
    expect_key_gone "$warden_unit"
    expect_file_gone "$(downloads_directory)/vlwarden.inf"
    expect_file_gone "$(downloads_directory)/vlwarden.osd"
    expect_key_kept "$UNITS_KEY\\$KORVAN_CLSID"
    expect_unrelated_unit_kept
done

# The control cache refuses: the manual cleanup does the work.
new_machine
install_toolkit_units
install_unrelated_unit
install_control_cache fails
run_driver unit vlwarden.dll "$WARDEN_CLSID"
{
    cat <<'LOG'
Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
	It is registered
Started DeleteInstalledUnit()
	 found RemoveControlByName, calling ...
	 on C:\windows\syswow64\vlwarden.dll ... returned: 80070005
Completed DeleteInstalledUnit(): 80070005
LOG
    unit_cleaned_up_by_hand "$WARDEN_CLSID" vlwarden.inf vlwarden.osd
    nothing_to_sweep
} | expect_stdout
echo "$removal_call" | expect_control_cache_calls
expect_key_gone "$warden_unit"
expect_key_gone "$COMPONENTS_KEY\\WardenUnit"
expect_file_gone "$WINDIR/Korvane/WardenUnit.marker"
expect_file_gone "$(downloads_directory)/vlwarden.inf"
expect_file_gone "$(downloads_directory)/vlwarden.osd"
expect_key_kept "$UNITS_KEY\\$KORVAN_CLSID"
expect_unrelated_unit_kept
