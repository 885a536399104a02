#!/usr/bin/env bash
# The whole toolkit plus its Windows Installer package: the refusal, and nothing on the
# machine changed.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
install_toolkit_msi
before=$(machine_state)

expect_exit_zero /log
expect_stdout <<'LOG'
Velmor Korvane Uninstall utility.
Korvane has been installed using Windows Installer, please use Add/Remove Programs to remove Korvane
LOG
expect_machine_state "$before" "the machine changed"
