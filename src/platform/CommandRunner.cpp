#include "platform/CommandRunner.h"

#include <memory>

#include "log/PrintMessage.h"
#include "platform/Handles.h"
#include "platform/StringJoin.h"
#include "platform/SystemDirectory.h"

namespace {

// QS_ALLINPUT as the Windows headers before Windows 8 defined it; later headers add touch and
// pointer input to it.
const DWORD kWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                        QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY | QS_RAWINPUT;
static_assert(kWakeMask == 0x4FF, "the wake mask of the original design");

const CHAR kInfArgumentsBefore[] = "advpack.dll,LaunchINFSection ";
const CHAR kInfArgumentsAfter[] = ",DefaultUninstall,1";

BOOL IsBareName(LPCSTR szProgram) {
    for (LPCSTR p = szProgram; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') {
            return FALSE;
        }
    }
    return TRUE;
}

std::unique_ptr<CHAR[]> JoinIntoNew(size_t nCapacity, std::initializer_list<LPCSTR> parts) {
    std::unique_ptr<CHAR[]> szJoined(new CHAR[nCapacity]);
    JoinStrings(szJoined.get(), nCapacity, parts);
    return szJoined;
}

}  // namespace

DWORD ExecuteCommand(LPCSTR szApplication, LPCSTR szArguments) {
    // The command line keeps the program as given; it is also what the log shows.
    const size_t nCommandLine = static_cast<size_t>(lstrlenA(szApplication)) +
                                static_cast<size_t>(lstrlenA(szArguments)) + 7;
    std::unique_ptr<CHAR[]> szCommandLine =
        JoinIntoNew(nCommandLine, {szApplication, " ", szArguments});

    // Without an application name Windows would look in this program's directory and the
    // current directory first: a planted copy there would run as administrator. The child
    // starts in the system directory for the same reason: whatever its INF section names by
    // bare name must not come from where this program was started.
    CHAR szSystem[MAX_PATH + 1];
    CHAR szProgramPath[520];
    LPCSTR szProgram = szApplication;
    BOOL bReady = GetSystemDirectoryChecked(szSystem, sizeof(szSystem)) != 0;
    if (bReady && IsBareName(szApplication)) {
        bReady = JoinStrings(szProgramPath, sizeof(szProgramPath), {szSystem, "\\", szApplication});
        if (!bReady) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
        szProgram = szProgramPath;
    }

    STARTUPINFOA startupInfo;
    ZeroMemory(&startupInfo, sizeof(startupInfo));
    startupInfo.cb = sizeof(startupInfo);
    startupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startupInfo.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION processInfo;
    ZeroMemory(&processInfo, sizeof(processInfo));
    if (!bReady ||
        !CreateProcessA(szProgram, szCommandLine.get(), NULL, NULL, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, NULL, szSystem, &startupInfo, &processInfo)) {
        const DWORD dwError = GetLastError();
        PrintMessage("[Error] Execute command: [%s] failed %d\n", szCommandLine.get(),
                     static_cast<int>(dwError));
        return dwError;
    }
    CUniqueHandle hProcess(processInfo.hProcess);
    CUniqueHandle hThread(processInfo.hThread);

    const DWORD dwWaitError = WaitWithMessagePump(hProcess.get());
    if (dwWaitError != ERROR_SUCCESS) {
        return dwWaitError;
    }
    DWORD dwExitCode = 0;
    if (!GetExitCodeProcess(hProcess.get(), &dwExitCode)) {
        dwExitCode = 0;
    }
    hProcess.reset();
    hThread.reset();
    PrintMessage("[Info] Execute command: [%s] returned %d\n", szCommandLine.get(),
                 static_cast<int>(dwExitCode));
    return dwExitCode;
}

DWORD WaitWithMessagePump(HANDLE hObject) {
    for (;;) {
        const DWORD dwResult = MsgWaitForMultipleObjects(1, &hObject, FALSE, INFINITE, kWakeMask);
        if (dwResult == WAIT_OBJECT_0) {
            return ERROR_SUCCESS;
        }
        if (dwResult != WAIT_OBJECT_0 + 1) {
            const DWORD dwError = GetLastError();
            // Never let a failed wait pass for a signalled one.
            return dwError != ERROR_SUCCESS ? dwError : dwResult;
        }
        MSG msg;
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

BOOL RunInfDefaultUninstall(LPCSTR szInfPath) {
    const size_t nArguments = sizeof(kInfArgumentsBefore) - 1 +
                              static_cast<size_t>(lstrlenA(szInfPath)) + sizeof(kInfArgumentsAfter);
    std::unique_ptr<CHAR[]> szArguments =
        JoinIntoNew(nArguments, {kInfArgumentsBefore, szInfPath, kInfArgumentsAfter});
    return ExecuteCommand("rundll32.exe", szArguments.get()) == ERROR_SUCCESS;
}
