# korvane-deploy.ps1, KorvaneUninstall @VERSION@: takes the Velmor Korvane toolkit off this
# machine with KorvaneUninstall.exe, which must be in the same folder as this script (a local
# folder or a share). Nothing in it is to be edited. It needs PowerShell 2.0 or later, 32-bit or
# 64-bit; korvane-deploy.cmd does the same without PowerShell. Start it as SYSTEM (a deployment
# tool, a startup script) or from an elevated prompt, with its whole command line:
#
#     powershell.exe -NoProfile -ExecutionPolicy Bypass -File korvane-deploy.ps1
#
# Each run:
#   1. makes the folder KorvaneUninstall in the 64-bit Program Files (also from a 32-bit
#      PowerShell), owned by Administrators and open to SYSTEM and Administrators alone, nothing
#      inherited; it refuses a folder there that someone else made;
#   2. looks for the toolkit, and where nothing of it is here ends at once, without copying or
#      running anything;
#   3. copies KorvaneUninstall.exe into that folder and runs it there;
#   4. looks at the machine again and ends with one of these exit codes:
#        0  nothing of the toolkit remains (or there was none to begin with)
#        1  it stopped before the program ran: the program could not be copied, or the folder
#           could not be made or secured, or someone else made it; the reason goes to standard
#           error and, when the folder is this script's, to the log
#        2  the program refused, because a Windows Installer package brought the toolkit;
#           nothing was removed
#        3  the program ran and something of the toolkit remains; the log names each thing
# The log is KorvaneUninstall.log in that folder. Each run adds a block to it that begins with
# a line "Run: " (the time in UTC, the computer, the release) and ends with a line "Result: "
# (the exit code and what it means); the program's own log stands between. A log that has
# reached 1 MB is kept as KorvaneUninstall.old.log, in place of an older one, and a new one begun.
# A release signs this script; where Group Policy lets only signed scripts run, it runs signed.
$ErrorActionPreference = 'Stop'
$release = '@VERSION@'
$ran = $false
$ours = $false

# What the program removes, in the order it removes them. The toolkit is 32-bit: on 64-bit
# Windows its binaries are in SysWOW64, and its units in the 32-bit registry view, which a
# 64-bit PowerShell reaches through Wow6432Node.
$units = '{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}', '{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}'
$infFiles = 'qlvn2.inf', 'qlvn.inf', 'Korvane.inf', 'warden.inf', 'tm.inf', 'plotra.inf'
$systemFiles = 'vlkorvan.dll', 'vlwarden.dll', 'vlplotra.dll', 'vltemplo.dll', 'vlpluser.exe',
    'vlplhost.exe', 'vlbroker.exe', 'vlkvuser.exe', 'vlkvhost.exe'
$downloadFiles = 'qlvn.osd', 'qlvn2.inf'

# What of the toolkit is on the machine, one line each. A folder that ought to be there and is
# not, or a key that cannot be read, stops the script: "not found" would mean nothing then.
function Get-Remains {
    $software = 'SOFTWARE'
    $system = Join-Path $env:SystemRoot 'System32'
    if ([IntPtr]::Size -eq 8) { $software = 'SOFTWARE\Wow6432Node' }
    if ([IntPtr]::Size -eq 8 -or $env:PROCESSOR_ARCHITEW6432) { $system = Join-Path $env:SystemRoot 'SysWOW64' }
    foreach ($unit in $units) {
        $key = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey("$software\Microsoft\Code Store Database\Distribution Units\$unit")
        if ($key) {
            $key.Close()
            "HKLM\SOFTWARE\Microsoft\Code Store Database\Distribution Units\$unit (32-bit registry view)"
        }
    }
    $inf = Join-Path $env:SystemRoot 'Inf'
    foreach ($folder in $inf, $system) {
        if (-not (Test-Path -LiteralPath $folder -PathType Container)) { throw "$folder is not there" }
    }
    $downloads = Join-Path $env:SystemRoot 'Downloaded Program Files'
    $files = @($infFiles | ForEach-Object { Join-Path $inf $_ })
    $files += @($systemFiles | ForEach-Object { Join-Path $system $_ })
    $files += @($downloadFiles | ForEach-Object { Join-Path $downloads $_ })
    foreach ($file in $files) {
        if (Test-Path -LiteralPath $file) { $file }
    }
}

# A log that cannot be written is said once, on standard error, and left alone.
function Write-Log([string]$line) {
    if (-not $ours) { return }
    try {
        [IO.File]::AppendAllText($log, "$line`r`n")
    } catch {
        $script:ours = $false
        [Console]::Error.WriteLine("korvane-deploy.ps1: $log cannot be written: $_")
    }
}

# The program's log as it wrote it, byte for byte, at the end of the log.
function Add-ProgramLog {
    $output = [IO.File]::ReadAllBytes($run)
    $stream = New-Object IO.FileStream $log, 'Append', 'Write'
    $stream.Write($output, 0, $output.Length)
    $stream.Close()
    [IO.File]::Delete($run)
    [Text.Encoding]::Default.GetString($output)
}

