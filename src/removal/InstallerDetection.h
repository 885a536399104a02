#pragma once

#include <windows.h>

// The answer is worked out once per process; later calls return it unchanged.
extern BOOL g_bMsiDetectionDone;
extern BOOL g_bInstalledByWindowsInstaller;

// Whether a Windows Installer package brought the toolkit. Never fails: every obstacle
// (no settings, no msi.dll, an enumeration error) counts as "no".
BOOL IsInstalledByWindowsInstaller();
