#!/usr/bin/env bash
# Wine's own case, no OCCACHE.DLL at all; then a copy planted beside the program and in the
# current directory, which a bare-name load would take and the program never loads.
. "$(dirname "$0")/../lib.sh"

expected_log() {
    cat <<'LOG'
Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
	It is registered
Started DeleteInstalledUnit()
	 **FAILED** to load OCCACHE.DLL
LOG
    unit_cleaned_up_by_hand "$WARDEN_CLSID" vlwarden.inf vlwarden.osd
    cat <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...
Looking for: [qlvn2.inf] - not found. OK
Looking for: [qlvn.inf] it exists
Looking for: [Korvane.inf] - not found. OK
Looking for: [warden.inf] it exists
Looking for: [tm.inf] - not found. OK
Looking for: [plotra.inf] - not found. OK
Completed uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}
=> done
LOG
}

expect_unit_removed() {
    expect_key_gone "$UNITS_KEY\\$WARDEN_CLSID"
    expect_key_gone "$COMPONENTS_KEY\\WardenUnit"
    expect_file_gone "$(downloads_directory)/vlwarden.inf"
    expect_file_gone "$(downloads_directory)/vlwarden.osd"
    # The unit's own section took the warden component too; the delete-only sweep took the
    # INF-folder copies without running their sections.
    expect_key_gone "$COMPONENTS_KEY\\warden"
    expect_file_gone "$(inf_directory)/qlvn.inf"
    expect_file_gone "$(inf_directory)/warden.inf"
    expect_key_kept "$COMPONENTS_KEY\\qlvn"
    expect_unrelated_unit_kept
}

new_machine
install_toolkit_units
install_unrelated_unit
install_toolkit_inf qlvn.inf
install_toolkit_inf warden.inf
run_driver unit vlwarden.dll "$WARDEN_CLSID"
expected_log | expect_stdout
expect_unit_removed

new_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"
install_toolkit_units
install_unrelated_unit
install_toolkit_inf qlvn.inf
install_toolkit_inf warden.inf
cp "$E2E_FIXTURES/occache-planted/OCCACHE.dll" "$DRIVE_C/Downloads/OCCACHE.DLL"
cp "$E2E_FIXTURES/occache-planted/OCCACHE.dll" "$DRIVE_C/work/OCCACHE.DLL"
cp "$E2E_FIXTURES/SearchProbe.exe" "$DRIVE_C/Downloads/SearchProbe.exe"
probe=$(wine_in_work 'C:\Downloads\SearchProbe.exe' load OCCACHE.DLL | tr -d '\r')
[ "$probe" = 'C:\Downloads\OCCACHE.DLL' ] || fail "a bare-name load does not find the planted copy: $probe"
rm -f "$DRIVE_C/occache-calls.log"

run_driver unit vlwarden.dll "$WARDEN_CLSID"
expected_log | expect_stdout
expect_control_cache_calls </dev/null
expect_unit_removed
