#include <windows.h>

#include <stdio.h>

#include "log/PrintMessage.h"
#include "platform/Modules.h"
#include "removal/InstallerDetection.h"
#include "removal/UninstallSequence.h"

int main(int argc, char* argv[]) {
    RestrictLibrarySearchToSystemDirectory();

    if (argc == 2 && lstrcmpiA(argv[1], "-q") == 0) {
        g_bVerbose = FALSE;
    }

    PrintMessage("Velmor Korvane Uninstall utility.\n");

    if (IsInstalledByWindowsInstaller()) {
        PrintMessage(
            "Korvane has been installed using Windows Installer, please use Add/Remove Programs "
            "to remove Korvane\n");
    } else {
        UninstallKorvane();
    }

    // Started without arguments, most likely in a console window of its own: keep it readable.
    if (argc == 1) {
        fputs("Press any key to continue ...", stdout);
        // Redirected output is buffered; the prompt must show before the read blocks.
        fflush(stdout);
        getchar();
    }
    return 0;
}
