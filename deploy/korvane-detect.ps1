# korvane-detect.ps1, KorvaneUninstall @VERSION@: tells whether anything of the Velmor Korvane
# toolkit is on this machine, of all that KorvaneUninstall.exe removes. It only reads: it
# changes nothing and needs nothing beside it. PowerShell 2.0 or later, 32-bit or 64-bit, as
# SYSTEM or an administrator. Nothing in it is to be edited.
#
# As the detection script of an app whose "install" is the removal (Intune's custom detection
# script of a Win32 app, Configuration Manager's script detection method):
#   nothing of the toolkit remains:  one line on standard output, exit code 0 ("installed")
#   something remains:               nothing on standard output, exit code 0 ("not installed")
# With -Remediation, or as the detection script of Intune Remediations (which gives it no
# arguments, and which the Intune Management Extension keeps in %windir%\IMECache\HealthScripts):
#   nothing of the toolkit remains:  one line on standard output, exit code 0 (no issue)
#   something remains:               what remains on standard output, exit code 1 (issue found)
# When it cannot tell (a folder of Windows missing, a key it may not read), it says why on
# standard error and ends with exit code 2, which both tools report as a failed detection.
param([switch]$Remediation)
$ErrorActionPreference = 'Stop'
trap { [Console]::Error.WriteLine("korvane-detect.ps1: $_"); exit 2 }
# Intune Remediations give a detection script no arguments; their agent keeps it there.
if ($MyInvocation.MyCommand.Path -like '*\IMECache\HealthScripts\*') { $Remediation = $true }

# What the program removes, in the order it removes them. The toolkit is 32-bit: on 64-bit
# Windows its binaries are in SysWOW64, and its units in the 32-bit registry view, which a
# 64-bit PowerShell reaches through Wow6432Node.
$units = '{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}', '{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}'
$infFiles = 'qlvn2.inf', 'qlvn.inf', 'Korvane.inf', 'warden.inf', 'tm.inf', 'plotra.inf'
$systemFiles = 'vlkorvan.dll', 'vlwarden.dll', 'vlplotra.dll', 'vltemplo.dll', 'vlpluser.exe',
    'vlplhost.exe', 'vlbroker.exe', 'vlkvuser.exe', 'vlkvhost.exe'
$downloadFiles = 'qlvn.osd', 'qlvn2.inf'

$software = 'SOFTWARE'
$system = Join-Path $env:SystemRoot 'System32'
if ([IntPtr]::Size -eq 8) { $software = 'SOFTWARE\Wow6432Node' }
if ([IntPtr]::Size -eq 8 -or $env:PROCESSOR_ARCHITEW6432) { $system = Join-Path $env:SystemRoot 'SysWOW64' }
$remains = @()
foreach ($unit in $units) {
    $key = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey("$software\Microsoft\Code Store Database\Distribution Units\$unit")
    if ($key) {
        $key.Close()
        $remains += "HKLM\SOFTWARE\Microsoft\Code Store Database\Distribution Units\$unit (32-bit registry view)"
    }
}
# A folder that ought to be there and is not would make every file in it look gone.
$inf = Join-Path $env:SystemRoot 'Inf'
foreach ($folder in $inf, $system) {
    if (-not (Test-Path -LiteralPath $folder -PathType Container)) { throw "$folder is not there" }
}
$downloads = Join-Path $env:SystemRoot 'Downloaded Program Files'
$files = @($infFiles | ForEach-Object { Join-Path $inf $_ })
$files += @($systemFiles | ForEach-Object { Join-Path $system $_ })
$files += @($downloadFiles | ForEach-Object { Join-Path $downloads $_ })
foreach ($file in $files) {
    if (Test-Path -LiteralPath $file) { $remains += $file }
}

if (-not $remains) {
    Write-Output 'Nothing of the Velmor Korvane toolkit is on this machine.'
    exit 0
}
if ($Remediation) {
    Write-Output ('Remains: ' + ($remains -join '; '))
    exit 1
}
exit 0
