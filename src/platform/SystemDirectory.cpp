#include "platform/SystemDirectory.h"

#include "platform/Modules.h"
#include "platform/StringJoin.h"

typedef UINT(WINAPI* PFN_GET_SYSTEM_WOW64_DIRECTORY_A)(LPSTR lpBuffer, UINT uSize);

namespace {

// Both directory calls answer a buffer that is too small with the size they need.
UINT FittingLength(UINT nResult, UINT nCapacity) {
    return nResult < nCapacity ? nResult : 0;
}

}  // namespace

UINT GetSystemDirectoryPreferWow64(LPSTR szBuffer, UINT nCapacity) {
    // Looked up on every call: the function is missing from 32-bit Windows before XP.
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    if (hKernel != NULL) {
        auto pfnGetSystemWow64Directory =
            GetProcAddressAs<PFN_GET_SYSTEM_WOW64_DIRECTORY_A>(hKernel, "GetSystemWow64DirectoryA");
        if (pfnGetSystemWow64Directory != NULL) {
            const UINT nResult = pfnGetSystemWow64Directory(szBuffer, nCapacity);
            if (nResult != 0) {
                // A Wow64 directory too long for the buffer is no reason to pick the other one.
                return FittingLength(nResult, nCapacity);
            }
        }
    }
    return FittingLength(GetSystemDirectoryA(szBuffer, nCapacity), nCapacity);
}

UINT GetWindowsDirectoryChecked(LPSTR szBuffer, UINT nCapacity) {
    return FittingLength(GetWindowsDirectoryA(szBuffer, nCapacity), nCapacity);
}

UINT GetSystemDirectoryChecked(LPSTR szBuffer, UINT nCapacity) {
    const UINT nResult = GetSystemDirectoryA(szBuffer, nCapacity);
    if (nResult == 0) {
        if (GetLastError() == ERROR_SUCCESS) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        }
        return 0;
    }
    if (nResult >= nCapacity) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return nResult;
}

BOOL JoinSystemPath(LPCSTR szFileName, LPSTR szPath, UINT nCapacity) {
    CHAR szDirectory[MAX_PATH + 1];
    if (GetSystemDirectoryChecked(szDirectory, sizeof(szDirectory)) == 0) {
        return FALSE;
    }
    if (!JoinStrings(szPath, nCapacity, {szDirectory, "\\", szFileName})) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}
