#pragma once

#include <windows.h>

// Windows Installer components of the toolkit's own packages.
struct MSI_COMPONENT {
    LPCSTR szComponentId;
};

extern const MSI_COMPONENT g_MsiComponents[3];

// Where the administrator's settings live, under HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE.
extern const CHAR g_szSettingsKey[];

// INF files that setup of the toolkit leaves in the Windows INF folder.
struct INF_ENTRY {
    LPCSTR szInfName;
    LPCSTR szComponent;  // the toolkit component the file belongs to
    BOOL bRunUninstall;  // whether its DefaultUninstall section runs before it is deleted
};

extern const INF_ENTRY g_InfFiles[6];

// Where the browser's code download registers distribution units, below HKEY_LOCAL_MACHINE.
extern const CHAR g_szDistributionUnitsKey[];
