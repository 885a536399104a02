// Child processes and the waiting thread's message queue. A child runs its script only while
// its parent waits on it: each wait either delivers the next burst of messages the child
// causes, or lets the child end and apply its effect to the machine.
#include "Internal.h"

namespace sim {

namespace {

// The first token of a command line: the program, as CreateProcessA reads it without an
// application name.
std::string ProgramToken(const std::string& commandLine) {
    if (!commandLine.empty() && commandLine[0] == '"') {
        const size_t nEnd = commandLine.find('"', 1);
        return commandLine.substr(1, nEnd == std::string::npos ? std::string::npos : nEnd - 1);
    }
    return commandLine.substr(0, commandLine.find(' '));
}

bool HasExtension(const std::string& name) {
    return BaseNameOf(name).find('.') != std::string::npos;
}

bool IsFile(const std::string& path) {
    const FileSystem& files = Machine::Current().files();
    return files.Exists(path) && !files.IsDirectory(path);
}

// The physical program a CreateProcessA call starts, or the error it fails with.
DWORD LocateProgram(LPCSTR lpApplicationName, const std::string& commandLine, std::string& path) {
    Machine& machine = Machine::Current();
    FileEntry* entry = nullptr;
    if (lpApplicationName != NULL) {
        // Taken as it stands: no search, no extension added.
        path = machine.Redirect(AbsolutePath(lpApplicationName));
        const DWORD dwError = machine.files().impl().Locate(path, &entry);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        return entry->bDirectory ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : ERROR_SUCCESS;
    }
    std::string name = ProgramToken(commandLine);
    if (name.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!HasExtension(name)) {
        name += ".exe";
    }
    if (name.find_first_of("\\/:") != std::string::npos) {
        path = machine.Redirect(AbsolutePath(name));
        return IsFile(path) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    }
    // The program's own directory and the current directory come before the system ones.
    const Shape& shape = machine.shape();
    for (const std::string& directory :
         {shape.applicationDirectory, shape.currentDirectory, machine.ProcessSystemDirectory(),
          shape.windowsDirectory}) {
        if (IsFile(directory + "\\" + name)) {
            path = directory + "\\" + name;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

RunningProcess* ProcessOf(HANDLE hProcess) {
    Machine& machine = Machine::Current();
    KernelObject* object = machine.kernel().Object(hProcess);
    if (object == nullptr || object->kind != KernelObject::Kind::Process) {
        return nullptr;
    }
    return &machine.processes().impl().table[object->nProcess];
}

}  // namespace

Processes::Processes() : m_impl(std::make_unique<Impl>()) {}
Processes::~Processes() = default;

void Processes::OnProgram(std::string_view path, ProcessHandler handler) {
    m_impl->programs[std::string(path)] = std::move(handler);
}

void Processes::OnCommandLine(std::string_view commandLine, ProcessOutcome outcome) {
    m_impl->commandLines[std::string(commandLine)] = std::move(outcome);
}

const std::vector<ProcessRecord>& Processes::History() const {
    return m_impl->history;
}

std::vector<std::string> Processes::CommandLines() const {
    std::vector<std::string> lines;
    for (const ProcessRecord& record : m_impl->history) {
        lines.push_back(record.commandLine);
    }
    return lines;
}

size_t Processes::Running() const {
    size_t nRunning = 0;
    for (const RunningProcess& process : m_impl->table) {
        nRunning += process.bEnded ? 0 : 1;
    }
    return nRunning;
}

DWORD QueueStatusClassOf(UINT message) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_CHAR:
            return QS_KEY;
        case WM_TIMER:
            return QS_TIMER;
        case WM_PAINT:
            return QS_PAINT;
        case WM_INPUT:
            return QS_RAWINPUT;
        case WM_POINTERUPDATE:
            return QS_POINTER;
        default:
            return QS_POSTMESSAGE;
    }
}

}  // namespace sim

using sim::Machine;

extern "C" {

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES /*lpProcessAttributes*/,
                           LPSECURITY_ATTRIBUTES /*lpThreadAttributes*/, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    Machine& machine = Machine::Current();
    const std::string commandLine = lpCommandLine == NULL ? "" : lpCommandLine;
    if (auto error = SIM_FAULT("CreateProcessA", commandLine)) {
        SetLastError(*error);
        return FALSE;
    }
    if ((lpApplicationName == NULL && lpCommandLine == NULL) || lpStartupInfo == NULL ||
        lpProcessInformation == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string program;
    const DWORD dwLocateError = sim::LocateProgram(lpApplicationName, commandLine, program);
    if (dwLocateError != ERROR_SUCCESS) {
        SetLastError(dwLocateError);
        return FALSE;
    }
    if (lpCurrentDirectory != NULL &&
        !machine.files().IsDirectory(machine.Redirect(sim::AbsolutePath(lpCurrentDirectory)))) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }

    sim::Processes::Impl& processes = machine.processes().impl();
    sim::ProcessOutcome outcome;
    auto itLine = processes.commandLines.find(commandLine);
    auto itProgram = processes.programs.find(program);
    if (itLine != processes.commandLines.end()) {
        outcome = itLine->second;
    } else if (itProgram != processes.programs.end()) {
        outcome = itProgram->second(commandLine);
    }
    if (outcome.dwStartError != ERROR_SUCCESS) {
        SetLastError(outcome.dwStartError);
        return FALSE;
    }

    sim::ProcessRecord record;
    record.program = program;
    record.applicationName = lpApplicationName == NULL ? "" : lpApplicationName;
    record.commandLine = commandLine;
    record.startupInfo = *lpStartupInfo;
    record.dwCreationFlags = dwCreationFlags;
    record.bInheritHandles = bInheritHandles;
    record.bInheritedEnvironment = lpEnvironment == NULL;
    record.currentDirectory = lpCurrentDirectory == NULL ? "" : lpCurrentDirectory;
    processes.history.push_back(record);
    processes.table.push_back(sim::RunningProcess{std::move(outcome), 0, false});

    const size_t nIndex = processes.table.size() - 1;
    sim::KernelObject process;
    process.kind = sim::KernelObject::Kind::Process;
    process.path = program;
    process.nProcess = nIndex;
    sim::KernelObject thread = process;
    thread.kind = sim::KernelObject::Kind::Thread;
    lpProcessInformation->hProcess = machine.kernel().NewObject(process);
    lpProcessInformation->hThread = machine.kernel().NewObject(thread);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(0x1000 + 4 * nIndex);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(0x2000 + 4 * nIndex);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (auto error = SIM_FAULT("GetExitCodeProcess", "")) {
        SetLastError(*error);
        return FALSE;
    }
    sim::RunningProcess* process = sim::ProcessOf(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = process->bEnded ? process->outcome.dwExitCode : STILL_ACTIVE;
    return TRUE;
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL /*fWaitAll*/,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("MsgWaitForMultipleObjects", "")) {
        SetLastError(*error);
        return WAIT_FAILED;
    }
    if (nCount != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    sim::RunningProcess* process = sim::ProcessOf(pHandles[0]);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    for (;;) {
        for (const sim::MessageQueue::Entry& entry : machine.messages().queued) {
            if (entry.bNew && (sim::QueueStatusClassOf(entry.msg.message) & dwWakeMask)) {
                return WAIT_OBJECT_0 + nCount;
            }
        }
        if (process->bEnded) {
            return WAIT_OBJECT_0;
        }
        if (dwMilliseconds == 0) {
            return WAIT_TIMEOUT;
        }
        if (process->nNextBurst < process->outcome.postsWhileRunning.size()) {
            for (const MSG& msg : process->outcome.postsWhileRunning[process->nNextBurst]) {
                machine.messages().queued.push_back({msg, true});
            }
            ++process->nNextBurst;
            continue;
        }
        process->bEnded = true;
        if (process->outcome.effect) {
            process->outcome.effect(machine);
        }
    }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND /*hWnd*/, UINT /*wMsgFilterMin*/, UINT /*wMsgFilterMax*/,
                         UINT wRemoveMsg) {
    Machine& machine = Machine::Current();
    if (auto error = SIM_FAULT("PeekMessageA", "")) {
        return FALSE;
    }
    std::vector<sim::MessageQueue::Entry>& queued = machine.messages().queued;
    // Looking at the queue makes whatever waits in it old news for the next wait.
    for (sim::MessageQueue::Entry& entry : queued) {
        entry.bNew = false;
    }
    if (queued.empty()) {
        return FALSE;
    }
    *lpMsg = queued.front().msg;
    if (wRemoveMsg & PM_REMOVE) {
        queued.erase(queued.begin());
    }
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (auto error = SIM_FAULT("TranslateMessage", "")) {
        return FALSE;
    }
    ++Machine::Current().messages().nTranslated;
    return lpMsg->message == WM_KEYDOWN;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (auto error = SIM_FAULT("DispatchMessageA", "")) {
        return 0;
    }
    Machine::Current().messages().dispatched.push_back(*lpMsg);
    return 0;
}

BOOL WINAPI PostThreadMessageA(DWORD /*idThread*/, UINT Msg, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    Machine::Current().messages().queued.push_back({msg, true});
    return TRUE;
}

}  // extern "C"
