#include "platform/Modules.h"

#include "platform/SystemDirectory.h"

typedef BOOL(WINAPI* PFN_SET_DEFAULT_DLL_DIRECTORIES)(DWORD dwDirectoryFlags);
typedef BOOL(WINAPI* PFN_SET_DLL_DIRECTORY_A)(LPCSTR lpPathName);

namespace {

// A kernel32 export that older Windows versions lack: NULL there.
template <typename TFunction>
TFunction KernelExport(LPCSTR szName) {
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    return hKernel != NULL ? GetProcAddressAs<TFunction>(hKernel, szName) : NULL;
}

}  // namespace

HMODULE LoadLibraryByPath(LPCSTR szPath) {
    // Where the default search is narrowed to the system directory, the library's own imports
    // are looked for there too.
    if (KernelExport<PFN_SET_DEFAULT_DLL_DIRECTORIES>("SetDefaultDllDirectories") != NULL) {
        return LoadLibraryA(szPath);
    }
    // Elsewhere they are looked for beside the library first, not beside this program.
    return LoadLibraryExA(szPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(LPCSTR szFileName) {
    CHAR szPath[520];
    if (!JoinSystemPath(szFileName, szPath, sizeof(szPath))) {
        return NULL;
    }
    return LoadLibraryByPath(szPath);
}

void RestrictLibrarySearchToSystemDirectory() {
    auto pfnSetDefaultDllDirectories =
        KernelExport<PFN_SET_DEFAULT_DLL_DIRECTORIES>("SetDefaultDllDirectories");
    if (pfnSetDefaultDllDirectories != NULL &&
        pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    // Windows before the KB2533623 loader: at least the current directory leaves the search.
    auto pfnSetDllDirectoryA = KernelExport<PFN_SET_DLL_DIRECTORY_A>("SetDllDirectoryA");
    if (pfnSetDllDirectoryA != NULL) {
        pfnSetDllDirectoryA("");
    }
}
