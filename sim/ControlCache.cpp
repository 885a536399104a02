// The browser's control cache, OCCACHE.DLL, as a simulated library: its RemoveControlByName
// does what ControlCacheState says and keeps a record of each call.
#include "Internal.h"

namespace sim {

namespace {

void RecordCall(LPCSTR lpszFile, LPCSTR lpszCLSID, LPCSTR lpszTypeLibID, BOOL bForceRemove,
                DWORD dwIsDistUnit) {
    Machine::Current().controlCache().calls.push_back(
        ControlCacheCall{lpszFile == NULL ? "" : lpszFile, lpszCLSID == NULL ? "" : lpszCLSID,
                         lpszTypeLibID == NULL, bForceRemove, dwIsDistUnit});
}

// What the control cache does for a unit: the files its download information names go, then
// its registry tree.
void RemoveUnit(LPCSTR lpszCLSID) {
    Machine& machine = Machine::Current();
    const std::string unit = machine.ProcessSoftwareKey() +
                             "\\Microsoft\\Code Store Database\\Distribution Units\\" + lpszCLSID;
    for (const char* szValue : {"INF", "OSD"}) {
        std::optional<RegValue> value =
            machine.registry().GetValue(unit + "\\DownloadInformation", szValue);
        if (value && !value->data.empty()) {
            const std::string path(value->data.begin(), value->data.end() - 1);
            machine.files().Remove(machine.Redirect(AbsolutePath(path)));
        }
    }
    machine.registry().DeleteTree(unit);
}

HRESULT WINAPI SimRemoveControlByName(LPCSTR lpszFile, LPCSTR lpszCLSID, LPCSTR lpszTypeLibID,
                                      BOOL bForceRemove, DWORD dwIsDistUnit) {
    RecordCall(lpszFile, lpszCLSID, lpszTypeLibID, bForceRemove, dwIsDistUnit);
    const ControlCacheState& state = Machine::Current().controlCache();
    switch (state.behaviour) {
        case ControlCacheBehaviour::RemovesUnit:
            RemoveUnit(lpszCLSID);
            return S_OK;
        case ControlCacheBehaviour::SucceedsLeavingUnit:
            return S_OK;
        case ControlCacheBehaviour::Fails:
            return state.hrFailure;
        case ControlCacheBehaviour::Raises:
            RaiseException(state.dwExceptionCode, 0, 0, NULL);
            break;
        case ControlCacheBehaviour::RaisesAndRecovers:
            RaiseAndRecover(state.dwExceptionCode);
            RemoveUnit(lpszCLSID);
            return S_OK;
    }
    return E_UNEXPECTED;
}

}  // namespace

ModuleImagePtr ControlCacheImage() {
    ModuleImagePtr image = EmptyImage("OCCACHE.DLL");
    image->exports["RemoveControlByName"] = AsFarProc(&SimRemoveControlByName);
    return image;
}

ModuleImagePtr ControlCacheImageWithoutExport() {
    return EmptyImage("OCCACHE.DLL without RemoveControlByName");
}

}  // namespace sim
