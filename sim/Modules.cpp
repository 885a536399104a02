// Run-time linking on the simulated machine: libraries are files that carry a module image,
// found by full path or by the library search, reference-counted while loaded.
#include "Internal.h"

namespace sim {

namespace {

UINT WINAPI SimMsiEnumComponentsA(DWORD iComponentIndex, LPSTR lpComponentBuf) {
    InstallerState& installer = Machine::Current().installer();
    ++installer.nEnumerations;
    if (installer.failAt && installer.failAt->first == iComponentIndex) {
        return installer.failAt->second;
    }
    if (iComponentIndex >= installer.components.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    // Windows Installer writes a braced GUID: 38 characters and the terminator at most.
    const std::string& component = installer.components[iComponentIndex];
    const size_t nLength = component.size() < 38 ? component.size() : 38;
    memcpy(lpComponentBuf, component.data(), nLength);
    lpComponentBuf[nLength] = '\0';
    return ERROR_SUCCESS;
}

UINT WINAPI PlantedMsiEnumComponentsA(DWORD iComponentIndex, LPSTR lpComponentBuf) {
    ++Machine::Current().installer().nPlantedCalls;
    if (iComponentIndex > 0) {
        return ERROR_NO_MORE_ITEMS;
    }
    strcpy(lpComponentBuf, "{5D07C3B9-2E8A-4F61-A4C2-9B3E05D7F1A6}");
    return ERROR_SUCCESS;
}

// The directories a search goes through, in order. It starts in first (the program's
// directory, or for LOAD_WITH_ALTERED_SEARCH_PATH the loaded library's own).
std::vector<std::string> SearchDirectories(const std::string& first, bool bAltered) {
    const Machine& machine = Machine::Current();
    const DWORD dwFlags = machine.DefaultDllDirectories();
    if (dwFlags != 0) {
        std::vector<std::string> directories;
        if (bAltered || (dwFlags & LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
            directories.push_back(first);
        }
        directories.push_back(machine.ProcessSystemDirectory());
        return directories;
    }
    // The classic order: first, the directory SetDllDirectoryA named, the system directory, the
    // Windows directory, then the current directory unless SetDllDirectoryA was called.
    std::vector<std::string> directories{first};
    if (machine.DllDirectory() && !machine.DllDirectory()->empty()) {
        directories.push_back(*machine.DllDirectory());
    }
    directories.push_back(machine.ProcessSystemDirectory());
    directories.push_back(machine.shape().windowsDirectory);
    if (!machine.DllDirectory()) {
        directories.push_back(machine.shape().currentDirectory);
    }
    return directories;
}

std::vector<std::string> SearchDirectories() {
    return SearchDirectories(Machine::Current().shape().applicationDirectory, false);
}

bool HasPath(std::string_view name) {
    return name.find_first_of("\\/:") != std::string_view::npos;
}

}  // namespace

std::string FindLibraryFile(std::string_view name) {
    Machine& machine = Machine::Current();
    for (const std::string& directory : SearchDirectories()) {
        const std::string candidate = directory + "\\" + std::string(name);
        if (machine.files().Exists(candidate) && !machine.files().IsDirectory(candidate)) {
            return candidate;
        }
    }
    return std::string();
}

ModuleImagePtr EmptyImage(std::string name) {
    auto image = std::make_shared<ModuleImage>();
    image->name = std::move(name);
    return image;
}

ModuleImagePtr Kernel32Image() {
    ModuleImagePtr image = EmptyImage("kernel32.dll");
    image->exports["GetSystemWow64DirectoryA"] = AsFarProc(&GetSystemWow64DirectoryA);
    image->exports["SetDefaultDllDirectories"] = AsFarProc(&SetDefaultDllDirectories);
    image->exports["SetDllDirectoryA"] = AsFarProc(&SetDllDirectoryA);
    return image;
}

ModuleImagePtr Advapi32Image() {
    ModuleImagePtr image = EmptyImage("advapi32.dll");
    image->exports["RegDeleteKeyExA"] = AsFarProc(&RegDeleteKeyExA);
    return image;
}

ModuleImagePtr User32Image() {
    return EmptyImage("user32.dll");
}

ModuleImagePtr MsiImage() {
    ModuleImagePtr image = EmptyImage("msi.dll");
    image->exports["MsiEnumComponentsA"] = AsFarProc(&SimMsiEnumComponentsA);
    return image;
}

ModuleImagePtr PlantedMsiImage() {
    ModuleImagePtr image = EmptyImage("msi.dll (planted)");
    image->exports["MsiEnumComponentsA"] = AsFarProc(&PlantedMsiEnumComponentsA);
    return image;
}

}  // namespace sim

using sim::Machine;

namespace sim {

namespace {

HMODULE LoadLibraryWithFlags(const std::string& name, DWORD dwFlags) {
    Machine& machine = Machine::Current();
    Machine::Kernel& modules = machine.kernel();
    std::string path;
    if (name.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    const bool bHasPath = HasPath(name);
    if (bHasPath) {
        path = machine.Redirect(AbsolutePath(name));
    } else {
        if (HMODULE hLoaded = modules.FindByBaseName(name)) {
            ++modules.loaded[reinterpret_cast<uintptr_t>(hLoaded)].nReferences;
            return hLoaded;
        }
        path = FindLibraryFile(name);
    }
    if (path.empty() || !machine.files().Exists(path) || machine.files().IsDirectory(path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    ModuleImagePtr image = machine.files().GetModule(path);
    if (image == nullptr) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return NULL;
    }
    modules.loadHistory.push_back(path);
    const bool bAltered = bHasPath && (dwFlags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0;
    modules.importSearches[path] = SearchDirectories(
        bAltered ? ParentOf(path) : machine.shape().applicationDirectory, bAltered);
    if (HMODULE hLoaded = modules.Find(path)) {
        ++modules.loaded[reinterpret_cast<uintptr_t>(hLoaded)].nReferences;
        return hLoaded;
    }
    return modules.Add(path, image, false);
}

}  // namespace

}  // namespace sim

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    const std::string name = lpLibFileName == NULL ? "" : lpLibFileName;
    if (auto error = SIM_FAULT("LoadLibraryA", name)) {
        SetLastError(*error);
        return NULL;
    }
    return sim::LoadLibraryWithFlags(name, 0);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    const std::string name = lpLibFileName == NULL ? "" : lpLibFileName;
    if (auto error = SIM_FAULT("LoadLibraryExA", name)) {
        SetLastError(*error);
        return NULL;
    }
    if (hFile != NULL || (dwFlags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return sim::LoadLibraryWithFlags(name, dwFlags);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    Machine::Kernel& modules = Machine::Current().kernel();
    auto it = modules.loaded.find(reinterpret_cast<uintptr_t>(hModule));
    if (auto error = SIM_FAULT(
            "GetProcAddress", (it == modules.loaded.end() ? std::string() : it->second.path) + "!" +
                                  (lpProcName == NULL ? "" : lpProcName))) {
        SetLastError(*error);
        return NULL;
    }
    if (it == modules.loaded.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    auto itExport = it->second.image->exports.find(lpProcName == NULL ? "" : lpProcName);
    if (itExport == it->second.image->exports.end()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    return itExport->second;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Machine::Kernel& modules = Machine::Current().kernel();
    auto it = modules.loaded.find(reinterpret_cast<uintptr_t>(hLibModule));
    if (auto error = SIM_FAULT("FreeLibrary", it == modules.loaded.end() ? "" : it->second.path)) {
        SetLastError(*error);
        return FALSE;
    }
    if (it == modules.loaded.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!it->second.bPinned && --it->second.nReferences == 0) {
        modules.loaded.erase(it);
    }
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    Machine& machine = Machine::Current();
    const std::string name = lpModuleName == NULL ? "" : lpModuleName;
    if (auto error = SIM_FAULT("GetModuleHandleA", name)) {
        SetLastError(*error);
        return NULL;
    }
    HMODULE hModule = sim::HasPath(name)
                          ? machine.kernel().Find(machine.Redirect(sim::AbsolutePath(name)))
                          : machine.kernel().FindByBaseName(name);
    if (hModule == NULL) {
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return hModule;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("SetDllDirectoryA", lpPathName == NULL ? "" : lpPathName)) {
        SetLastError(*error);
        return FALSE;
    }
    machine.SetDllDirectory(lpPathName == NULL ? std::nullopt
                                               : std::optional<std::string>(lpPathName));
    return TRUE;
}

BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("SetDefaultDllDirectories", "")) {
        SetLastError(*error);
        return FALSE;
    }
    if (DirectoryFlags == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    machine.SetDefaultDllDirectories(DirectoryFlags);
    return TRUE;
}

}  // extern "C"
