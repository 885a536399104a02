#include "ProcessState.h"

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
