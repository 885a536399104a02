#include <string>
#include <vector>

#include "ExpectedLogs.h"
#include "TestMachine.h"

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

TEST_F(EntryTest, NarrowsTheLibrarySearchToTheSystemDirectory) {
    files().SetModule("C:\\Users\\Admin\\Downloads\\msi.dll", sim::PlantedMsiImage());
    sim::CapturedStdout out;

    EXPECT_EQ(RunProgram({"-q"}), 0);
    EXPECT_EQ(machine().DefaultDllDirectories(), static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(machine().installer().nPlantedCalls, 0u);
}

TEST_F(EntryTest, RunsOnAWindowsThatCannotNarrowTheSearch) {
    machine().RemoveSystemExport("kernel32.dll", "SetDefaultDllDirectories");
    machine().installer().components = {"{8E4F2A6D-19C3-4B7E-9D05-3A6C71E2B840}"};
    sim::CapturedStdout out;

    EXPECT_EQ(RunProgram({"/log"}), 0);
    EXPECT_EQ(out.Text(), std::string(kBanner) + kRefusal);
    EXPECT_EQ(machine().DefaultDllDirectories(), 0u);
}

}  // namespace
