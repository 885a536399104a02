#include "platform/RegistryKey.h"

#include "platform/Modules.h"

BOOL g_bRegDeleteKeyExLookedUp = FALSE;
PFN_REG_DELETE_KEY_EX_A g_pfnRegDeleteKeyExA = NULL;

namespace {

const REGSAM kWow64ViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

}  // namespace

LSTATUS CRegistryKey::Open(HKEY hParent, LPCSTR szSubKey, REGSAM samDesired) {
    HKEY hKey = NULL;
    const LSTATUS status = RegOpenKeyExA(hParent, szSubKey, 0, samDesired, &hKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Close();
    m_hKey = hKey;
    m_samWow64 = samDesired & kWow64ViewMask;
    return ERROR_SUCCESS;
}

LSTATUS CRegistryKey::Close() {
    LSTATUS status = ERROR_SUCCESS;
    if (m_hKey != NULL) {
        status = RegCloseKey(m_hKey);
        m_hKey = NULL;
    }
    m_samWow64 = 0;
    return status;
}

LSTATUS CRegistryKey::QueryDword(LPCSTR szValueName, DWORD& dwValue) {
    DWORD dwType = REG_NONE;
    DWORD cbData = sizeof(dwValue);
    const LSTATUS status = RegQueryValueExA(m_hKey, szValueName, NULL, &dwType,
                                            reinterpret_cast<LPBYTE>(&dwValue), &cbData);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return dwType == REG_DWORD ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LSTATUS CRegistryKey::QueryString(LPCSTR szValueName, LPSTR szBuffer, DWORD& nChars) {
    DWORD cbData = nChars;
    nChars = 0;
    if (szBuffer != NULL && cbData == 0) {
        // No room even for the empty string.
        return ERROR_MORE_DATA;
    }
    DWORD dwType = REG_NONE;
    const LSTATUS status = RegQueryValueExA(m_hKey, szValueName, NULL, &dwType,
                                            reinterpret_cast<LPBYTE>(szBuffer), &cbData);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATA;
    }
    if (szBuffer != NULL) {
        if (cbData == 0) {
            szBuffer[0] = '\0';
        } else if (szBuffer[cbData - 1] != '\0') {
            return ERROR_INVALID_DATA;
        }
    }
    nChars = cbData;
    return ERROR_SUCCESS;
}

LSTATUS CRegistryKey::DeleteChildKey(LPCSTR szSubKey) {
    if (!g_bRegDeleteKeyExLookedUp) {
        HMODULE hAdvapi = GetModuleHandleA("Advapi32.dll");
        g_pfnRegDeleteKeyExA =
            hAdvapi != NULL ? GetProcAddressAs<PFN_REG_DELETE_KEY_EX_A>(hAdvapi, "RegDeleteKeyExA")
                            : NULL;
        g_bRegDeleteKeyExLookedUp = TRUE;
    }
    if (g_pfnRegDeleteKeyExA != NULL) {
        return g_pfnRegDeleteKeyExA(m_hKey, szSubKey, m_samWow64, 0);
    }
    return RegDeleteKeyA(m_hKey, szSubKey);
}

LSTATUS CRegistryKey::DeleteTree(LPCSTR szSubKey) {
    CRegistryKey child;
    LSTATUS status = child.Open(m_hKey, szSubKey, KEY_READ | KEY_WRITE | m_samWow64);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    for (;;) {
        // Always index 0: each pass removes the subkey it found.
        CHAR szName[256];
        DWORD nName = sizeof(szName);
        if (RegEnumKeyExA(child.m_hKey, 0, szName, &nName, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS) {
            break;
        }
        status = child.DeleteTree(szName);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    child.Close();
    return DeleteChildKey(szSubKey);
}
