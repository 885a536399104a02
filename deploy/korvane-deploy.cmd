@echo off
rem korvane-deploy.cmd, KorvaneUninstall @VERSION@: takes the Velmor Korvane toolkit off this
rem machine with KorvaneUninstall.exe, which must be in the same folder as this file (a local
rem folder or a share). Nothing in it is to be edited. It needs no PowerShell: it is for Windows
rem XP SP3 and Server 2003 SP2, and for machines where scripts are turned off; elsewhere
rem korvane-deploy.ps1 does the same. Start it as SYSTEM (a startup script, a deployment tool)
rem or from an elevated cmd.exe, from any folder:
rem
rem     \\server\share\korvane-deploy.cmd
rem
rem Each run:
rem   1. makes the folder KorvaneUninstall in the 64-bit Program Files (also from a 32-bit
rem      cmd.exe) and, on Windows Vista and later, leaves it to SYSTEM and Administrators alone;
rem      on XP and Server 2003 it keeps the rights of Program Files;
rem   2. looks for the toolkit, and where nothing of it is here ends at once, without copying or
rem      running anything;
rem   3. copies KorvaneUninstall.exe into that folder and runs it there;
rem   4. looks at the machine again and ends with one of these exit codes:
rem        0  nothing of the toolkit remains (or there was none to begin with)
rem        1  it stopped before the program ran: the program could not be copied, or the folder
rem           could not be made or secured; the reason goes to standard error and to the log
rem        2  the program refused, because a Windows Installer package brought the toolkit;
rem           nothing was removed
rem        3  the program ran and something of the toolkit remains; the log names each thing
rem The log is KorvaneUninstall.log in that folder. Each run adds a block to it that begins with
rem a line "Run: " (the time in UTC, the computer, the release) and ends with a line "Result: "
rem (the exit code and what it means); the program's own log stands between. A log that has
rem reached 1 MB is kept as KorvaneUninstall.old.log, in place of an older one, and a new one
rem begun. A .cmd file cannot carry a signature: check it against the release's SHA256SUMS.
setlocal EnableExtensions DisableDelayedExpansion
set "release=@VERSION@"
rem Programs by their full path: cmd.exe looks in the current folder first, which may be a share.
set "system=%SystemRoot%\System32"

rem The toolkit is 32-bit: on 64-bit Windows its binaries are in SysWOW64, and its units in the
rem 32-bit registry view, which a 64-bit cmd.exe reaches through Wow6432Node.
set "toolkit_system=%SystemRoot%\System32"
set "units=HKLM\SOFTWARE\Microsoft\Code Store Database\Distribution Units"
if defined PROCESSOR_ARCHITEW6432 set "toolkit_system=%SystemRoot%\SysWOW64"
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" set "toolkit_system=%SystemRoot%\SysWOW64"
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" set "units=HKLM\SOFTWARE\Wow6432Node\Microsoft\Code Store Database\Distribution Units"
rem What the program removes, in the order it removes them.
set "unit_list={3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D} {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}"
set "inf_list=qlvn2.inf qlvn.inf Korvane.inf warden.inf tm.inf plotra.inf"
set "system_list=vlkorvan.dll vlwarden.dll vlplotra.dll vltemplo.dll vlpluser.exe vlplhost.exe vlbroker.exe vlkvuser.exe vlkvhost.exe"
set "download_list=qlvn.osd qlvn2.inf"

rem The 64-bit Program Files from a 32-bit cmd.exe too: Windows 7 and later name it ProgramW6432;
rem before, the 32-bit one is its name followed by " (x86)".
set "programs=%ProgramFiles%"
if defined PROCESSOR_ARCHITEW6432 set "programs=%ProgramFiles: (x86)=%"
if defined ProgramW6432 set "programs=%ProgramW6432%"
set "dir=%programs%\KorvaneUninstall"
set "log=%dir%\KorvaneUninstall.log"
set "run=%dir%\KorvaneUninstall.run.log"
set "ours="

rem Where only administrators can create anything; then, on Windows Vista and later, SYSTEM and
rem Administrators alone, nothing inherited. Windows XP has no icacls, and that of Server 2003
rem cannot take inheritance away.
if not exist "%dir%\" mkdir "%dir%" 2>nul
if not exist "%dir%\" set "why=%dir% could not be made" & goto stopped
set "nt=6"
for /f "tokens=3" %%v in ('%system%\reg.exe query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentVersion 2^>nul') do set "nt=%%v"
if "%nt:~0,2%"=="5." goto secured
"%system%\icacls.exe" "%dir%" /reset >nul 2>&1
"%system%\icacls.exe" "%dir%" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F >nul 2>&1
if errorlevel 1 set "why=%dir% could not be left to SYSTEM and Administrators alone" & goto stopped
:secured
set "ours=1"

rem A run that was ended from outside left its program's log here: it goes into the log first.
if not exist "%run%" goto rotate
type "%run%" >>"%log%"
>>"%log%" echo Result: none (this run was ended before it finished)
del "%run%"
:rotate
if exist "%log%" for %%f in ("%log%") do if %%~zf GEQ 1048576 move /y "%log%" "%dir%\KorvaneUninstall.old.log" >nul
call :utc_now
>>"%log%" echo Run: %now%, computer %COMPUTERNAME%, KorvaneUninstall %release%, %~nx0
rem A folder that ought to be there and is not would make every file in it look gone.
if not exist "%SystemRoot%\Inf\" set "why=%SystemRoot%\Inf is not there" & goto stopped
if not exist "%toolkit_system%\" set "why=%toolkit_system% is not there" & goto stopped

