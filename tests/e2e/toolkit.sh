# Puts pieces of the toolkit on a Wine machine the way its own setup and the browser's code
# download leave them. Sourced by the end-to-end cases and by the demo; needs WINEPREFIX and
# WINDIR (the prefix's C:\windows on disk).

# The INF files setup leaves in C:\windows\Inf; each one's DefaultUninstall section removes
# its component key under HKLM\Software\Velmor\Korvane\Components and its marker file in
# C:\windows\Korvane.
readonly TOOLKIT_INF_FILES="qlvn2.inf qlvn.inf Korvane.inf warden.inf tm.inf plotra.inf"
readonly COMPONENTS_KEY='HKLM\Software\Velmor\Korvane\Components'
readonly UNITS_KEY='HKLM\Software\Microsoft\Code Store Database\Distribution Units'
readonly WARDEN_CLSID='{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}'
readonly KORVAN_CLSID='{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}'

# The on-disk names of C:\windows\Inf and of C:\windows\Downloaded Program Files.
inf_directory() {
    echo "$WINDIR/inf"
}

downloads_directory() {
    echo "$WINDIR/Downloaded Program Files"
}

component_of_inf() {
    basename "$1" .inf
}

# Imports registry contents given in REGEDIT4 form on standard input, with one regedit run.
reg_import() {
    local file="$WINEPREFIX/drive_c/korvane-import.reg"
    { echo "REGEDIT4"; echo; cat; } | sed 's/$/\r/' >"$file"
    wine regedit /S 'C:\korvane-import.reg' >/dev/null 2>&1
    rm -f "$file"
}

# An INF file whose DefaultUninstall section removes a component: its key and its marker file.
write_inf() {
    local path=$1 component=$2
    mkdir -p "$WINDIR/Korvane" "$(dirname "$path")"
    echo "$component" >"$WINDIR/Korvane/$component.marker"
    sed 's/$/\r/' >"$path" <<INF
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

component_registry() {
    printf '[HKEY_LOCAL_MACHINE\\Software\\Velmor\\Korvane\\Components\\%s]\n"Installed"=dword:00000001\n\n' "$1"
}

install_toolkit_inf() {
    local component
    component=$(component_of_inf "$1")
    write_inf "$(inf_directory)/$1" "$component"
    component_registry "$component" | reg_import
}

install_toolkit_inf_files() {
    local name
    for name in $TOOLKIT_INF_FILES; do
        write_inf "$(inf_directory)/$name" "$(component_of_inf "$name")"
    done
    for name in $TOOLKIT_INF_FILES; do
        component_registry "$(component_of_inf "$name")"
    done | reg_import
}

# A distribution unit as the browser's code download registers it: its key under the Code
# Store Database, the INF and OSD files in Downloaded Program Files that its download
# information names, and the component the INF's DefaultUninstall section removes.
distribution_unit_registry() {
    local clsid=$1 inf=$2 osd=$3 component=$4
    local unit="HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Code Store Database\\Distribution Units\\$clsid"
    local downloads='C:\\windows\\Downloaded Program Files'
    cat <<REG
[$unit]
@="Velmor Korvane $component"
"SystemComponent"=dword:00000000
"Installer"="MSICD"

[$unit\\DownloadInformation]
"CODEBASE"="https://downloads.velmor.example/korvane/$component.cab"
"INF"="$downloads\\\\$inf"
"OSD"="$downloads\\\\$osd"

[$unit\\InstalledVersion]
@="1,0,0,1"

[$unit\\Contains\\Files]
"C:\\\\windows\\\\system32\\\\$component.dll"=""

REG
    component_registry "$component"
}

install_distribution_unit() {
    local clsid=$1 inf=$2 osd=$3 component=$4
    write_inf "$(downloads_directory)/$inf" "$component"
    printf '<?XML version="1.0"?>\r\n<SOFTPKG NAME="%s" VERSION="1,0,0,1"></SOFTPKG>\r\n' \
        "$component" >"$(downloads_directory)/$osd"
    distribution_unit_registry "$@" | reg_import
}

# Both of the toolkit's units: the security manager control and the main control.
install_toolkit_units() {
    install_distribution_unit "$WARDEN_CLSID" vlwarden.inf vlwarden.osd WardenUnit
    install_distribution_unit "$KORVAN_CLSID" qlvn2.inf qlvn.osd KorvanUnit
}

# Someone else's unit, which must survive.
install_unrelated_unit() {
    install_distribution_unit '{00000000-1111-2222-3333-444444444444}' other.inf other.osd OtherUnit
}
