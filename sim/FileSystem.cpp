// The simulated file system: drive-letter paths, case-insensitive, files and directories, files
// that refuse deletion, and kernel32's file functions over it.
#include "Internal.h"

namespace sim {

std::string AbsolutePath(std::string_view path) {
    std::string result(path);
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (result.empty()) {
        return result;
    }
    const bool bHasDrive = result.size() >= 2 && result[1] == ':';
    if (!bHasDrive) {
        const std::string& current = Machine::Current().shape().currentDirectory;
        result = result[0] == '\\' ? current.substr(0, 2) + result : current + "\\" + result;
    }
    std::string collapsed;
    for (char c : result) {
        if (c == '\\' && !collapsed.empty() && collapsed.back() == '\\') {
            continue;
        }
        collapsed += c;
    }
    while (collapsed.size() > 3 && collapsed.back() == '\\') {
        collapsed.pop_back();
    }
    return collapsed;
}

std::string ParentOf(std::string_view path) {
    const size_t nSlash = path.rfind('\\');
    return nSlash == std::string_view::npos ? std::string() : std::string(path.substr(0, nSlash));
}

std::string BaseNameOf(std::string_view path) {
    const size_t nSlash = path.find_last_of("\\/");
    return std::string(nSlash == std::string_view::npos ? path : path.substr(nSlash + 1));
}

namespace {

bool IsDriveRoot(std::string_view path) {
    return (path.size() == 2 || (path.size() == 3 && path[2] == '\\')) && path[1] == ':';
}

}  // namespace

const FileEntry* FileSystem::Impl::Find(std::string_view path) const {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}

FileEntry* FileSystem::Impl::Find(std::string_view path) {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}

bool FileSystem::Impl::DirectoryExists(std::string_view path) const {
    if (IsDriveRoot(path)) {
        return true;
    }
    const FileEntry* entry = Find(path);
    return entry != nullptr && entry->bDirectory;
}

DWORD FileSystem::Impl::Locate(std::string_view path, FileEntry** ppEntry) {
    *ppEntry = nullptr;
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (FileEntry* entry = Find(path)) {
        *ppEntry = entry;
        return ERROR_SUCCESS;
    }
    return DirectoryExists(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

FileSystem::FileSystem() : m_impl(std::make_unique<Impl>()) {}
FileSystem::~FileSystem() = default;

void FileSystem::AddDirectory(std::string_view path) {
    const std::string absolute = AbsolutePath(path);
    if (IsDriveRoot(absolute) || absolute.empty()) {
        return;
    }
    AddDirectory(ParentOf(absolute));
    FileEntry& entry = m_impl->entries[absolute];
    if (entry.path.empty()) {
        entry.path = absolute;
    }
    entry.bDirectory = true;
}

void FileSystem::AddFile(std::string_view path, Bytes content) {
    const std::string absolute = AbsolutePath(path);
    AddDirectory(ParentOf(absolute));
    FileEntry& entry = m_impl->entries[absolute];
    entry.path = absolute;
    entry.bDirectory = false;
    entry.content = std::move(content);
}

bool FileSystem::Exists(std::string_view path) const {
    const std::string absolute = AbsolutePath(path);
    return IsDriveRoot(absolute) || m_impl->Find(absolute) != nullptr;
}

bool FileSystem::IsDirectory(std::string_view path) const {
    return m_impl->DirectoryExists(AbsolutePath(path));
}

void FileSystem::Remove(std::string_view path) {
    m_impl->entries.erase(AbsolutePath(path));
}

void FileSystem::SetDeleteError(std::string_view path, DWORD dwError) {
    if (FileEntry* entry = m_impl->Find(AbsolutePath(path))) {
        entry->dwDeleteError = dwError;
    }
}

void FileSystem::SetModule(std::string_view path, ModuleImagePtr image) {
    if (!Exists(path)) {
        AddFile(path);
    }
    m_impl->Find(AbsolutePath(path))->image = std::move(image);
}

ModuleImagePtr FileSystem::GetModule(std::string_view path) const {
    const FileEntry* entry = m_impl->Find(AbsolutePath(path));
    return entry == nullptr ? nullptr : entry->image;
}

void FileSystem::SetVersionBlock(std::string_view path, Bytes block) {
    if (!Exists(path)) {
        AddFile(path);
    }
    m_impl->Find(AbsolutePath(path))->versionBlock = std::move(block);
}

std::optional<Bytes> FileSystem::GetVersionBlock(std::string_view path) const {
    const FileEntry* entry = m_impl->Find(AbsolutePath(path));
    return entry == nullptr ? std::nullopt : entry->versionBlock;
}

std::vector<std::string> FileSystem::List(std::string_view directory) const {
    const std::string absolute = AbsolutePath(directory);
    std::vector<std::string> names;
    for (const auto& entry : m_impl->entries) {
        if (EqualsIgnoreCase(ParentOf(entry.first), absolute)) {
            names.push_back(BaseNameOf(entry.second.path));
        }
    }
    return names;
}

std::map<std::string, std::string, CaseInsensitiveLess> FileSystem::Snapshot() const {
    std::map<std::string, std::string, CaseInsensitiveLess> lines;
    for (const auto& entry : m_impl->entries) {
        lines[entry.first] = entry.second.bDirectory
                                 ? "(dir)"
                                 : "file of " + std::to_string(entry.second.content.size()) +
                                       " bytes" + (entry.second.image ? ", a module" : "");
    }
    return lines;
}

}  // namespace sim

using sim::Machine;

namespace {

sim::FileSystem::Impl& Files() {
    return Machine::Current().files().impl();
}

// The physical path a file name of this process names.
std::string Physical(LPCSTR szPath) {
    return Machine::Current().Redirect(sim::AbsolutePath(szPath == NULL ? "" : szPath));
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    const std::string path = Physical(lpFileName);
    if (auto error = SIM_FAULT("GetFileAttributesA", path)) {
        SetLastError(*error);
        return INVALID_FILE_ATTRIBUTES;
    }
    sim::FileEntry* entry = nullptr;
    const DWORD dwError = Files().Locate(path, &entry);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return INVALID_FILE_ATTRIBUTES;
    }
    return entry->bDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    const std::string path = Physical(lpFileName);
    if (auto error = SIM_FAULT("DeleteFileA", path)) {
        SetLastError(*error);
        return FALSE;
    }
    sim::FileEntry* entry = nullptr;
    DWORD dwError = Files().Locate(path, &entry);
    if (dwError == ERROR_SUCCESS) {
        if (entry->bDirectory) {
            dwError = ERROR_ACCESS_DENIED;
        } else if (entry->dwDeleteError != ERROR_SUCCESS) {
            dwError = entry->dwDeleteError;
        } else if (Machine::Current().LoadedModuleCount(path) > 0) {
            // A mapped image cannot be deleted.
            dwError = ERROR_ACCESS_DENIED;
        } else if (Machine::Current().kernel().IsOpenWithoutDeleteSharing(path)) {
            dwError = ERROR_SHARING_VIOLATION;
        }
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    Files().entries.erase(path);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
    const std::string path = Physical(lpPathName);
    if (auto error = SIM_FAULT("CreateDirectoryA", path)) {
        SetLastError(*error);
        return FALSE;
    }
    sim::FileEntry* entry = nullptr;
    const DWORD dwError = Files().Locate(path, &entry);
    if (dwError == ERROR_SUCCESS) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (dwError == ERROR_PATH_NOT_FOUND) {
        SetLastError(dwError);
        return FALSE;
    }
    Machine::Current().files().AddDirectory(path);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    const std::string path = Physical(lpPathName);
    if (auto error = SIM_FAULT("RemoveDirectoryA", path)) {
        SetLastError(*error);
        return FALSE;
    }
    sim::FileEntry* entry = nullptr;
    DWORD dwError = Files().Locate(path, &entry);
    if (dwError == ERROR_SUCCESS && !entry->bDirectory) {
        dwError = ERROR_DIRECTORY;
    }
    if (dwError == ERROR_SUCCESS && !Machine::Current().files().List(path).empty()) {
        dwError = ERROR_DIR_NOT_EMPTY;
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    Files().entries.erase(path);
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD /*dwFlagsAndAttributes*/,
                          HANDLE /*hTemplateFile*/) {
    const std::string path = Physical(lpFileName);
    if (auto error = SIM_FAULT("CreateFileA", path)) {
        SetLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    sim::FileEntry* entry = nullptr;
    DWORD dwError = Files().Locate(path, &entry);
    if (dwError == ERROR_SUCCESS && entry->bDirectory) {
        dwError = ERROR_ACCESS_DENIED;
    } else if (dwError == ERROR_FILE_NOT_FOUND && dwCreationDisposition != OPEN_EXISTING) {
        Machine::Current().files().AddFile(path);
        dwError = ERROR_SUCCESS;
    } else if (dwError == ERROR_SUCCESS && dwCreationDisposition == CREATE_ALWAYS) {
        entry->content.clear();
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    sim::KernelObject object;
    object.kind = sim::KernelObject::Kind::File;
    object.path = path;
    object.dwAccess = dwDesiredAccess;
    object.dwShareMode = dwShareMode;
    return Machine::Current().kernel().NewObject(object);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID /*lpOverlapped*/) {
    sim::KernelObject* object = Machine::Current().kernel().Object(hFile);
    if (auto error = SIM_FAULT("WriteFile", object == nullptr ? "" : object->path)) {
        SetLastError(*error);
        return FALSE;
    }
    sim::FileEntry* entry = object == nullptr ? nullptr : Files().Find(object->path);
    if (object == nullptr || object->kind != sim::KernelObject::Kind::File || entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(object->dwAccess & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const BYTE* pBytes = static_cast<const BYTE*>(lpBuffer);
    entry->content.insert(entry->content.end(), pBytes, pBytes + nNumberOfBytesToWrite);
    if (lpNumberOfBytesWritten != NULL) {
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    }
    return TRUE;
}

}  // extern "C"
