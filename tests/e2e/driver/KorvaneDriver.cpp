// Calls the utility's operations one at a time on a real Windows (Wine, here), for what the
// program's entry cannot reach on its own. Prints each operation's log, then its result.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "log/PrintMessage.h"
#include "platform/CommandRunner.h"
#include "platform/SystemDirectory.h"
#include "removal/DistributionUnit.h"
#include "removal/InfSweep.h"

namespace {

int Usage() {
    fprintf(stderr,
            "usage: KorvaneDriver inf-sweep delete|full\n"
            "       KorvaneDriver exec <application> <arguments>\n"
            "       KorvaneDriver pump <application> <arguments>\n"
            "       KorvaneDriver sysdir\n"
            "       KorvaneDriver unit <library file> <clsid>\n");
    return 2;
}

// Messages that arrive while a child runs: a window counts what reaches it.
LONG g_nDispatched = 0;

LRESULT CALLBACK CountingWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg >= WM_USER && uMsg < WM_USER + 100) {
        InterlockedIncrement(&g_nDispatched);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// Posts three messages, each once the one before has reached the window, and only then lets the
// child end: however slow the machine, every message arrives while the child runs. A waiting
// thread that does not dispatch is given ten seconds a message, and the count says the rest.
DWORD WINAPI PostWhileTheChildRuns(LPVOID pWindow) {
    for (LONG i = 0; i < 3; ++i) {
        PostMessageA(static_cast<HWND>(pWindow), WM_USER + i, 0, 0);
        for (int nPolls = 0; nPolls < 200 && InterlockedCompareExchange(&g_nDispatched, 0, 0) <= i;
             ++nPolls) {
            Sleep(50);
        }
    }
    HANDLE hGo = CreateFileA("C:\\pumped-child.go", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (hGo != INVALID_HANDLE_VALUE) {
        CloseHandle(hGo);
    }
    return 0;
}

int Pump(LPCSTR szApplication, LPCSTR szArguments) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "KorvaneDriverCounter";
    RegisterClassA(&windowClass);
    // Message-only: no display is needed for it.
    HWND hWindow = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   NULL, windowClass.hInstance, NULL);
    HANDLE hPoster = CreateThread(NULL, 0, PostWhileTheChildRuns, hWindow, 0, NULL);
    const DWORD dwResult = ExecuteCommand(szApplication, szArguments);
    WaitForSingleObject(hPoster, INFINITE);
    CloseHandle(hPoster);
    printf("=> %lu, dispatched %ld\n", static_cast<unsigned long>(dwResult), g_nDispatched);
    DestroyWindow(hWindow);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && strcmp(argv[1], "inf-sweep") == 0) {
        const BOOL bResult = ManualRunInfUninstall(strcmp(argv[2], "delete") == 0);
        printf("=> %s\n", bResult ? "TRUE" : "FALSE");
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "exec") == 0) {
        printf("=> %lu\n", static_cast<unsigned long>(ExecuteCommand(argv[2], argv[3])));
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "pump") == 0) {
        return Pump(argv[2], argv[3]);
    }
    if (argc == 4 && strcmp(argv[1], "unit") == 0) {
        UninstallDistributionUnit(argv[2], argv[3]);
        printf("=> done\n");
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "sysdir") == 0) {
        CHAR szDirectory[261];
        const UINT nLength = GetSystemDirectoryPreferWow64(szDirectory, sizeof(szDirectory));
        printf("=> %u %s\n", nLength, nLength != 0 ? szDirectory : "");
        return 0;
    }
    return Usage();
}
