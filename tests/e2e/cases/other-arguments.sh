#!/usr/bin/env bash
# Any other argument, or "-q" with company: the log is shown, there is no pause and no usage.
. "$(dirname "$0")/../lib.sh"
new_machine

for args in "-q extra" "/?" "/log" "-quiet"; do
    # shellcheck disable=SC2086
    expect_exit_zero $args
    {
    echo "Velmor Korvane Uninstall utility."
    clean_machine_log
} | expect_stdout
done
