// The machine itself: its shape and default contents, its directories, fault rules and the
// table of kernel objects.
#include <stdio.h>
#include <stdlib.h>

#include "Internal.h"

namespace sim {

namespace {

Machine* g_pCurrent = nullptr;

}  // namespace

bool CallSite::operator<(const CallSite& other) const {
    if (api != other.api) {
        return api < other.api;
    }
    return std::less<const void*>()(pReturnAddress, other.pReturnAddress);
}

void Faults::Inject(FaultRule rule) {
    m_rules.push_back(ActiveRule{std::move(rule), 0});
}

void Faults::Clear() {
    m_rules.clear();
}

void Faults::StartRecording() {
    m_bRecording = true;
    m_sites.clear();
}

size_t Faults::Calls(std::string_view api) const {
    auto it = m_calls.find(api);
    return it == m_calls.end() ? 0 : it->second;
}

std::optional<DWORD> Faults::CheckRules(const char* szApi,
                                        const std::function<std::string()>& subject,
                                        const void* pSite) {
    std::optional<std::string> upperSubject;
    for (ActiveRule& active : m_rules) {
        const FaultRule& rule = active.rule;
        if (rule.api != szApi || (rule.pSite != nullptr && rule.pSite != pSite)) {
            continue;
        }
        if (!rule.subject.empty()) {
            if (!upperSubject) {
                upperSubject = Upper(subject());
            }
            if (upperSubject->find(Upper(rule.subject)) == std::string::npos) {
                continue;
            }
        }
        ++active.nSeen;
        if (rule.nOccurrence != 0 && active.nSeen != rule.nOccurrence) {
            continue;
        }
        m_injected.push_back(InjectedFault{szApi, subject(), rule.dwError});
        return rule.dwError;
    }
    return std::nullopt;
}

HMODULE Machine::Kernel::Find(std::string_view path) const {
    for (const auto& module : loaded) {
        if (EqualsIgnoreCase(module.second.path, path)) {
            return reinterpret_cast<HMODULE>(module.first);
        }
    }
    return NULL;
}

HMODULE Machine::Kernel::FindByBaseName(std::string_view name) const {
    for (const auto& module : loaded) {
        if (EqualsIgnoreCase(BaseNameOf(module.second.path), name)) {
            return reinterpret_cast<HMODULE>(module.first);
        }
    }
    return NULL;
}

HMODULE Machine::Kernel::Add(std::string path, ModuleImagePtr image, bool bPinned) {
    const uintptr_t nBase = nNextBase;
    nNextBase += 0x10000;
    loaded.emplace(nBase, LoadedModule{std::move(path), std::move(image), 1, bPinned});
    return reinterpret_cast<HMODULE>(nBase);
}

HANDLE Machine::Kernel::NewObject(KernelObject object) {
    const uintptr_t nValue = nNextHandle;
    nNextHandle += 4;
    objects.emplace(nValue, std::move(object));
    return reinterpret_cast<HANDLE>(nValue);
}

KernelObject* Machine::Kernel::Object(HANDLE hObject) {
    auto it = objects.find(reinterpret_cast<uintptr_t>(hObject));
    return it == objects.end() ? nullptr : &it->second;
}

bool Machine::Kernel::IsOpenWithoutDeleteSharing(std::string_view path) const {
    for (const auto& object : objects) {
        if (object.second.kind == KernelObject::Kind::File &&
            EqualsIgnoreCase(object.second.path, path) &&
            !(object.second.dwShareMode & FILE_SHARE_DELETE)) {
            return true;
        }
    }
    return false;
}

Machine::Machine(Shape shape) : m_shape(std::move(shape)), m_kernel(std::make_unique<Kernel>()) {
    if (g_pCurrent != nullptr) {
        fprintf(stderr, "sim: only one Machine may exist at a time\n");
        abort();
    }
    g_pCurrent = this;
    InitialiseThreadInformation(m_kernel->tib);

    const std::string& windows = m_shape.windowsDirectory;
    const std::string system32 = windows + "\\system32";
    m_files.AddDirectory(system32);
    if (m_shape.b64BitWindows) {
        m_files.AddDirectory(Wow64Directory());
    }
    m_files.AddDirectory(windows + "\\Inf");
    m_files.AddDirectory(windows + "\\Downloaded Program Files");
    m_files.AddDirectory(m_shape.applicationDirectory);
    m_files.AddDirectory(m_shape.currentDirectory);

    const struct {
        const char* szName;
        ModuleImagePtr (*pfnImage)();
    } systemModules[] = {
        {"kernel32.dll", Kernel32Image},
        {"advapi32.dll", Advapi32Image},
        {"user32.dll", User32Image},
    };
    for (const auto& module : systemModules) {
        ModuleImagePtr image = module.pfnImage();
        m_files.SetModule(system32 + "\\" + module.szName, image);
        if (m_shape.b64BitWindows) {
            m_files.SetModule(Wow64Directory() + "\\" + module.szName, image);
        }
        m_kernel->Add(ProcessSystemDirectory() + "\\" + module.szName, image, true);
    }
    for (const std::string& directory : {system32, Wow64Directory()}) {
        if (m_files.IsDirectory(directory)) {
            m_files.SetModule(directory + "\\msi.dll", MsiImage());
            m_files.SetModule(directory + "\\version.dll", VersionImage());
            m_files.AddFile(directory + "\\rundll32.exe");
            m_files.SetVersionBlock(directory + "\\MSHTML.DLL", VersionBlock("11.00.9600.16428"));
        }
    }

    m_registry.CreateKey("HKLM\\SOFTWARE\\Microsoft");
    if (m_shape.b64BitWindows) {
        m_registry.CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\Microsoft");
    }
    m_registry.CreateKey("HKCU\\Software\\Microsoft");
}

Machine::~Machine() {
    ReleaseToolkitLibraryExports();
    g_pCurrent = nullptr;
}

Machine& Machine::Current() {
    if (g_pCurrent == nullptr) {
        fprintf(stderr, "sim: a Win32 function was called with no Machine in place\n");
        abort();
    }
    return *g_pCurrent;
}

std::string Machine::SystemDirectory() const {
    return m_shape.windowsDirectory + "\\system32";
}

std::string Machine::Wow64Directory() const {
    return m_shape.windowsDirectory + "\\SysWOW64";
}

std::string Machine::ProcessSystemDirectory() const {
    return m_shape.Wow64() ? Wow64Directory() : SystemDirectory();
}

std::string Machine::Redirect(std::string_view path) const {
    if (!m_shape.Wow64()) {
        return std::string(path);
    }
    const std::string system32 = SystemDirectory();
    if (path.size() >= system32.size() &&
        EqualsIgnoreCase(path.substr(0, system32.size()), system32) &&
        (path.size() == system32.size() || path[system32.size()] == '\\')) {
        return Wow64Directory() + std::string(path.substr(system32.size()));
    }
    return std::string(path);
}

void Machine::RemoveSystemExport(std::string_view module, std::string_view name) {
    HMODULE hModule = m_kernel->FindByBaseName(module);
    if (hModule == NULL) {
        return;
    }
    // A private copy, so that the files' images keep their exports for the next machine.
    LoadedModule& loaded = m_kernel->loaded[reinterpret_cast<uintptr_t>(hModule)];
    loaded.image = std::make_shared<ModuleImage>(*loaded.image);
    loaded.image->exports.erase(std::string(name));
}

std::string Machine::ProcessSoftwareKey() const {
    return m_shape.Wow64() ? "HKLM\\SOFTWARE\\Wow6432Node" : "HKLM\\SOFTWARE";
}

const std::vector<std::string>& Machine::LoadHistory() const {
    return m_kernel->loadHistory;
}

std::vector<std::string> Machine::ImportSearchOf(std::string_view path) const {
    auto it = m_kernel->importSearches.find(path);
    return it == m_kernel->importSearches.end() ? std::vector<std::string>() : it->second;
}

size_t Machine::OpenKernelHandleCount() const {
    return m_kernel->objects.size();
}

size_t Machine::LoadedModuleCount(std::string_view path) const {
    HMODULE hModule = m_kernel->Find(path);
    return hModule == NULL ? 0
                           : m_kernel->loaded.at(reinterpret_cast<uintptr_t>(hModule)).nReferences;
}

}  // namespace sim

