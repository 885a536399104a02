# Puts pieces of the toolkit on a Wine machine the way its own setup does. Sourced by the
# end-to-end cases and by the demo; needs WINEPREFIX and WINDIR (the prefix's C:\windows).

# The INF files setup leaves in C:\windows\Inf, and what each one's DefaultUninstall removes:
# its component key under HKLM\Software\Velmor\Korvane\Components and its marker file in
# C:\windows\Korvane.
readonly TOOLKIT_INF_FILES="qlvn2.inf qlvn.inf Korvane.inf warden.inf tm.inf plotra.inf"

# The on-disk name of C:\windows\Inf: Wine keeps it in lower case.
inf_directory() {
    echo "$WINDIR/inf"
}

component_of_inf() {
    basename "$1" .inf
}

# Writes C:\windows\Inf\<name> and installs what its DefaultUninstall section takes away.
install_toolkit_inf() {
    local name=$1 component
    component=$(component_of_inf "$name")
    mkdir -p "$WINDIR/Korvane"
    echo "$component" >"$WINDIR/Korvane/$component.marker"
    wine reg add "HKLM\\Software\\Velmor\\Korvane\\Components\\$component" /v Installed \
        /t REG_DWORD /d 1 /f >/dev/null 2>&1
    sed 's/$/\r/' >"$(inf_directory)/$name" <<INF
[Version]
Signature="\$Windows NT\$"
AdvancedINF=2.5

[DefaultUninstall]
DelReg=Component.DelReg
DelFiles=Component.DelFiles

[Component.DelReg]
HKLM,"Software\\Velmor\\Korvane\\Components\\$component"

[Component.DelFiles]
$component.marker

[DestinationDirs]
Component.DelFiles=10,Korvane
INF
}

install_toolkit_inf_files() {
    local name
    for name in $TOOLKIT_INF_FILES; do
        install_toolkit_inf "$name"
    done
}
