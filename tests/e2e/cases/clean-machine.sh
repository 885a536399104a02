#!/usr/bin/env bash
# The real program on a machine without the toolkit: every stage visited, nothing found.
. "$(dirname "$0")/../lib.sh"
new_machine
before=$(machine_state)

expect_exit_zero /log
{
    echo "Velmor Korvane Uninstall utility."
    clean_machine_log
} | expect_stdout
expect_machine_state "$before" "the clean machine changed"
