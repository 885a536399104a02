#!/usr/bin/env bash
# A msi.dll planted beside the program and in the current directory claims the toolkit came
# by Windows Installer. With Wine searching as Windows does, a bare-name load takes it; the
# program loads the system's own and goes ahead.
. "$(dirname "$0")/../lib.sh"
new_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"

cp "$E2E_FIXTURES/msi.dll" "$DRIVE_C/Downloads/msi.dll"
cp "$E2E_FIXTURES/msi.dll" "$DRIVE_C/work/msi.dll"
cp "$E2E_FIXTURES/SearchProbe.exe" "$DRIVE_C/Downloads/SearchProbe.exe"

probe=$(wine_in_work 'C:\Downloads\SearchProbe.exe' load msi.dll | tr -d '\r')
[ "$probe" = 'C:\Downloads\msi.dll' ] || fail "the planted msi.dll is not what a bare-name load finds: $probe"

expect_exit_zero /log
{
    echo "Velmor Korvane Uninstall utility."
    clean_machine_log
} | expect_stdout
