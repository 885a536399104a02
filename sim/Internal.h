#pragma once
// What the simulated Win32 functions share behind the Machine's public face.

#include "Machine.h"

namespace sim {

// An absolute path with backslashes and no trailing separator; relative paths are taken from
// the current directory. Empty when the path is empty.
std::string AbsolutePath(std::string_view path);
std::string ParentOf(std::string_view path);

// Where the library search finds a bare file name, or empty.
std::string FindLibraryFile(std::string_view name);

struct FileEntry {
    std::string path;  // as created
    bool bDirectory = false;
    Bytes content;
    DWORD dwDeleteError = ERROR_SUCCESS;
    ModuleImagePtr image;
    std::optional<Bytes> versionBlock;
};

struct FileSystem::Impl {
    std::map<std::string, FileEntry, CaseInsensitiveLess> entries;

    const FileEntry* Find(std::string_view path) const;
    FileEntry* Find(std::string_view path);
    bool DirectoryExists(std::string_view path) const;
    // ERROR_SUCCESS, or why the path is missing (file or path not found).
    DWORD Locate(std::string_view path, FileEntry** ppEntry);
};

// Kernel objects behind HANDLE values: open files, processes and their threads.
struct KernelObject {
    enum class Kind { File, Process, Thread } kind = Kind::File;
    std::string path;
    DWORD dwAccess = 0;
    DWORD dwShareMode = 0;
    size_t nProcess = 0;  // index into the process table, for processes and threads
};

struct RunningProcess {
    ProcessOutcome outcome;
    size_t nNextBurst = 0;
    bool bEnded = false;
};

struct Processes::Impl {
    std::map<std::string, ProcessHandler, CaseInsensitiveLess> programs;
    std::map<std::string, ProcessOutcome> commandLines;
    std::vector<ProcessRecord> history;
    std::vector<RunningProcess> table;  // indexed like history
};

struct LoadedModule {
    std::string path;
    ModuleImagePtr image;
    size_t nReferences = 0;
    bool bPinned = false;  // kernel32, advapi32 and user32 are never unloaded
};

struct Machine::Kernel {
    std::map<uintptr_t, LoadedModule> loaded;
    uintptr_t nNextBase = 0x10000000;
    std::map<uintptr_t, KernelObject> objects;
    uintptr_t nNextHandle = 0x100;
    std::vector<std::string> loadHistory;
    std::map<std::string, std::vector<std::string>, CaseInsensitiveLess> importSearches;
    NT_TIB tib;  // of the one thread, with its exception handler chain
    std::map<const void*, size_t> versionBuffers;  // filled by GetFileVersionInfoA, and how far

    HMODULE Find(std::string_view path) const;
    HMODULE FindByBaseName(std::string_view name) const;
    HMODULE Add(std::string path, ModuleImagePtr image, bool bPinned);
    HANDLE NewObject(KernelObject object);
    KernelObject* Object(HANDLE hObject);
    bool IsOpenWithoutDeleteSharing(std::string_view path) const;
};

// A thread's information block as a new thread has it: no exception handler yet.
void InitialiseThreadInformation(NT_TIB& tib);

// Frees the trampolines the toolkit libraries of the last machine were bound to.
void ReleaseToolkitLibraryExports();

ModuleImagePtr Kernel32Image();
ModuleImagePtr Advapi32Image();
ModuleImagePtr User32Image();

}  // namespace sim
