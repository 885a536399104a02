#!/usr/bin/env bash
# Builds: win32
# The cmd.exe recipes, taken from the documents themselves and run by Wine's cmd: the README's
# batch file for Windows XP and Server 2003, started from a share other than the current
# folder, and the commands of the release's README.txt, in the folder the zip was unpacked
# into (the current folder, C:\work). Each puts the program in its folder under Program Files,
# where it removes the toolkit and leaves its whole log beside it. When the copy fails, nothing
# runs, not even an older copy of the program. Only the build that is deployed: the recipes are
# for it.
. "$(dirname "$0")/../lib.sh"
sources="$(dirname "$0")/../../.."
readonly FOLDER_ON_DISK="Program Files/KorvaneUninstall"

readme_batch_file() {
    awk '/^ *```bat$/ { inside = 1; block = ""; next }
         inside && /^ *```$/ { inside = 0; if (block ~ /rem korvane-deploy\.cmd:/) { printf "%s", block; found = 1; exit } }
         inside { sub(/^  /, ""); block = block $0 "\r\n" }
         END { exit !found }' "$sources/README.md"
}

# The indented lines after "... elevated cmd.exe:", one command each.
archive_readme_commands() {
    awk '/elevated cmd\.exe:$/ { inside = 1; next }
         inside && /^  [^ ]/ { sub(/^  /, ""); printf "%s\r\n", $0; found = 1; next }
         inside && found { exit }
         END { exit !found }' "$sources/res/README.txt"
}

# What the recipe's cmd.exe echoed and said on its error stream: each line it ran, with what it
# answered, so that a failure shows the step that went wrong.
cmd_said() {
    cat "$CASE_DIR/stdout" "$CASE_DIR/stderr" | tr -d '\r'
}

# Runs the recipe that $2 prints as C:\share\$1 on a machine with the toolkit, the program
# copied from $3 (below C:\); then again without the program there. The second run's exit code
# is left in rc and what it said in $CASE_DIR/stderr.
check_recipe() {
    local recipe=$1 print_recipe=$2
    new_machine
    local program_source="$DRIVE_C/$3"
    install_toolkit "$E2E_FIXTURES"
    install_unrelated "$E2E_FIXTURES"
    mkdir -p "$DRIVE_C/share"
    "$print_recipe" >"$DRIVE_C/share/$recipe" || fail "no recipe found by $print_recipe"
    cp "$KORVANE_EXE" "$program_source"

    run_windows_program cmd /c "C:\\share\\$recipe" \
        || fail "$recipe failed; cmd said: $(cmd_said)"
    cmp -s "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.exe" "$KORVANE_EXE" \
        || fail "$recipe: the program is not in its folder; cmd said: $(cmd_said)"
    cp "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log" "$CASE_DIR/stdout" \
        || fail "$recipe: no log beside the program; cmd said: $(cmd_said)"
    full_removal_log | expect_stdout
    expect_toolkit_gone
    expect_unrelated_kept

    # The copy fails, and the older program in the folder (a stand-in that leaves a marker)
    # must not run.
    rm "$program_source" "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log"
    cp "$E2E_FIXTURES/PlantedProgram.exe" "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.exe"
    rc=0
    run_windows_program cmd /c "C:\\share\\$recipe" || rc=$?
    expect_file_gone "$DRIVE_C/planted.log"
    expect_file_gone "$DRIVE_C/$FOLDER_ON_DISK/KorvaneUninstall.log"
}

check_recipe korvane-deploy.cmd readme_batch_file share/KorvaneUninstall.exe
[ "$rc" -eq 1 ] || fail "the batch file ended with $rc after a failed copy"
# Its own line comes after what copy said.
[ "$(tr -d '\r' <"$CASE_DIR/stderr" | tail -n 1)" = \
  'KorvaneUninstall.exe could not be copied into C:\Program Files\KorvaneUninstall: nothing was run.' ] \
    || fail "the batch file said: $(cat "$CASE_DIR/stderr")"

check_recipe unpacked.cmd archive_readme_commands work/KorvaneUninstall.exe
