#!/usr/bin/env bash
# The INF sweep against Wine's own INF engine: the toolkit's INF files in C:\windows\Inf have
# DefaultUninstall sections that really remove a registry key and a file.
. "$(dirname "$0")/../lib.sh"

components='HKLM\Software\Velmor\Korvane\Components'

# The full sweep runs each section its row asks for, then deletes the file.
new_machine
install_toolkit_inf_files
echo "[Version]" >"$(inf_directory)/other.inf"
run_driver inf-sweep full
expect_stdout <<'LOG'
[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...
Looking for: [qlvn2.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn2.inf,DefaultUninstall,1] returned 0
Looking for: [qlvn.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\qlvn.inf,DefaultUninstall,1] returned 0
Looking for: [Korvane.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\Korvane.inf,DefaultUninstall,1] returned 0
Looking for: [warden.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\warden.inf,DefaultUninstall,1] returned 0
Looking for: [tm.inf] it exists
[Info] Execute command: [rundll32.exe advpack.dll,LaunchINFSection C:\windows\Inf\tm.inf,DefaultUninstall,1] returned 0
Looking for: [plotra.inf] it exists
=> TRUE
LOG
for name in $TOOLKIT_INF_FILES; do
    expect_file_gone "$(inf_directory)/$name"
done
for component in qlvn2 qlvn Korvane warden tm; do
    expect_key_gone "$components\\$component"
    expect_file_gone "$WINDIR/Korvane/$component.marker"
done
# plotra.inf's row does not run its section: only the file goes.
expect_key_kept "$components\\plotra"
expect_file_kept "$WINDIR/Korvane/plotra.marker"
expect_file_kept "$(inf_directory)/other.inf"

# Delete-only: the files go, what their sections would remove stays.
new_machine
install_toolkit_inf_files
run_driver inf-sweep delete
{
    inf_sweep_found_all TRUE
    echo "=> TRUE"
} | expect_stdout
for name in $TOOLKIT_INF_FILES; do
    component=$(component_of_inf "$name")
    expect_file_gone "$(inf_directory)/$name"
    expect_key_kept "$components\\$component"
    expect_file_kept "$WINDIR/Korvane/$component.marker"
done

# Nothing there: every row is looked for and passed over.
new_machine
run_driver inf-sweep full
{
    inf_sweep_found_nothing FALSE
    cat <<'LOG'
=> TRUE
LOG
} | expect_stdout
