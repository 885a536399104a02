#include "TestMachine.h"

#include <vector>

#include "log/PrintMessage.h"
#include "platform/RegistryKey.h"
#include "removal/InstallerDetection.h"

void ResetProcessState() {
    g_bVerbose = TRUE;
    g_bMsiDetectionDone = FALSE;
    g_bInstalledByWindowsInstaller = FALSE;
    g_bRegDeleteKeyExLookedUp = FALSE;
    g_pfnRegDeleteKeyExA = NULL;
}

int RunProgram(std::initializer_list<std::string> args) {
    std::vector<std::string> storage{"KorvaneUninstall.exe"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return KorvaneUninstallMain(static_cast<int>(storage.size()), argv.data());
}
