#pragma once

#include <windows.h>

// Windows Installer components of the toolkit's own packages.
struct MSI_COMPONENT {
    LPCSTR szComponentId;
};

extern const MSI_COMPONENT g_MsiComponents[3];

// Where the administrator's settings live, under HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE.
extern const CHAR g_szSettingsKey[];
