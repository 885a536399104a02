#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct CModuleDeleter {
    void operator()(HMODULE hModule) const { FreeLibrary(hModule); }
};
// A library loaded at run time, released when the owner goes out of scope.
using CUniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, CModuleDeleter>;

// GetProcAddress typed as the export's real signature.
template <typename TFunction>
TFunction GetProcAddressAs(HMODULE hModule, LPCSTR szProcName) {
    // The detour through void (*)(void) is the sanctioned way between unrelated function types.
    return reinterpret_cast<TFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(hModule, szProcName)));
}

// Loads a library of the system directory by its full path, never through the search path:
// this process runs elevated, often from a Downloads folder. NULL on failure, with the error
// in GetLastError().
HMODULE LoadSystemLibrary(LPCSTR szFileName);

// Narrows the default library search to the system directory where Windows offers that.
void RestrictLibrarySearchToSystemDirectory();
