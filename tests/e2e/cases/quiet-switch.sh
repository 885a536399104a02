#!/usr/bin/env bash
# "-q" in either case, alone: nothing printed at all and no pause, even for the refusal.
. "$(dirname "$0")/../lib.sh"
new_machine

for switch in -q -Q; do
    expect_exit_zero "$switch"
    expect_stdout_bytes ''
done

install_toolkit_msi
expect_exit_zero -q
expect_stdout_bytes ''
