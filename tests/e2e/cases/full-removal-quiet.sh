#!/usr/bin/env bash
# "-q": the same removal, with nothing printed at all and no pause.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"

expect_exit_zero -q
expect_stdout_bytes ''
expect_toolkit_gone
expect_unrelated_kept