function Exit-Deploy([int]$code) {
    $meaning = @{ 0 = 'nothing of the toolkit remains'; 1 = 'stopped before the program ran'
        2 = 'the program refused: a Windows Installer package brought the toolkit; nothing was removed'
        3 = 'the program ran and something of the toolkit remains' }[$code]
    Write-Log "Result: $code ($meaning)"
    if ($ours) { $meaning += ", see $log" }
    Write-Output "Result: $code ($meaning)"
    exit $code
}

# After the program ran, what remains could not be told: that is not a run that stopped before.
function Stop-Deploy($reason) {
    [Console]::Error.WriteLine("korvane-deploy.ps1: $reason")
    Write-Log "Stopped: $reason"
    if ($ran) { Exit-Deploy 3 }
    Exit-Deploy 1
}

# PowerShell 2.0 would end a -File run that stopped with exit code 0.
trap { Stop-Deploy $_; exit 1 }

# The 64-bit Program Files from a 32-bit PowerShell too: Windows 7 and later name it
# ProgramW6432; before, the 32-bit one is its name followed by " (x86)".
$programFiles = $env:ProgramFiles
if ($env:PROCESSOR_ARCHITEW6432) { $programFiles = $programFiles -replace ' \(x86\)$', '' }
if ($env:ProgramW6432) { $programFiles = $env:ProgramW6432 }
$dir = Join-Path $programFiles 'KorvaneUninstall'
$log = Join-Path $dir 'KorvaneUninstall.log'
$run = Join-Path $dir 'KorvaneUninstall.run.log'
$exe = Join-Path $dir 'KorvaneUninstall.exe'
$source = Join-Path (Split-Path -Parent $MyInvocation.MyCommand.Path) 'KorvaneUninstall.exe'

# Program Files, where only administrators can create anything. A folder someone else made may
# already hold a file of theirs, which stays theirs to rewrite while this script writes it.
# Where Windows makes the creator the owner (XP and Server 2003 do by default), the folder may
# be the administrator's who ran the script first: Administrators become its owner here, so that
# the next run, as SYSTEM say, finds it theirs.
$administrators = New-Object Security.Principal.SecurityIdentifier 'S-1-5-32-544'
if (Test-Path -LiteralPath $dir) {
    # Not Get-Acl: it takes no -LiteralPath before PowerShell 3.0.
    $owner = (Get-Item -LiteralPath $dir).GetAccessControl().GetOwner([Security.Principal.SecurityIdentifier]).Value
    $me = [Security.Principal.WindowsIdentity]::GetCurrent().User.Value
    if (@('S-1-5-18', 'S-1-5-32-544', $me) -notcontains $owner) { throw "$dir was made by $owner" }
} else {
    New-Item -ItemType Directory -Path $dir | Out-Null
}
# Full control for SYSTEM and Administrators, on the folder and all in it, and nothing inherited.
# Not icacls: Windows XP has none, and Server 2003's cannot take inheritance away.
$acl = New-Object Security.AccessControl.DirectorySecurity
$acl.SetOwner($administrators)
$acl.SetAccessRuleProtection($true, $false)
foreach ($sid in 'S-1-5-18', 'S-1-5-32-544') {
    $who = New-Object Security.Principal.SecurityIdentifier $sid
    $grant = $who, 'FullControl', 'ContainerInherit, ObjectInherit', 'None', 'Allow'
    $acl.AddAccessRule((New-Object Security.AccessControl.FileSystemAccessRule -ArgumentList $grant))
}
(Get-Item -LiteralPath $dir).SetAccessControl($acl)
$ours = $true

# A run that was ended from outside left its program's log here: it goes into the log first.
if (Test-Path -LiteralPath $run) {
    Add-ProgramLog | Out-Null
    Write-Log 'Result: none (this run was ended before it finished)'
}
if ((Test-Path -LiteralPath $log) -and (Get-Item -LiteralPath $log).Length -ge 1MB) {
    $old = Join-Path $dir 'KorvaneUninstall.old.log'
    if (Test-Path -LiteralPath $old) { [IO.File]::Delete($old) }
    [IO.File]::Move($log, $old)
}
$now = [DateTime]::UtcNow.ToString('yyyy-MM-dd HH:mm:ss', [Globalization.CultureInfo]::InvariantCulture)
Write-Log "Run: $now UTC, computer $env:COMPUTERNAME, KorvaneUninstall $release, korvane-deploy.ps1"

if (-not (Get-Remains)) {
    $nothing = 'Nothing of the toolkit is on this machine: KorvaneUninstall.exe was not run.'
    Write-Log $nothing
    Write-Output $nothing
    Exit-Deploy 0
}
try {
    Copy-Item -LiteralPath $source -Destination $exe -Force
} catch {
    throw "KorvaneUninstall.exe could not be copied from $source into ${dir}: $_"
}
Start-Process -FilePath $exe -ArgumentList '/log' -Wait -NoNewWindow -RedirectStandardOutput $run
$ran = $true
# In the ANSI code page the program wrote it in.
if ((Add-ProgramLog).Contains('Korvane has been installed using Windows Installer, please use Add/Remove Programs')) {
    Exit-Deploy 2
}
$remains = @(Get-Remains)
foreach ($thing in $remains) { Write-Log "Remains: $thing" }
if ($remains.Count) { Exit-Deploy 3 }
Exit-Deploy 0
