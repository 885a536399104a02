#!/usr/bin/env bash
# The real program on a machine with the whole toolkit installed by its real mechanisms, and
# things beside it that are not the toolkit's: afterwards nothing of the toolkit is left and
# everything else is as it was.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"

expect_exit_zero /log
full_removal_log | expect_stdout
expect_toolkit_gone
expect_unrelated_kept
unregistered=$(tr -d '\r' <"$DRIVE_C/unregister-calls.log")
[ "$unregistered" = "$(printf 'C:\\windows\\syswow64\\%s.dll\n' vlkorvan vlwarden vlplotra vltemplo)" ] \
    || fail "DllUnregisterServer calls: $unregistered"
