#!/usr/bin/env bash
# A real Windows Installer package of the toolkit, installed by msiexec: the refusal, and the
# per-user and machine-wide "SkipMsiCheck" settings in their order of precedence.
. "$(dirname "$0")/../lib.sh"

readonly USER_KEY='HKCU\Software\Velmor\Korvane'
readonly MACHINE_KEY='HKLM\Software\Velmor\Korvane'

expect_refusal() {
    expect_exit_zero /log
    expect_stdout <<'LOG'
Velmor Korvane Uninstall utility.
Korvane has been installed using Windows Installer, please use Add/Remove Programs to remove Korvane
LOG
}

expect_no_refusal() {
    expect_exit_zero /log
    {
        echo "Velmor Korvane Uninstall utility."
        clean_machine_log
    } | expect_stdout
}

new_machine
install_toolkit_msi
expect_refusal

new_machine
install_toolkit_msi
reg_add "$USER_KEY" /v SkipMsiCheck /t REG_DWORD /d 1
expect_no_refusal

new_machine
install_toolkit_msi
reg_add "$USER_KEY" /v SkipMsiCheck /t REG_DWORD /d 0
reg_add "$MACHINE_KEY" /v SkipMsiCheck /t REG_DWORD /d 1
expect_refusal

new_machine
install_toolkit_msi
reg_add "$MACHINE_KEY" /v SkipMsiCheck /t REG_DWORD /d 1
reg_key_exists "$USER_KEY" && fail "the per-user key should not exist here"
expect_no_refusal
