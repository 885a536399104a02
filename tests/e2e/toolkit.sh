# shellcheck shell=bash disable=SC2034  # the scripts that source this use its variables
# Puts pieces of the toolkit on a Wine machine the way its own setup and the browser's code
# download leave them. Sourced by the end-to-end cases, the demo and the benchmark; needs
# WINEPREFIX, WINDIR (the prefix's C:\windows on disk), WINE (wine.sh) and a build chosen with
# use_build.

# What differs between the two builds of the program on 64-bit Windows: the registry view it
# sees, and the directory its C:\windows\system32 stands for (a 32-bit process is redirected to
# syswow64), where its system libraries and programs are. The toolkit's own binaries are in
# syswow64 for both: the program looks for them there.
use_build() {
    case $1 in
        win32) REG_VIEW=/reg:32 PROCESS_SYSTEM32=syswow64 ;;
        win64) REG_VIEW=/reg:64 PROCESS_SYSTEM32=system32 ;;
        *) echo "unknown build: $1" >&2; return 1 ;;
    esac
}

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

# Runs Wine's reg.exe with the arguments; what it said last, without CRs, in REG_ANSWER. Under
# load, on CI machines and here, reg has now and then ended with 1 for a file or key that was
# there, unexplained: it gets three tries, each of which sets or reads the same thing again, so
# a retry hides nothing the program did; each is noted on standard error, with what reg said,
# for the day the cause is found. A key it reports missing is an answer, not a hiccup.
# Its output goes through a file, not a pipe: the Windows services the first Wine program of a
# session starts inherit it, and a command substitution would wait seconds for them to end.
# By its full path: Wine starts a bare name through start.exe, one process more each time.
readonly REG_EXE='C:\windows\system32\reg.exe'
wine_reg() {
    local out="$WINEPREFIX/korvane-reg.out" status try
    for try in 1 2 3; do
        status=0
        LC_ALL=C "$WINE" "$REG_EXE" "$@" >"$out" 2>&1 || status=$?
        REG_ANSWER=$(tr -d '\r' <"$out")
        rm -f "$out"
        [ "$status" -ne 0 ] || return 0
        case $REG_ANSWER in *"Unable to find the specified registry key"*) return "$status" ;; esac
        [ "$try" -lt 3 ] || break
        echo "note: reg $1 ended with $status, trying again; it said: ${REG_ANSWER:-nothing}" >&2
        sleep 1
    done
    return "$status"
}

# Imports registry contents given in REGEDIT4 form on standard input, with one reg run, into
# the build's view.
reg_import() {
    local file="$WINEPREFIX/drive_c/korvane-import.reg" status=0
    { echo "REGEDIT4"; echo; cat; } | sed 's/$/\r/' >"$file"
    wine_reg import 'C:\korvane-import.reg' "$REG_VIEW" || status=$?
    rm -f "$file"
    [ "$status" -eq 0 ] || echo "reg import $REG_VIEW failed ($status): $REG_ANSWER" >&2
    return "$status"
}

# Whether a key exists in the build's view. reg fails alike for a missing key and for a query
# it rejects, which would make every key look absent: only its own "not found" counts.
reg_key_exists() {
    wine_reg query "$1" "$REG_VIEW" && return 0
    case $REG_ANSWER in *"Unable to find the specified registry key"*) return 1 ;; esac
    echo "reg query $1 $REG_VIEW failed: $REG_ANSWER" >&2
    exit 1
}

