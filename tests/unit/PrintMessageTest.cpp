#include <string>
#include <vector>

#include "TestMachine.h"
#include "ToolkitInstallation.h"
#include "log/PrintMessage.h"
#include "removal/UninstallSequence.h"

namespace {

class PrintMessageTest : public MachineTest {};

TEST_F(PrintMessageTest, PrintsInsertedTextUnchangedIncludingPercentSigns) {
    sim::CapturedStdout out;
    PrintMessage("Looking for: [%s]", "C:\\100%s off\\%d%n%%.inf");
    PrintMessage(" - not found. OK\n");
    PrintMessage("\t\t delete failed: %08x\n", 0x20u);
    PrintMessage("[Info] Execute command: [%s] returned %d\n", "a.exe %1", -1);

    EXPECT_EQ(out.Text(),
              "Looking for: [C:\\100%s off\\%d%n%%.inf] - not found. OK\n"
              "\t\t delete failed: 00000020\n"
              "[Info] Execute command: [a.exe %1] returned -1\n");
}

TEST_F(PrintMessageTest, PrintsWholeTextAroundEveryBufferSize) {
    // "[" + insertion + "]" plus the terminator: 510 fits the first 512 bytes exactly, the
    // longer ones need 1024, 2048, ... bytes.
    for (size_t nInsertion : {509u, 510u, 511u, 1021u, 1022u, 1023u, 4096u, 1000000u}) {
        const std::string insertion(nInsertion, 'x');
        sim::CapturedStdout out;
        PrintMessage("[%s]", insertion.c_str());
        EXPECT_EQ(out.Text(), "[" + insertion + "]") << "insertion of " << nInsertion;
    }
}

TEST_F(PrintMessageTest, QuietPrintsNothing) {
    sim::CapturedStdout out;
    g_bVerbose = FALSE;
    PrintMessage("Velmor Korvane Uninstall utility.\n");
    PrintMessage("[%s]", std::string(5000, 'x').c_str());

    EXPECT_EQ(out.Text(), "");
}

// Output redirected to a file is fully buffered by the C runtime. A run that a deployment tool
// kills while an INF section hangs must still have logged every line up to the command.
TEST_F(PrintMessageTest, EveryMessageHasReachedTheFileWhileTheInfEngineRuns) {
    ToolkitOptions options;
    options.bControlCache = false;
    InstallToolkit(machine(), options);
    sim::CapturedStdout out;
    std::vector<std::string> writtenWhileRunning;
    const std::string downloads = "C:\\WINDOWS\\Downloaded Program Files\\";
    for (const char* szInf : {"vlwarden.inf", "qlvn2.inf"}) {
        sim::ProcessOutcome outcome;
        outcome.effect = [&](sim::Machine&) { writtenWhileRunning.push_back(out.Written()); };
        machine().processes().OnCommandLine("rundll32.exe advpack.dll,LaunchINFSection " +
                                                downloads + szInf + ",DefaultUninstall,1",
                                            outcome);
    }

    UninstallKorvane();

    const std::string log = out.Text();
    ASSERT_EQ(writtenWhileRunning.size(), 2u);
    size_t nRun = 0;
    for (const char* szInf : {"vlwarden.inf", "qlvn2.inf"}) {
        const std::string line = "\tINF file: [" + downloads + szInf + "]\n";
        const size_t nEnd = log.find(line) + line.size();
        EXPECT_EQ(writtenWhileRunning[nRun++], log.substr(0, nEnd)) << szInf;
    }
}

}  // namespace
