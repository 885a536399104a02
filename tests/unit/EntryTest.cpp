#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ExpectedLogs.h"
#include "TestMachine.h"
#include "ToolkitInstallation.h"

namespace {

const char kBanner[] = "Velmor Korvane Uninstall utility.\n";
const char kRefusal[] =
    "Korvane has been installed using Windows Installer, please use Add/Remove Programs to "
    "remove Korvane\n";
const char kPrompt[] = "Press any key to continue ...";

struct EntryCase {
    std::vector<std::string> args;
    bool bLogged;
    bool bPaused;
};

class EntryTest : public MachineTest {
protected:
    void ExpectRun(const EntryCase& c, const std::string& log) {
        std::string description;
        for (const std::string& arg : c.args) {
            description += "[" + arg + "]";
        }
        sim::ScriptedStdin in("\nmore");
        sim::CapturedStdout out;
        std::vector<std::string> args = c.args;
        int nExit = -1;
        switch (args.size()) {
            case 0:
                nExit = RunProgram({});
                break;
            case 1:
                nExit = RunProgram({args[0]});
                break;
            default:
                nExit = RunProgram({args[0], args[1]});
                break;
        }
        EXPECT_EQ(nExit, 0) << description;
        EXPECT_EQ(out.Text(), (c.bLogged ? log : "") + (c.bPaused ? kPrompt : "")) << description;
        EXPECT_EQ(in.Consumed(), c.bPaused ? 1 : 0) << description;
    }
};

const std::vector<EntryCase> kSwitchMatrix = {
    {{}, true, true},
    {{"-q"}, false, false},
    {{"-Q"}, false, false},
    {{"-q", "extra"}, true, false},
    {{"extra", "-q"}, true, false},
    {{"/?"}, true, false},
    {{"/q"}, true, false},
    {{"-qq"}, true, false},
    {{""}, true, false},
};

TEST_F(EntryTest, SwitchAndPauseMatrixWhenNothingWasInstalledByWindowsInstaller) {
    for (const EntryCase& c : kSwitchMatrix) {
        Boot(sim::Shape());
        ExpectRun(c, std::string(kBanner) + kCleanMachineLog);
    }
}

TEST_F(EntryTest, SwitchAndPauseMatrixWhenWindowsInstallerBroughtTheToolkit) {
    for (const EntryCase& c : kSwitchMatrix) {
        Boot(sim::Shape());
        machine().installer().components = {"{5D07C3B9-2E8A-4F61-A4C2-9B3E05D7F1A6}"};
        ExpectRun(c, std::string(kBanner) + kRefusal);
    }
}

TEST_F(EntryTest, LibrariesLookForWhatTheyImportOnlyInSystemDirectories) {
    const std::string kSystem = "C:\\WINDOWS\\SysWOW64";
    const struct {
        const char* szWindows;
        bool bSetDefaultDllDirectories;
        DWORD dwDefaultDllDirectories;
        std::optional<std::string> dllDirectory;
        std::vector<std::string> importSearch;
    } cases[] = {
        {"with SetDefaultDllDirectories",
         true,
         LOAD_LIBRARY_SEARCH_SYSTEM32,
         std::nullopt,
         {kSystem}},
        // Windows XP SP3 to 7 without KB2533623: beside the library first, and neither this
        // program's folder nor the current directory.
        {"without it", false, 0, "", {kSystem, kSystem, "C:\\WINDOWS"}},
    };
    for (const auto& c : cases) {
        sim::Shape shape;
        shape.currentDirectory = "C:\\work";
        Boot(shape);
        if (!c.bSetDefaultDllDirectories) {
            machine().RemoveSystemExport("kernel32.dll", "SetDefaultDllDirectories");
        }
        InstallToolkit(machine());
        files().SetModule("C:\\Users\\Admin\\Downloads\\msi.dll", sim::PlantedMsiImage());
        sim::CapturedStdout out;

        EXPECT_EQ(RunProgram({"/log"}), 0) << c.szWindows;
        EXPECT_NE(out.Text().find("\nLeaving UninstallKorvane\n"), std::string::npos)
            << c.szWindows;
        EXPECT_EQ(machine().DefaultDllDirectories(), c.dwDefaultDllDirectories) << c.szWindows;
        EXPECT_EQ(machine().DllDirectory(), c.dllDirectory) << c.szWindows;
        // msi.dll, version.dll, OCCACHE.DLL and the toolkit's four libraries.
        const std::set<std::string> loaded(machine().LoadHistory().begin(),
                                           machine().LoadHistory().end());
        EXPECT_EQ(loaded.size(), 7u) << c.szWindows;
        for (const std::string& library : loaded) {
            EXPECT_EQ(machine().ImportSearchOf(library), c.importSearch)
                << c.szWindows << ": " << library;
        }
        EXPECT_EQ(machine().installer().nPlantedCalls, 0u) << c.szWindows;
    }
}

}  // namespace
