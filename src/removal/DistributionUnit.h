#pragma once

#include <windows.h>

// Removes one distribution unit registered by the browser's code download: through the
// control cache when the system directory is found, then by hand (its INF uninstall section,
// INF and OSD files, registry tree), then a delete-only sweep of the toolkit's INF files.
// szFileName: its main library in the system directory; szClsid: the braced CLSID.
void UninstallDistributionUnit(LPCSTR szFileName, LPCSTR szClsid);

// Whether the unit's key under the Code Store Database opens for reading.
BOOL IsDistributionUnitRegistered(LPCSTR szClsid);

// Asks the control cache (OCCACHE.DLL) to remove the unit; its HRESULT.
HRESULT DeleteInstalledUnit(LPCSTR szPath, LPCSTR szClsid);

// Removes what the unit's download information names, then the unit's registry tree.
void DeleteDistributionUnit(LPCSTR szClsid);
