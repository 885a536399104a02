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

// Loads a library by its full path, never through the search path, so that the libraries it
// imports come from the system directory rather than from where this elevated process was
// started (often a Downloads folder). NULL on failure, with the error in GetLastError().
HMODULE LoadLibraryByPath(LPCSTR szPath);

// The same for a library of the system directory, named by its file name.
HMODULE LoadSystemLibrary(LPCSTR szFileName);

// Narrows the default library search to the system directory where Windows offers that, and
// otherwise takes at least the current directory out of it.
void RestrictLibrarySearchToSystemDirectory();
