#!/usr/bin/env bash
# Builds: win32
# The README's batch recipe for Windows XP and Server 2003, taken from the README itself and
# run by Wine's cmd from a folder other than the one that holds it and the program: the program
# lands in its folder under Program Files, removes the toolkit, and leaves its whole log beside
# it. When the copy fails, nothing runs, not even an older copy of the program. Only the build
# that is deployed: the recipe is for it.
. "$(dirname "$0")/../lib.sh"
readme="$(dirname "$0")/../../../README.md"
readonly FOLDER_ON_DISK="Program Files/KorvaneUninstall"

new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
mkdir "$DRIVE_C/share"
cp "$KORVANE_EXE" "$DRIVE_C/share/KorvaneUninstall.exe"
awk '/^ *```bat$/ { inside = 1; block = ""; next }
     inside && /^ *```$/ { inside = 0; if (block ~ /rem korvane-deploy\.cmd:/) { printf "%s", block; found = 1; exit } }
     inside { sub(/^  /, ""); block = block $0 "\r\n" }
     END { exit !found }' "$readme" >"$DRIVE_C/share/korvane-deploy.cmd" || fail "the README has no batch recipe"

run_windows_program cmd /c 'C:\share\korvane-deploy.cmd' || fail "the recipe failed: $(cat "$CASE_DIR/stderr")"
cmp -s "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.exe" "$KORVANE_EXE" || fail "the program is not in its folder"
cp "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log" "$CASE_DIR/stdout" || fail "no log beside the program"
full_removal_log | expect_stdout
expect_toolkit_gone
expect_unrelated_kept

# The program is gone from the share: the copy fails, and the older program in the folder (a
# stand-in that leaves a marker) must not run.
rm "$DRIVE_C/share/KorvaneUninstall.exe" "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log"
cp "$E2E_FIXTURES/PlantedProgram.exe" "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.exe"
rc=0
run_windows_program cmd /c 'C:\share\korvane-deploy.cmd' || rc=$?
[ "$rc" -eq 1 ] || fail "the recipe ended with $rc after a failed copy"
# Its own line comes after what copy said.
[ "$(tr -d '\r' <"$CASE_DIR/stderr" | tail -n 1)" = \
  'KorvaneUninstall.exe could not be copied into C:\Program Files\KorvaneUninstall: nothing was run.' ] \
    || fail "the recipe said: $(cat "$CASE_DIR/stderr")"
expect_file_gone "$DRIVE_C/planted.log"
expect_file_gone "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log"