call :look
if not "%remains%"=="0" goto copy
>>"%log%" echo Nothing of the toolkit is on this machine: KorvaneUninstall.exe was not run.
echo Nothing of the toolkit is on this machine: KorvaneUninstall.exe was not run.
goto result

:copy

copy /y "%~dp0KorvaneUninstall.exe" "%dir%\KorvaneUninstall.exe" >nul
if errorlevel 1 set "why=KorvaneUninstall.exe could not be copied from %~dp0 into %dir%" & goto stopped
"%dir%\KorvaneUninstall.exe" /log >"%run%"
type "%run%" >>"%log%"
"%system%\find.exe" "Korvane has been installed using Windows Installer, please use Add/Remove Programs" "%run%" >nul
set "refused=%errorlevel%"
del "%run%"
if "%refused%"=="0" set "remains=refused" & goto result
call :look log

:result
set "code=3" & set "meaning=the program ran and something of the toolkit remains"
if "%remains%"=="0" set "code=0" & set "meaning=nothing of the toolkit remains"
if "%remains%"=="refused" set "code=2" & set "meaning=the program refused: a Windows Installer package brought the toolkit; nothing was removed"
>>"%log%" echo Result: %code% (%meaning%)
echo Result: %code% (%meaning%), see %log%
exit /b %code%

:stopped
>&2 echo korvane-deploy.cmd: %why%: nothing was run.
if not defined ours exit /b 1
>>"%log%" echo Stopped: %why%
>>"%log%" echo Result: 1 (stopped before the program ran)
exit /b 1

rem Counts in remains what of the toolkit is on the machine; with the argument log, also names
rem each thing in the log.
:look
set "remains=0"
for %%u in (%unit_list%) do call :look_key "%%u" %1
for %%f in (%inf_list%) do call :look_file "%SystemRoot%\Inf\%%f" %1
for %%f in (%system_list%) do call :look_file "%toolkit_system%\%%f" %1
for %%f in (%download_list%) do call :look_file "%SystemRoot%\Downloaded Program Files\%%f" %1
goto :eof

rem reg.exe says 1 for a key that is not there; anything else it says, or a reg.exe that does
rem not start, tells nothing, and the key counts as there.
:look_key
"%system%\reg.exe" query "%units%\%~1" >nul 2>&1
if "%errorlevel%"=="1" goto :eof
set /a remains+=1
if not "%~2"=="log" goto :eof
>>"%log%" echo Remains: HKLM\SOFTWARE\Microsoft\Code Store Database\Distribution Units\%~1 (32-bit registry view)
goto :eof

:look_file
if not exist "%~1" goto :eof
set /a remains+=1
if "%~2"=="log" >>"%log%" echo Remains: %~1
goto :eof

rem Sets now to the time in UTC. makecab.exe reports the local time in one form whatever the
rem language, and ActiveTimeBias is UTC minus local time in minutes: cmd.exe has no other clock
rem that does not depend on the language. Without them, it is the local time as cmd.exe gives it.
:utc_now
set "now=%DATE% %TIME% local time"
set "bias=" & set "stamp=" & set "number=0"
for /f "tokens=1,3" %%a in ('%system%\reg.exe query HKLM\SYSTEM\CurrentControlSet\Control\TimeZoneInformation /v ActiveTimeBias 2^>nul') do if /i "%%a"=="ActiveTimeBias" set /a "bias=%%b"
if not defined bias goto :eof
pushd "%dir%"
"%system%\makecab.exe" /D RptFileName=makecab.rpt /D InfFileName=makecab.inf /f nul >nul 2>&1
popd
if exist "%dir%\makecab.rpt" for /f "usebackq tokens=1-7" %%a in ("%dir%\makecab.rpt") do if "%%a %%b"=="MakeCAB Report:" set "stamp=%%d %%e %%f %%g"
del "%dir%\makecab.rpt" "%dir%\makecab.inf" 2>nul
if not defined stamp goto :eof
for /f "tokens=1-6 delims=: " %%a in ("%stamp%") do call :utc_from %%a %%b %%c %%d %%e %%f
goto :eof

rem The report's date, "Dec 10 10:47:17 2026" as arguments, as a day number, moved by the bias,
rem and back. Each number has a 1 before it: set /a reads 08 as a faulty octal number.
:utc_from
set "day=0%2"
set /a "day=1%day:~-2%-100, hour=1%3-100, minute=1%4-100, year=%6, month=0"
for %%m in (Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec) do call :month_of %%m %1
set /a "a=(14-month)/12, y=year+4800-a, m=month+12*a-3"
set /a "days=day+(153*m+2)/5+365*y+y/4-y/100+y/400-32045"
set /a "minutes=hour*60+minute+bias, shift=(minutes+2880)/1440-2, minutes-=shift*1440, days+=shift"
set /a "l=days+68569, n=4*l/146097, l-=(146097*n+3)/4, i=4000*(l+1)/1461001, l=l-1461*i/4+31"
set /a "j=80*l/2447, day=l-2447*j/80+100, l=j/11, month=j+2-12*l+100, year=(n-49)*100+i+l"
set /a "hour=minutes/60, minute=minutes-hour*60+100, hour+=100"
set "now=%year%-%month:~1%-%day:~1% %hour:~1%:%minute:~1%:%5 UTC"
goto :eof

:month_of
set /a "number+=1"
if "%1"=="%2" set /a "month=number"
goto :eof
