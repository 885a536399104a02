#include "removal/FileSweeps.h"

#include <windows.h>

#include "log/PrintMessage.h"
#include "platform/Modules.h"
#include "platform/StringJoin.h"
#include "platform/StructuredGuard.h"
#include "platform/SystemDirectory.h"
#include "removal/KorvaneTables.h"

typedef HRESULT(WINAPI* PFN_DLL_UNREGISTER_SERVER)();

namespace {

void CallDllUnregisterServer(void* pContext) {
    (*static_cast<PFN_DLL_UNREGISTER_SERVER*>(pContext))();
}

// Lets a library undo its own registration, if it loads and knows how; what it answers is not
// looked at. A library that crashes doing so must not take the rest of the removal with it.
void AskToUnregister(LPCSTR szPath) {
    CUniqueModule hLibrary(LoadLibraryByPath(szPath));
    if (!hLibrary) {
        return;
    }
    auto pfnDllUnregisterServer =
        GetProcAddressAs<PFN_DLL_UNREGISTER_SERVER>(hLibrary.get(), "DllUnregisterServer");
    if (pfnDllUnregisterServer != NULL) {
        PrintMessage(" asking it to unregister");
        DWORD dwExceptionCode = 0;
        if (!CallWithStructuredGuard(CallDllUnregisterServer, &pfnDllUnregisterServer,
                                     &dwExceptionCode)) {
            // The line that asked the library is still open.
            PrintMessage("\n*** EXCEPTION: %08x *****\n", static_cast<unsigned>(dwExceptionCode));
            PrintMessage("Continuing after exception in DllUnregisterServer()");
        }
    }
}

// Starts a file's line: whether it is there. The line is finished here when it is not.
BOOL LookFor(LPCSTR szPath) {
    PrintMessage("Looking for: [%s]", szPath);
    if (GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES) {
        PrintMessage(" - not found. OK\n");
        return FALSE;
    }
    PrintMessage(" - exists. ");
    return TRUE;
}

}  // namespace

void DeleteKorvaneFiles() {
    PrintMessage("[Info] DeleteKorvaneFiles...\n");

    CHAR szSystem[MAX_PATH + 1];
    if (GetSystemDirectoryPreferWow64(szSystem, sizeof(szSystem)) == 0) {
        return;
    }
    for (LPCSTR szFileName : g_SystemFiles) {
        // A directory of at most 260 characters always leaves room here.
        CHAR szPath[520];
        JoinStrings(szPath, sizeof(szPath), {szSystem, "\\", szFileName});
        if (!LookFor(szPath)) {
            continue;
        }
        AskToUnregister(szPath);
        if (DeleteFileA(szPath)) {
            PrintMessage(" deleted ok\n");
        } else {
            PrintMessage(" delete failed: %08x\n", static_cast<unsigned>(GetLastError()));
        }
    }
}

void DeleteKorvaneOSDFiles() {
    PrintMessage("[Info] DeleteKorvaneOSDFiles...\n");

    CHAR szWindows[MAX_PATH + 1];
    if (GetWindowsDirectoryChecked(szWindows, sizeof(szWindows)) == 0) {
        return;
    }
    for (LPCSTR szFileName : g_DownloadFiles) {
        CHAR szPath[520];
        JoinStrings(szPath, sizeof(szPath),
                    {szWindows, "\\Downloaded Program Files\\", szFileName});
        if (!LookFor(szPath)) {
            continue;
        }
        if (DeleteFileA(szPath)) {
            PrintMessage("deleted ok\n");
        } else {
            PrintMessage("delete failed: %08x\n", static_cast<unsigned>(GetLastError()));
        }
    }
}