# An INF file whose DefaultUninstall section removes components: their keys and marker files.
write_inf() {
    local path=$1 component
    shift
    mkdir -p "$WINDIR/Korvane" "$(dirname "$path")"
    {
        printf '[Version]\nSignature="$Windows NT$"\nAdvancedINF=2.5\n\n'
        printf '[DefaultUninstall]\nDelReg=Component.DelReg\nDelFiles=Component.DelFiles\n\n'
        printf '[Component.DelReg]\n'
        for component in "$@"; do
            printf 'HKLM,"Software\\Velmor\\Korvane\\Components\\%s"\n' "$component"
        done
        printf '\n[Component.DelFiles]\n'
        for component in "$@"; do
            printf '%s.marker\n' "$component"
            echo "$component" >"$WINDIR/Korvane/$component.marker"
        done
        printf '\n[DestinationDirs]\nComponent.DelFiles=10,Korvane\n'
    } | sed 's/$/\r/' >"$path"
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
    local clsid=$1 inf=$2 osd=$3 name=$4 component
    shift 3
    local unit="HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Code Store Database\\Distribution Units\\$clsid"
    local downloads='C:\\windows\\Downloaded Program Files'
    cat <<REG
[$unit]
@="Velmor Korvane $name"
"SystemComponent"=dword:00000000
"Installer"="MSICD"

[$unit\\DownloadInformation]
"CODEBASE"="https://downloads.velmor.example/korvane/$name.cab"
"INF"="$downloads\\\\$inf"
"OSD"="$downloads\\\\$osd"

[$unit\\InstalledVersion]
@="1,0,0,1"

[$unit\\Contains\\Files]
"C:\\\\windows\\\\system32\\\\$name.dll"=""

REG
    for component in "$@"; do
        component_registry "$component"
    done
}

# A distribution unit as the browser's code download registers it: its key under the Code
# Store Database, the INF and OSD files in Downloaded Program Files its download information
# names, and the components its INF's DefaultUninstall section removes (the first one names
# the unit).
install_distribution_unit() {
    local clsid=$1 inf=$2 osd=$3
    shift 3
    write_inf "$(downloads_directory)/$inf" "$@"
    printf '<?XML version="1.0"?>\r\n<SOFTPKG NAME="%s" VERSION="1,0,0,1"></SOFTPKG>\r\n' \
        "$1" >"$(downloads_directory)/$osd"
    distribution_unit_registry "$clsid" "$inf" "$osd" "$@" | reg_import
}

# Both of the toolkit's units: the security manager control and the main control. Their INF
# sections take away what the INF-folder copies' would.
install_toolkit_units() {
    install_distribution_unit "$WARDEN_CLSID" vlwarden.inf vlwarden.osd WardenUnit warden
    install_distribution_unit "$KORVAN_CLSID" qlvn2.inf qlvn.osd KorvanUnit qlvn2 qlvn Korvane tm plotra
}

# The toolkit's libraries and programs in the system directory the program works in
# (syswow64), each library's class registered as its setup left it.
readonly TOOLKIT_LIBRARIES="vlkorvan vlwarden vlplotra vltemplo"
readonly TOOLKIT_PROGRAMS="vlpluser vlplhost vlbroker vlkvuser vlkvhost"

library_clsid() {
    case $1 in
        vlkorvan) echo "$KORVAN_CLSID" ;;
        vlwarden) echo "$WARDEN_CLSID" ;;
        vlplotra) echo '{6C2E1A90-4B7D-11D3-8F21-00C04FA31B55}' ;;
        vltemplo) echo '{9A4D7E13-2C58-11D3-A6B0-00A0C9F4E2D8}' ;;
        notkorvane) echo '{00000000-AAAA-BBBB-CCCC-DDDDDDDDDDDD}' ;;
    esac
}

install_library() {
    local name=$1 fixtures=$2
    cp "$fixtures/toolkit/$name.dll" "$WINDIR/syswow64/$name.dll"
    printf '[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\%s\\InprocServer32]\n@="C:\\\\windows\\\\syswow64\\\\%s.dll"\n\n' \
        "$(library_clsid "$name")" "$name"
}

install_toolkit_binaries() {
    local fixtures=$1 name
    for name in $TOOLKIT_LIBRARIES; do
        install_library "$name" "$fixtures"
    done | reg_import
    for name in $TOOLKIT_PROGRAMS; do
        cp "$fixtures/ToolkitProgram.exe" "$WINDIR/syswow64/$name.exe"
    done
}

# Everything: units, INF files, binaries.
install_toolkit() {
    install_toolkit_units
    install_toolkit_inf_files
    install_toolkit_binaries "$1"
}

# Things beside the toolkit that must survive: someone else's unit, INF file, library (with
# its class) and downloaded files.
install_unrelated_unit() {
    install_distribution_unit '{00000000-1111-2222-3333-444444444444}' other.inf other.osd OtherUnit
}

install_unrelated() {
    install_unrelated_unit
    echo "[Version]" >"$(inf_directory)/other.inf"
    install_library notkorvane "$1" | reg_import
}
