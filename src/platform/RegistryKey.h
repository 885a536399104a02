#pragma once

#include <windows.h>

typedef LSTATUS(WINAPI* PFN_REG_DELETE_KEY_EX_A)(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired,
                                                 DWORD Reserved);

// RegDeleteKeyExA is missing before Windows XP x64; it is looked up once per run.
extern BOOL g_bRegDeleteKeyExLookedUp;
extern PFN_REG_DELETE_KEY_EX_A g_pfnRegDeleteKeyExA;

// Owns one open registry key (or a predefined root placed in it) and closes it on every path.
class CRegistryKey {
public:
    CRegistryKey() = default;
    explicit CRegistryKey(HKEY hPredefinedKey) : m_hKey(hPredefinedKey) {}
    ~CRegistryKey() { Close(); }

    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // On failure the key held so far stays open.
    LSTATUS Open(HKEY hParent, LPCSTR szSubKey, REGSAM samDesired);
    LSTATUS Close();

    // ERROR_INVALID_DATA for a value that is not a REG_DWORD; the bytes read stay in dwValue.
    LSTATUS QueryDword(LPCSTR szValueName, DWORD& dwValue);
    // nChars: capacity in bytes on entry, bytes returned (terminator included) on success.
    // Accepts REG_SZ and REG_EXPAND_SZ, the latter unexpanded; the data must end with a NUL.
    LSTATUS QueryString(LPCSTR szValueName, LPSTR szBuffer, DWORD& nChars);

    // Deletes a child key that has no children of its own, in the view this key was opened in.
    LSTATUS DeleteChildKey(LPCSTR szSubKey);
    // Deletes szSubKey with all its descendants, deepest first; stops at the first failure and
    // leaves what was not reached yet.
    LSTATUS DeleteTree(LPCSTR szSubKey);

    HKEY Handle() const { return m_hKey; }
    REGSAM Wow64Flags() const { return m_samWow64; }

private:
    HKEY m_hKey = NULL;
    REGSAM m_samWow64 = 0;
};
