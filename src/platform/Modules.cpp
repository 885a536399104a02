#include "platform/Modules.h"

#include "platform/SystemDirectory.h"

typedef BOOL(WINAPI* PFN_SET_DEFAULT_DLL_DIRECTORIES)(DWORD dwDirectoryFlags);

HMODULE LoadSystemLibrary(LPCSTR szFileName) {
    CHAR szPath[520];
    if (!JoinSystemPath(szFileName, szPath, sizeof(szPath))) {
        return NULL;
    }
    return LoadLibraryA(szPath);
}

void RestrictLibrarySearchToSystemDirectory() {
    // Absent on Windows versions without the KB2533623 loader; nothing to narrow there.
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    if (hKernel == NULL) {
        return;
    }
    auto pfnSetDefaultDllDirectories =
        GetProcAddressAs<PFN_SET_DEFAULT_DLL_DIRECTORIES>(hKernel, "SetDefaultDllDirectories");
    if (pfnSetDefaultDllDirectories != NULL) {
        pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}
