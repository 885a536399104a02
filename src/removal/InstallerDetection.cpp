#include "removal/InstallerDetection.h"

#include "platform/Modules.h"
#include "platform/RegistryKey.h"
#include "removal/KorvaneTables.h"

BOOL g_bMsiDetectionDone = FALSE;
BOOL g_bInstalledByWindowsInstaller = FALSE;

typedef UINT(WINAPI* PFN_MSI_ENUM_COMPONENTS_A)(DWORD iComponentIndex, LPSTR lpComponentBuf);

namespace {

const CHAR kSkipMsiCheck[] = "SkipMsiCheck";

// A readable per-user setting wins, even 0 over a machine-wide 1.
DWORD ReadSkipMsiCheck() {
    DWORD dwSkip = 0;
    CRegistryKey key;
    LSTATUS status = key.Open(HKEY_CURRENT_USER, g_szSettingsKey, KEY_QUERY_VALUE);
    if (status == ERROR_SUCCESS) {
        status = key.QueryDword(kSkipMsiCheck, dwSkip);
        if (status == ERROR_MORE_DATA) {
            // The platform leaves the buffer undefined then.
            dwSkip = 0;
        }
        key.Close();
    }
    if (status != ERROR_SUCCESS &&
        key.Open(HKEY_LOCAL_MACHINE, g_szSettingsKey, KEY_QUERY_VALUE) == ERROR_SUCCESS) {
        // Whatever fits in four bytes counts here, whatever its type.
        const DWORD dwBefore = dwSkip;
        DWORD cbData = sizeof(dwSkip);
        if (RegQueryValueExA(key.Handle(), kSkipMsiCheck, NULL, NULL,
                             reinterpret_cast<LPBYTE>(&dwSkip), &cbData) == ERROR_MORE_DATA) {
            dwSkip = dwBefore;
        }
        key.Close();
    }
    return dwSkip;
}

BOOL IsToolkitComponent(LPCSTR szComponentId) {
    for (const MSI_COMPONENT& component : g_MsiComponents) {
        if (lstrcmpiA(szComponentId, component.szComponentId) == 0) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL FindToolkitComponent() {
    // Stays loaded for the rest of the run.
    HMODULE hMsi = LoadSystemLibrary("msi.dll");
    if (hMsi == NULL) {
        return FALSE;
    }
    auto pfnMsiEnumComponents =
        GetProcAddressAs<PFN_MSI_ENUM_COMPONENTS_A>(hMsi, "MsiEnumComponentsA");
    if (pfnMsiEnumComponents == NULL) {
        return FALSE;
    }
    CHAR szComponentId[39];
    for (DWORD iIndex = 0; pfnMsiEnumComponents(iIndex, szComponentId) == ERROR_SUCCESS; ++iIndex) {
        szComponentId[sizeof(szComponentId) - 1] = '\0';
        if (IsToolkitComponent(szComponentId)) {
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

BOOL IsInstalledByWindowsInstaller() {
    if (!g_bMsiDetectionDone) {
        g_bInstalledByWindowsInstaller = ReadSkipMsiCheck() == 0 && FindToolkitComponent();
        g_bMsiDetectionDone = TRUE;
    }
    return g_bInstalledByWindowsInstaller;
}
