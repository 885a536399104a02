#include "removal/InfSweep.h"

#include "log/PrintMessage.h"
#include "platform/CommandRunner.h"
#include "platform/StringJoin.h"
#include "platform/SystemDirectory.h"
#include "removal/KorvaneTables.h"

BOOL ManualRunInfUninstall(BOOL bDeleteOnly) {
    PrintMessage("[Info] Checking ManualRunInfUninstall(bDeleteOnly: %s)...\n",
                 bDeleteOnly ? "TRUE" : "FALSE");

    CHAR szWindows[MAX_PATH + 1];
    if (GetWindowsDirectoryChecked(szWindows, sizeof(szWindows)) == 0) {
        return FALSE;
    }
    for (const INF_ENTRY& entry : g_InfFiles) {
        PrintMessage("Looking for: [%s]", entry.szInfName);
        // A directory of at most 260 characters always leaves room here.
        CHAR szPath[520];
        JoinStrings(szPath, sizeof(szPath), {szWindows, "\\Inf\\", entry.szInfName});
        if (GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES) {
            PrintMessage(" - not found. OK\n");
            continue;
        }
        PrintMessage(" it exists\n");
        if (entry.bRunUninstall && !bDeleteOnly && !RunInfDefaultUninstall(szPath)) {
            return FALSE;
        }
        if (!DeleteFileA(szPath)) {
            PrintMessage("\t\t delete failed: %08x\n", static_cast<unsigned>(GetLastError()));
        }
    }
    return TRUE;
}
