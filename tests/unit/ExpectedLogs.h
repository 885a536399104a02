#pragma once
// Whole logs the simulated machine's default shape produces (C:\WINDOWS, 64-bit Windows, a
// 32-bit process, the browser engine at 11.00.9600.16428).

// Nothing of the toolkit on the machine: every stage visited, nothing found.
inline const char kCleanMachineLog[] =
    "Started UninstallKorvane\n"
    "IE Version is: 1100\n"
    "Uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}\n"
    "\tIt wasnt registered\n"
    "Completed uninstalling distribution unit: {3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}\n"
    "Uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}\n"
    "\tIt wasnt registered\n"
    "Completed uninstalling distribution unit: {2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}\n"
    "Final check and removal ...\n"
    "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
    "Looking for: [qlvn2.inf] - not found. OK\n"
    "Looking for: [qlvn.inf] - not found. OK\n"
    "Looking for: [Korvane.inf] - not found. OK\n"
    "Looking for: [warden.inf] - not found. OK\n"
    "Looking for: [tm.inf] - not found. OK\n"
    "Looking for: [plotra.inf] - not found. OK\n"
    "[Info] DeleteKorvaneFiles...\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkorvan.dll] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlwarden.dll] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplotra.dll] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vltemplo.dll] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlpluser.exe] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplhost.exe] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlbroker.exe] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvuser.exe] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvhost.exe] - not found. OK\n"
    "[Info] DeleteKorvaneOSDFiles...\n"
    "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn.osd] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn2.inf] - not found. OK\n"
    "Leaving UninstallKorvane\n";