using sim::Machine;

namespace {

// A directory call's answer: the length, or the size needed when the buffer is too small.
UINT CopyDirectory(const std::string& directory, LPSTR lpBuffer, UINT uSize) {
    if (uSize <= directory.size()) {
        return static_cast<UINT>(directory.size() + 1);
    }
    memcpy(lpBuffer, directory.c_str(), directory.size() + 1);
    return static_cast<UINT>(directory.size());
}

}  // namespace

extern "C" {

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("GetWindowsDirectoryA", "")) {
        SetLastError(*error);
        return 0;
    }
    return CopyDirectory(
        machine.WindowsDirectoryReported().value_or(machine.shape().windowsDirectory), lpBuffer,
        uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("GetSystemDirectoryA", "")) {
        SetLastError(*error);
        return 0;
    }
    return CopyDirectory(machine.SystemDirectoryReported().value_or(machine.SystemDirectory()),
                         lpBuffer, uSize);
}

UINT WINAPI GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("GetSystemWow64DirectoryA", "")) {
        SetLastError(*error);
        return 0;
    }
    if (!machine.shape().b64BitWindows) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    const auto& reported = machine.WindowsDirectoryReported();
    return CopyDirectory(reported ? *reported + "\\SysWOW64" : machine.Wow64Directory(), lpBuffer,
                         uSize);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("CloseHandle", "")) {
        SetLastError(*error);
        return FALSE;
    }
    if (machine.kernel().objects.erase(reinterpret_cast<uintptr_t>(hObject)) != 1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
