#!/usr/bin/env bash
# The command runner and the system directory against real Win32.
. "$(dirname "$0")/../lib.sh"
new_machine
cp "$E2E_FIXTURES/SlowChild.exe" "$E2E_FIXTURES/PumpedChild.exe" "$DRIVE_C/Downloads/"

run_driver exec nosuch.exe /x
expect_stdout <<'LOG'
[Error] Execute command: [nosuch.exe /x] failed 2
=> 2
LOG

run_driver exec 'C:\Downloads\SlowChild.exe' go
expect_stdout <<'LOG'
[Info] Execute command: [C:\Downloads\SlowChild.exe go] returned 3
=> 3
LOG

# Messages posted to a window of the waiting thread while the child runs reach it.
run_driver pump 'C:\Downloads\PumpedChild.exe' again
expect_stdout <<'LOG'
[Info] Execute command: [C:\Downloads\PumpedChild.exe again] returned 3
=> 3, dispatched 3
LOG

# A 64-bit Windows: the Wow64 system directory.
run_driver sysdir
expect_stdout <<'LOG'
=> 19 C:\windows\syswow64
LOG
