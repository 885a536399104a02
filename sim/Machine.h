#pragma once
// The simulated Windows machine behind sim/include/windows.h. A test creates one Machine, sets
// it up through the classes below, runs the code under test (which calls the Win32 functions),
// then inspects the machine's state. Only one Machine exists at a time.

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sim {

class Machine;

struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string Upper(std::string_view text);
std::string BaseNameOf(std::string_view path);  // the part after the last separator

using Bytes = std::vector<BYTE>;
Bytes BytesOf(std::string_view text);  // the characters, no terminator added

// ---------------------------------------------------------------------------------------------
// Registry. Paths given to these functions are physical, as stored: "HKLM\\SOFTWARE\\..." or
// "HKCU\\Software\\...", with Wow6432Node spelled out; no redirection applies here.

struct RegValue {
    DWORD dwType = REG_NONE;
    Bytes data;
    bool operator==(const RegValue& other) const {
        return dwType == other.dwType && data == other.data;
    }
};

class Registry {
public:
    Registry();
    ~Registry();

    void CreateKey(std::string_view path);
    bool KeyExists(std::string_view path) const;
    // Creates the key when needed.
    void SetValue(std::string_view keyPath, std::string_view name, DWORD dwType, Bytes data);
    void SetDword(std::string_view keyPath, std::string_view name, DWORD dwValue);
    // The text and its terminating NUL.
    void SetString(std::string_view keyPath, std::string_view name, std::string_view text,
                   DWORD dwType = REG_SZ);
    std::optional<RegValue> GetValue(std::string_view keyPath, std::string_view name) const;
    std::vector<std::string> SubkeyNames(std::string_view path) const;
    void DeleteTree(std::string_view path);
    // Opening the key, or deleting it, with any of these rights fails with ERROR_ACCESS_DENIED.
    void DenyAccess(std::string_view path, REGSAM samDenied);

    // Every key and value, one line each, for before/after comparisons.
    std::map<std::string, std::string, CaseInsensitiveLess> Snapshot() const;

    size_t OpenHandleCount() const;

    struct Impl;
    Impl& impl() { return *m_impl; }
    const Impl& impl() const { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
};

// ---------------------------------------------------------------------------------------------
// Modules: what a file holds when it is loaded as a library.

struct ModuleImage {
    std::string name;
    std::map<std::string, FARPROC> exports;  // names are case-sensitive, as GetProcAddress's
};
using ModuleImagePtr = std::shared_ptr<ModuleImage>;

// ---------------------------------------------------------------------------------------------
// File system. Paths are physical (SysWOW64 spelled out), case-insensitive, with a drive letter.

class FileSystem {
public:
    FileSystem();
    ~FileSystem();

    void AddDirectory(std::string_view path);                 // with its parents
    void AddFile(std::string_view path, Bytes content = {});  // with its parent directories
    bool Exists(std::string_view path) const;
    bool IsDirectory(std::string_view path) const;
    void Remove(std::string_view path);
    // DeleteFileA of this file fails with the error (a file in use, access denied).
    void SetDeleteError(std::string_view path, DWORD dwError);
    void SetModule(std::string_view path, ModuleImagePtr image);
    ModuleImagePtr GetModule(std::string_view path) const;
    void SetVersionBlock(std::string_view path, Bytes block);
    std::optional<Bytes> GetVersionBlock(std::string_view path) const;
    std::vector<std::string> List(std::string_view directory) const;  // names, sorted

    std::map<std::string, std::string, CaseInsensitiveLess> Snapshot() const;

    struct Impl;
    Impl& impl() { return *m_impl; }
    const Impl& impl() const { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
};

// ---------------------------------------------------------------------------------------------
// Faults: any Win32 call can be made to fail with a chosen error.

struct CallSite {
    std::string api;
    const void* pReturnAddress = nullptr;
    bool operator<(const CallSite& other) const;
};

struct FaultRule {
    FaultRule(std::string api, DWORD dwError, std::string subject = std::string(),
              int nOccurrence = 0, const void* pSite = nullptr)
        : api(std::move(api)),
          dwError(dwError),
          subject(std::move(subject)),
          nOccurrence(nOccurrence),
          pSite(pSite) {}

    std::string api;      // the Win32 function, "RegOpenKeyExA"
    DWORD dwError;        // what the failing call reports
    std::string subject;  // when set: only calls whose key, file or module path contains this
                          // text (case-insensitive)
    int nOccurrence;      // 0: every matching call; n: only the n-th
    const void* pSite;    // when set: only calls from this return address
};

// A fault that was injected: which function failed, for what, and with which error.
struct InjectedFault {
    std::string api;
    std::string subject;
    DWORD dwError;
};

class Faults {
public:
    void Inject(FaultRule rule);
    void Clear();
    // Counts every call of each function; with recording on, also each distinct call site.
    void StartRecording();
    void StopRecording() { m_bRecording = false; }
    const std::map<CallSite, size_t>& RecordedSites() const { return m_sites; }
    size_t Calls(std::string_view api) const;
    size_t InjectedCount() const { return m_injected.size(); }
    const std::vector<InjectedFault>& Injected() const { return m_injected; }

    // Called by every simulated Win32 function; the error to fail with, if any. The subject
    // (a key, file or module path) is only worked out when a rule needs it.
    template <typename TSubject>
    std::optional<DWORD> Check(const char* szApi, TSubject&& subject, const void* pSite) {
        ++m_calls[szApi];
        if (m_bRecording) {
            ++m_sites[CallSite{szApi, pSite}];
        }
        if (m_rules.empty()) {
            return std::nullopt;
        }
        return CheckRules(szApi, std::function<std::string()>(subject), pSite);
    }

private:
    std::optional<DWORD> CheckRules(const char* szApi, const std::function<std::string()>& subject,
                                    const void* pSite);

    struct ActiveRule {
        FaultRule rule;
        int nSeen = 0;
    };
    std::vector<ActiveRule> m_rules;
    std::unordered_map<std::string_view, size_t> m_calls;  // keyed by the functions' literals
    std::map<CallSite, size_t> m_sites;
    bool m_bRecording = false;
    std::vector<InjectedFault> m_injected;
};

// ---------------------------------------------------------------------------------------------
// Windows Installer's component list, as msi.dll's MsiEnumComponentsA reports it.

struct InstallerState {
    std::vector<std::string> components;
    // When set, the enumeration fails with this error at that index.
    std::optional<std::pair<DWORD, UINT>> failAt;  // index, error
    size_t nEnumerations = 0;                      // calls of MsiEnumComponentsA
    size_t nPlantedCalls = 0;                      // calls into a planted msi.dll
};

// ---------------------------------------------------------------------------------------------
// Processes: a program started by CreateProcessA runs a script while its parent waits, then
// ends with an exit code and its effect on the machine.

struct ProcessOutcome {
    DWORD dwStartError = ERROR_SUCCESS;  // non-zero: CreateProcessA fails with it
    DWORD dwExitCode = 0;
    // Messages the running child causes to arrive in the waiting thread's queue; each burst
    // arrives at a moment of its own.
    std::vector<std::vector<MSG>> postsWhileRunning;
    std::function<void(Machine&)> effect;  // applied when the process ends
};

using ProcessHandler = std::function<ProcessOutcome(const std::string& commandLine)>;

struct ProcessRecord {
    std::string program;          // the physical file that ran
    std::string applicationName;  // as passed to CreateProcessA; empty for NULL
    std::string commandLine;
    STARTUPINFOA startupInfo;
    DWORD dwCreationFlags = 0;
    BOOL bInheritHandles = FALSE;
    bool bInheritedEnvironment = false;
    std::string currentDirectory;  // as passed to CreateProcessA; empty when inherited
};

class Processes {
public:
    Processes();
    ~Processes();

    // What a program file does when it runs (by physical path), and what one exact command
    // line does, which wins. A program file without either ends at once with 0.
    void OnProgram(std::string_view path, ProcessHandler handler);
    void OnCommandLine(std::string_view commandLine, ProcessOutcome outcome);

    // Every process started, in order.
    const std::vector<ProcessRecord>& History() const;
    std::vector<std::string> CommandLines() const;
    size_t Running() const;

    struct Impl;
    Impl& impl() { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
};

// The calling thread's message queue.
struct MessageQueue {
    struct Entry {
        MSG msg;
        bool bNew;  // arrived after the thread last looked at its queue
    };
    std::vector<Entry> queued;
    std::vector<MSG> dispatched;
    size_t nTranslated = 0;
};

// The queue-status class a message belongs to (QS_POSTMESSAGE, QS_KEY, ...).
DWORD QueueStatusClassOf(UINT message);

// ---------------------------------------------------------------------------------------------
// Structured exceptions: RaiseException offers the exception to the thread's frame-based
// handlers, innermost first; when none takes it, the process would die, and the simulation
// throws this instead.

struct UnhandledStructuredException {
    DWORD dwExceptionCode;
};

// The browser's control cache (OCCACHE.DLL): what its RemoveControlByName does when called.
enum class ControlCacheBehaviour {
    RemovesUnit,          // S_OK; the unit's download files and registry tree are gone
    SucceedsLeavingUnit,  // S_OK, the tree is left
    Fails,                // hrFailure
    Raises,               // a structured exception, dwExceptionCode
    RaisesAndRecovers,    // dwExceptionCode, handled by the library itself; then as RemovesUnit
};

struct ControlCacheCall {
    std::string file;
    std::string clsid;
    bool bTypeLibIdNull;
    BOOL bForceRemove;
    DWORD dwIsDistributionUnit;
};

struct ControlCacheState {
    ControlCacheBehaviour behaviour = ControlCacheBehaviour::RemovesUnit;
    HRESULT hrFailure = static_cast<HRESULT>(0x80070005);
    DWORD dwExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    std::vector<ControlCacheCall> calls;
};

// ---------------------------------------------------------------------------------------------
// Version resources as the ANSI VS_VERSION_INFO layout VerQueryValueA reads: nodes of
// { WORD wLength; WORD wValueLength; key and NUL; padding; value; padding; children }, each
// aligned on four bytes from the start of the block.

struct VersionNode {
    std::string key;
    Bytes value;
    std::vector<VersionNode> children;
};

Bytes EncodeVersionNode(const VersionNode& node);
VS_FIXEDFILEINFO FixedFileInfo(DWORD dwFileVersionMS, DWORD dwFileVersionLS);
// A well-formed block: the fixed record, one string table, one translation.
Bytes VersionBlock(std::string_view fileVersion, WORD wLanguage = 0x0409, WORD wCodePage = 0x04b0);

// The toolkit's own libraries: what their DllUnregisterServer did.
struct ToolkitLibraryState {
    std::vector<std::string> unregistered;  // library paths, in call order
};

// ---------------------------------------------------------------------------------------------

struct Shape {
    bool b64BitWindows = true;
    bool b32BitProcess = true;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string applicationDirectory = "C:\\Users\\Admin\\Downloads";
    std::string currentDirectory = "C:\\Users\\Admin\\Downloads";

    bool Wow64() const { return b64BitWindows && b32BitProcess; }
};

class Machine {
public:
    explicit Machine(Shape shape = Shape());
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine the Win32 functions act on.
    static Machine& Current();

    const Shape& shape() const { return m_shape; }
    Registry& registry() { return m_registry; }
    FileSystem& files() { return m_files; }
    Faults& faults() { return m_faults; }
    InstallerState& installer() { return m_installer; }
    Processes& processes() { return m_processes; }
    MessageQueue& messages() { return m_messages; }
    ControlCacheState& controlCache() { return m_controlCache; }
    ToolkitLibraryState& toolkitLibraries() { return m_toolkitLibraries; }

    // Directories as GetSystemDirectoryA and GetSystemWow64DirectoryA report them.
    std::string SystemDirectory() const;
    std::string Wow64Directory() const;
    // The system directory this process's binaries physically live in: SysWOW64 for a 32-bit
    // process on 64-bit Windows.
    std::string ProcessSystemDirectory() const;
    // HKLM\SOFTWARE as this process sees it, spelled physically.
    std::string ProcessSoftwareKey() const;
    // The physical path a file name of this process resolves to (system32 redirection).
    std::string Redirect(std::string_view path) const;

    // Overrides what GetWindowsDirectoryA/GetSystemDirectoryA report (a too-long one, say).
    void SetWindowsDirectoryReported(std::string directory) {
        m_windowsReported = std::move(directory);
    }
    void SetSystemDirectoryReported(std::string directory) {
        m_systemReported = std::move(directory);
    }
    const std::optional<std::string>& WindowsDirectoryReported() const { return m_windowsReported; }
    const std::optional<std::string>& SystemDirectoryReported() const { return m_systemReported; }

    // kernel32 and advapi32 exports a test can take away.
    void RemoveSystemExport(std::string_view module, std::string_view name);

    size_t LoadedModuleCount(std::string_view path) const;  // reference count of a library
    size_t OpenKernelHandleCount() const;                   // files, processes, threads
    const std::vector<std::string>& LoadHistory() const;    // every library file loaded
    size_t ExceptionHandlerCount() const;  // frame-based handlers on the thread's chain
    DWORD DefaultDllDirectories() const { return m_dwDefaultDllDirectories; }
    void SetDefaultDllDirectories(DWORD dwFlags) { m_dwDefaultDllDirectories = dwFlags; }
    // What SetDllDirectoryA last set; unset until it is called.
    const std::optional<std::string>& DllDirectory() const { return m_dllDirectory; }
    void SetDllDirectory(std::optional<std::string> directory) {
        m_dllDirectory = std::move(directory);
    }
    // Where the libraries a loaded library imports would be looked for, in order, as its last
    // load left it; empty for a library never loaded.
    std::vector<std::string> ImportSearchOf(std::string_view path) const;

    DWORD& LastError() { return m_dwLastError; }

    struct Kernel;
    Kernel& kernel() { return *m_kernel; }

private:
    Shape m_shape;
    Registry m_registry;
    FileSystem m_files;
    Faults m_faults;
    InstallerState m_installer;
    Processes m_processes;
    MessageQueue m_messages;
    ControlCacheState m_controlCache;
    ToolkitLibraryState m_toolkitLibraries;
    std::optional<std::string> m_windowsReported;
    std::optional<std::string> m_systemReported;
    DWORD m_dwDefaultDllDirectories = 0;
    std::optional<std::string> m_dllDirectory;
    DWORD m_dwLastError = 0;
    std::unique_ptr<Kernel> m_kernel;
};

// Module images of the machine's own libraries.
ModuleImagePtr MsiImage();
// OCCACHE.DLL as ControlCacheState says, or one without its export.
ModuleImagePtr ControlCacheImage();
ModuleImagePtr ControlCacheImageWithoutExport();
ModuleImagePtr VersionImage();
// A library of the toolkit: its DllUnregisterServer (when it has one) notes the call in
// ToolkitLibraryState and applies the effect, as removing its own registration would.
ModuleImagePtr ToolkitLibraryImage(std::string path, bool bUnregisters = true,
                                   std::function<void(Machine&)> effect = nullptr);
// An msi.dll that claims a toolkit component is installed, as a planted copy would; each of
// its calls is counted in InstallerState::nPlantedCalls.
ModuleImagePtr PlantedMsiImage();
ModuleImagePtr EmptyImage(std::string name);

// What a library does that raises an exception and handles it itself, with a frame-based
// handler of its own that lets execution go on after the raise.
void RaiseAndRecover(DWORD dwExceptionCode);

// An export of a simulated library.
template <typename TFunction>
FARPROC AsFarProc(TFunction pfn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(pfn));
}

}  // namespace sim

// Every simulated Win32 function starts with this: counts the call, records its site and fails
// it when a fault rule says so.
#define SIM_FAULT(api, subject)               \
    ::sim::Machine::Current().faults().Check( \
        api, [&]() -> std::string { return std::string(subject); }, __builtin_return_address(0))
