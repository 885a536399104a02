#!/usr/bin/env bash
# Copies planted where the administrator started the program (C:\work) and beside it
# (C:\Downloads): a rundll32.exe, and a library and a program that an INF section names by bare
# name, as the toolkit's own sections name its libraries, already gone from the system directory
# on a second run. A careless start would take every one of them; the INF engine is started from
# the system directory, in the system directory, and takes none.
. "$(dirname "$0")/../lib.sh"
new_machine
export WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER"
cp "$E2E_FIXTURES/PlantedRundll32.exe" "$DRIVE_C/Downloads/rundll32.exe"
cp "$E2E_FIXTURES/PlantedRundll32.exe" "$DRIVE_C/work/rundll32.exe"
cp "$E2E_FIXTURES/PlantedLibrary.dll" "$DRIVE_C/work/vlkorvan.dll"
cp "$E2E_FIXTURES/PlantedProgram.exe" "$DRIVE_C/work/vlpluser.exe"
cp "$E2E_FIXTURES/SearchProbe.exe" "$DRIVE_C/Downloads/SearchProbe.exe"

# qlvn.inf's section removes its component as usual, and registers a library and runs a
# program, both by bare name.
bare_names() {
    sed -i 's/^\[DefaultUninstall\]\r$/&\nRegisterOCXs=Bare.Libraries\r\nRunPostSetupCommands=Bare.Programs\r/' "$1"
    printf '\r\n[Bare.Libraries]\r\nvlkorvan.dll\r\n\r\n[Bare.Programs]\r\nvlpluser.exe\r\n' >>"$1"
}
install_toolkit_inf qlvn.inf
bare_names "$(inf_directory)/qlvn.inf"

# What a careless start finds: the planted rundll32.exe, and, for the system's own started
# from C:\work by a program of the build's architecture, the section's library and program.
probe=$(wine_in_work 'C:\Downloads\SearchProbe.exe' start 'rundll32.exe probe' | tr -d '\r')
[ "$probe" = 'exit code 7' ] || fail "a bare-name start does not find the planted copy: $probe"
write_inf "$DRIVE_C/probe.inf" probe
bare_names "$DRIVE_C/probe.inf"
wine_in_work 'C:\Downloads\SearchProbe.exe' start \
    'C:\windows\system32\rundll32.exe advpack.dll,LaunchINFSection C:\probe.inf,DefaultUninstall,1' \
    >/dev/null
[ "$(tr -d '\r' <"$DRIVE_C/planted.log")" = "$(printf '%s\n' 'C:\work\vlkorvan.dll' vlpluser.exe)" ] \
    || fail "a section run from C:\\work does not take the planted library and program: $(cat "$DRIVE_C/planted.log")"
rm -f "$DRIVE_C/planted-rundll32.log" "$DRIVE_C/planted.log" "$DRIVE_C/probe.inf"

run_driver inf-sweep full
expect_stdout <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...
Looking for: [qlvn2.inf] - not found. OK
Looking for: [qlvn.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn.inf,DefaultUninstall,1] returned 0
Looking for: [Korvane.inf] - not found. OK
Looking for: [warden.inf] - not found. OK
Looking for: [tm.inf] - not found. OK
Looking for: [plotra.inf] - not found. OK
=> TRUE
LOG
expect_file_gone "$DRIVE_C/planted-rundll32.log"
expect_file_gone "$DRIVE_C/planted.log"
expect_key_gone 'HKLM\Software\Velmor\Korvane\Components\qlvn'
