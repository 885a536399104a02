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

// The toolkit's two distribution units, in the order they are removed.
struct DISTRIBUTION_UNIT {
    LPCSTR szFileName;  // its main library in the system directory
    LPCSTR szClsid;
};

extern const DISTRIBUTION_UNIT g_DistributionUnits[2];

// The toolkit's binaries in the system directory.
extern const LPCSTR g_SystemFiles[9];

// The toolkit's files in the browser's "Downloaded Program Files" folder.
extern const LPCSTR g_DownloadFiles[2];
