#include "removal/DistributionUnit.h"

#include "log/PrintMessage.h"
#include "platform/CommandRunner.h"
#include "platform/Modules.h"
#include "platform/RegistryKey.h"
#include "platform/StringJoin.h"
#include "platform/StructuredGuard.h"
#include "platform/SystemDirectory.h"
#include "removal/InfSweep.h"
#include "removal/KorvaneTables.h"

typedef HRESULT(WINAPI* PFN_REMOVE_CONTROL_BY_NAME)(LPCSTR szFile, LPCSTR szClsid,
                                                    LPCSTR szTypeLibId, BOOL bForceRemove,
                                                    DWORD dwIsDistributionUnit);

namespace {

// The control-cache call and what it answered, shared with the guarded region.
struct CONTROL_REMOVAL {
    HMODULE hControlCache;
    LPCSTR szPath;
    LPCSTR szClsid;
    HRESULT hr;
};

void RemoveControl(void* pContext) {
    CONTROL_REMOVAL& removal = *static_cast<CONTROL_REMOVAL*>(pContext);
    auto pfnRemoveControlByName =
        GetProcAddressAs<PFN_REMOVE_CONTROL_BY_NAME>(removal.hControlCache, "RemoveControlByName");
    if (pfnRemoveControlByName == NULL) {
        return;
    }
    PrintMessage("\t found RemoveControlByName, calling ...\n");
    removal.hr = pfnRemoveControlByName(removal.szPath, removal.szClsid, NULL, TRUE, 0);
    PrintMessage("\t on %s ... returned: %08x\n", removal.szPath,
                 static_cast<unsigned>(removal.hr));
}

// The unit's key below HKEY_LOCAL_MACHINE, with szSuffix after it.
BOOL JoinUnitKey(LPSTR szKey, size_t nCapacity, LPCSTR szClsid, LPCSTR szSuffix = "") {
    return JoinStrings(szKey, nCapacity, {g_szDistributionUnitsKey, szClsid, szSuffix});
}

void DeleteUnitTree(LPCSTR szClsid) {
    CHAR szKey[260];
    if (JoinUnitKey(szKey, sizeof(szKey), szClsid)) {
        CRegistryKey machine(HKEY_LOCAL_MACHINE);
        machine.DeleteTree(szKey);
    }
}

}  // namespace

BOOL IsDistributionUnitRegistered(LPCSTR szClsid) {
    CHAR szKey[256];
    if (!JoinUnitKey(szKey, sizeof(szKey), szClsid)) {
        return FALSE;
    }
    CRegistryKey unit;
    return unit.Open(HKEY_LOCAL_MACHINE, szKey, KEY_READ) == ERROR_SUCCESS;
}

HRESULT DeleteInstalledUnit(LPCSTR szPath, LPCSTR szClsid) {
    PrintMessage("Started DeleteInstalledUnit()\n");

    CUniqueModule hControlCache(LoadSystemLibrary("OCCACHE.DLL"));
    if (!hControlCache) {
        const DWORD dwError = GetLastError();
        PrintMessage("\t **FAILED** to load OCCACHE.DLL\n");
        const HRESULT hr = HRESULT_FROM_WIN32(dwError);
        // A failed load must not read as success: the caller would delete the unit's tree.
        return hr != S_OK ? hr : E_FAIL;
    }

    CONTROL_REMOVAL removal = {hControlCache.get(), szPath, szClsid, E_FAIL};
    DWORD dwExceptionCode = 0;
    if (!CallWithStructuredGuard(RemoveControl, &removal, &dwExceptionCode)) {
        PrintMessage("*** EXCEPTION: %08x *****\n", static_cast<unsigned>(dwExceptionCode));
        PrintMessage("Continuing after exception in RemoveControlByName()\n");
    }
    hControlCache.reset();
    PrintMessage("Completed DeleteInstalledUnit(): %08x\n", static_cast<unsigned>(removal.hr));
    return removal.hr;
}

void DeleteDistributionUnit(LPCSTR szClsid) {
    PrintMessage("Started DeleteDistributionUnit: %s\n", szClsid);

    CHAR szKey[256];
    CRegistryKey download;
    if (JoinUnitKey(szKey, sizeof(szKey), szClsid, "\\DownloadInformation") &&
        download.Open(HKEY_LOCAL_MACHINE, szKey, KEY_READ) == ERROR_SUCCESS) {
        PrintMessage("\tdistribution has download information registered\n");

        // A stored path of 260 characters or more does not fit and counts as absent.
        CHAR szFile[260];
        DWORD nChars = sizeof(szFile);
        if (download.QueryString("INF", szFile, nChars) == ERROR_SUCCESS) {
            PrintMessage("\tINF file: [%s]\n", szFile);
            RunInfDefaultUninstall(szFile);
            if (!DeleteFileA(szFile)) {
                PrintMessage("\t\t delete inf file failed: %08x\n",
                             static_cast<unsigned>(GetLastError()));
            }
        }
        nChars = sizeof(szFile);
        if (download.QueryString("OSD", szFile, nChars) == ERROR_SUCCESS) {
            PrintMessage("\t(delete) OSD file: [%s]\n", szFile);
            if (!DeleteFileA(szFile)) {
                PrintMessage("\t\t delete osd file failed: %08x\n",
                             static_cast<unsigned>(GetLastError()));
            }
        }
        download.Close();
        PrintMessage("\tGoing to delete the reg key ...\n");
        DeleteUnitTree(szClsid);
    }
    PrintMessage("Completed DeleteDistributionUnit\n");
}

void UninstallDistributionUnit(LPCSTR szFileName, LPCSTR szClsid) {
    PrintMessage("Uninstalling distribution unit: %s\n", szClsid);
    if (!IsDistributionUnitRegistered(szClsid)) {
        PrintMessage("\tIt wasnt registered\n");
    } else {
        PrintMessage("\tIt is registered\n");
        CHAR szSystem[259];
        CHAR szPath[260];
        // No system directory, or no room for the library's path: no control-cache stage.
        if (GetSystemDirectoryPreferWow64(szSystem, sizeof(szSystem)) != 0 &&
            JoinStrings(szPath, sizeof(szPath), {szSystem, "\\", szFileName})) {
            if (SUCCEEDED(DeleteInstalledUnit(szPath, szClsid))) {
                PrintMessage("\tGoing to delete the reg key ...\n");
                DeleteUnitTree(szClsid);
            }
        }
        DeleteDistributionUnit(szClsid);
        ManualRunInfUninstall(TRUE);
    }
    PrintMessage("Completed uninstalling distribution unit: %s\n", szClsid);
}
