#include <string>
#include <vector>

#include "TestMachine.h"
#include "removal/InfSweep.h"

namespace {

const char kInfDirectory[] = "C:\\WINDOWS\\Inf\\";
const std::vector<std::string> kAllInfFiles = {"qlvn2.inf",  "qlvn.inf", "Korvane.inf",
                                               "warden.inf", "tm.inf",   "plotra.inf"};

std::string InfCommand(const std::string& name) {
    return "rundll32.exe advpack.dll,LaunchINFSection " + std::string(kInfDirectory) + name +
           ",DefaultUninstall,1";
}

std::string Ran(const std::string& name, int nExitCode = 0) {
    return "[Info] Execute command: [" + InfCommand(name) + "] returned " +
           std::to_string(nExitCode) + "\n";
}

sim::ProcessOutcome Exit(DWORD dwExitCode) {
    sim::ProcessOutcome outcome;
    outcome.dwExitCode = dwExitCode;
    return outcome;
}

class InfSweepTest : public MachineTest {
protected:
    void AddInfFiles(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            files().AddFile(kInfDirectory + name);
        }
    }

    std::vector<std::string> Remaining() { return files().List("C:\\WINDOWS\\Inf"); }
};

TEST_F(InfSweepTest, DeleteOnlyDeletesEveryFileAndRunsNothing) {
    AddInfFiles(kAllInfFiles);
    files().AddFile("C:\\WINDOWS\\Inf\\other.inf");
    sim::CapturedStdout out;

    EXPECT_TRUE(ManualRunInfUninstall(TRUE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...\n"
              "Looking for: [qlvn2.inf] it exists\n"
              "Looking for: [qlvn.inf] it exists\n"
              "Looking for: [Korvane.inf] it exists\n"
              "Looking for: [warden.inf] it exists\n"
              "Looking for: [tm.inf] it exists\n"
              "Looking for: [plotra.inf] it exists\n");
    EXPECT_TRUE(machine().processes().History().empty());
    EXPECT_EQ(Remaining(), std::vector<std::string>{"other.inf"});
}

TEST_F(InfSweepTest, FullModeRunsEachSectionItsRowAsksForThenDeletes) {
    AddInfFiles(kAllInfFiles);
    sim::CapturedStdout out;

    EXPECT_TRUE(ManualRunInfUninstall(FALSE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
              "Looking for: [qlvn2.inf] it exists\n" +
                  Ran("qlvn2.inf") + "Looking for: [qlvn.inf] it exists\n" + Ran("qlvn.inf") +
                  "Looking for: [Korvane.inf] it exists\n" + Ran("Korvane.inf") +
                  "Looking for: [warden.inf] it exists\n" + Ran("warden.inf") +
                  "Looking for: [tm.inf] it exists\n" + Ran("tm.inf") +
                  "Looking for: [plotra.inf] it exists\n");
    EXPECT_EQ(machine().processes().CommandLines(),
              (std::vector<std::string>{InfCommand("qlvn2.inf"), InfCommand("qlvn.inf"),
                                        InfCommand("Korvane.inf"), InfCommand("warden.inf"),
                                        InfCommand("tm.inf")}));
    EXPECT_TRUE(Remaining().empty());
}

TEST_F(InfSweepTest, FullModeWithOnlyTheFileWhoseRowRunsNothing) {
    AddInfFiles({"plotra.inf"});
    sim::CapturedStdout out;

    EXPECT_TRUE(ManualRunInfUninstall(FALSE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
              "Looking for: [qlvn2.inf] - not found. OK\n"
              "Looking for: [qlvn.inf] - not found. OK\n"
              "Looking for: [Korvane.inf] - not found. OK\n"
              "Looking for: [warden.inf] - not found. OK\n"
              "Looking for: [tm.inf] - not found. OK\n"
              "Looking for: [plotra.inf] it exists\n");
    EXPECT_TRUE(machine().processes().History().empty());
    EXPECT_TRUE(Remaining().empty());
}

TEST_F(InfSweepTest, AFailingSectionEndsTheSweepAndKeepsItsFile) {
    AddInfFiles(kAllInfFiles);
    machine().processes().OnCommandLine(InfCommand("qlvn.inf"), Exit(1));
    sim::CapturedStdout out;

    EXPECT_FALSE(ManualRunInfUninstall(FALSE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
              "Looking for: [qlvn2.inf] it exists\n" +
                  Ran("qlvn2.inf") + "Looking for: [qlvn.inf] it exists\n" + Ran("qlvn.inf", 1));
    EXPECT_EQ(Remaining(), (std::vector<std::string>{"Korvane.inf", "plotra.inf", "qlvn.inf",
                                                     "tm.inf", "warden.inf"}));
}

TEST_F(InfSweepTest, AnEngineThatCannotStartEndsTheSweepToo) {
    AddInfFiles({"qlvn2.inf", "qlvn.inf"});
    files().Remove("C:\\WINDOWS\\SysWOW64\\rundll32.exe");
    sim::CapturedStdout out;

    EXPECT_FALSE(ManualRunInfUninstall(FALSE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
              "Looking for: [qlvn2.inf] it exists\n"
              "[Error] Execute command: [" +
                  InfCommand("qlvn2.inf") + "] failed 2\n");
    EXPECT_EQ(Remaining(), (std::vector<std::string>{"qlvn.inf", "qlvn2.inf"}));
}

TEST_F(InfSweepTest, FailedDeletionsAreLoggedAndPassedOver) {
    // A directory named like an entry counts as present; so does a file in use.
    files().AddDirectory("C:\\WINDOWS\\Inf\\tm.inf");
    AddInfFiles({"qlvn.inf", "plotra.inf"});
    files().SetDeleteError("C:\\WINDOWS\\Inf\\qlvn.inf", ERROR_SHARING_VIOLATION);
    sim::CapturedStdout out;

    EXPECT_TRUE(ManualRunInfUninstall(TRUE));

    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...\n"
              "Looking for: [qlvn2.inf] - not found. OK\n"
              "Looking for: [qlvn.inf] it exists\n"
              "\t\t delete failed: 00000020\n"
              "Looking for: [Korvane.inf] - not found. OK\n"
              "Looking for: [warden.inf] - not found. OK\n"
              "Looking for: [tm.inf] it exists\n"
              "\t\t delete failed: 00000005\n"
              "Looking for: [plotra.inf] it exists\n");
    EXPECT_EQ(Remaining(), (std::vector<std::string>{"qlvn.inf", "tm.inf"}));
}

TEST_F(InfSweepTest, ADirectoryNamedLikeAnEntryInFullMode) {
    files().AddDirectory("C:\\WINDOWS\\Inf\\plotra.inf");
    files().AddDirectory("C:\\WINDOWS\\Inf\\warden.inf");
    sim::CapturedStdout out;

    EXPECT_TRUE(ManualRunInfUninstall(FALSE));

    // The engine is handed the directory and, like Windows' own, reports success.
    EXPECT_EQ(out.Text(),
              "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n"
              "Looking for: [qlvn2.inf] - not found. OK\n"
              "Looking for: [qlvn.inf] - not found. OK\n"
              "Looking for: [Korvane.inf] - not found. OK\n"
              "Looking for: [warden.inf] it exists\n" +
                  Ran("warden.inf") +
                  "\t\t delete failed: 00000005\n"
                  "Looking for: [tm.inf] - not found. OK\n"
                  "Looking for: [plotra.inf] it exists\n"
                  "\t\t delete failed: 00000005\n");
}

TEST_F(InfSweepTest, NoWindowsDirectoryEndsTheSweepAfterItsFirstLine) {
    AddInfFiles(kAllInfFiles);
    machine().faults().Inject({"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    {
        sim::CapturedStdout out;
        EXPECT_FALSE(ManualRunInfUninstall(TRUE));
        EXPECT_EQ(out.Text(), "[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...\n");
    }
    machine().faults().Clear();
    machine().SetWindowsDirectoryReported("C:\\" + std::string(300, 'w'));
    {
        sim::CapturedStdout out;
        EXPECT_FALSE(ManualRunInfUninstall(FALSE));
        EXPECT_EQ(out.Text(), "[Info] Checking ManualRunInfUninstall(bDeleteOnly: FALSE)...\n");
    }
    EXPECT_EQ(Remaining().size(), 6u);
}

TEST_F(InfSweepTest, TheLongestWindowsDirectoryStillFits) {
    sim::Shape shape;
    shape.windowsDirectory = "C:\\" + std::string(257, 'w');
    Boot(shape);
    const std::string path = shape.windowsDirectory + "\\Inf\\qlvn.inf";
    files().AddFile(path);
    {
        sim::CapturedStdout out;
        EXPECT_TRUE(ManualRunInfUninstall(TRUE));
        EXPECT_FALSE(files().Exists(path));
    }

    // Its system directory no longer fits a path buffer, so the engine cannot be started.
    files().AddFile(path);
    sim::CapturedStdout out;
    EXPECT_FALSE(ManualRunInfUninstall(FALSE));
    const std::string log = out.Text();
    const std::string expectedEnd =
        "[Error] Execute command: [rundll32.exe advpack.dll,LaunchINFSection " + path +
        ",DefaultUninstall,1] failed 206\n";
    ASSERT_GE(log.size(), expectedEnd.size());
    EXPECT_EQ(log.substr(log.size() - expectedEnd.size()), expectedEnd);
    EXPECT_TRUE(files().Exists(path));
}

}  // namespace
