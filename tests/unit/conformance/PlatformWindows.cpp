#include "PlatformTest.h"

namespace {

bool Is64BitWindows() {
    if (sizeof(void*) == 8) {
        return true;
    }
    // Windows XP before SP2 lacks IsWow64Process; it has no 64-bit edition that would need it.
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    auto pIsWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL bWow64 = FALSE;
    return pIsWow64Process != NULL && pIsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
}

}  // namespace

std::vector<PlatformShape> PlatformShapes() {
    return {{static_cast<int>(sizeof(void*) * 8), Is64BitWindows(), std::nullopt}};
}

std::shared_ptr<void> StartPlatform(const PlatformShape& /*shape*/) {
    return nullptr;
}

std::string ScratchDirectory() {
    // One per process, so that a folder a run cut short left behind never stops the next one.
    static const std::string directory = [] {
        char szTemp[MAX_PATH + 1];
        const DWORD nTemp = GetTempPathA(sizeof(szTemp), szTemp);
        std::string path = nTemp > 0 && nTemp < sizeof(szTemp) ? szTemp : "C:\\";
        return path + "korvane-conformance-" + std::to_string(GetCurrentProcessId());
    }();
    return directory;
}
