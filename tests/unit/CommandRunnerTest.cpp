#include <string>
#include <vector>

#include "TestMachine.h"
#include "platform/CommandRunner.h"

namespace {

const char kInfPath[] = "C:\\WINDOWS\\Inf\\qlvn.inf";
const char kInfArguments[] =
    "advpack.dll,LaunchINFSection C:\\WINDOWS\\Inf\\qlvn.inf,DefaultUninstall,1";
const char kInfCommand[] =
    "rundll32.exe advpack.dll,LaunchINFSection C:\\WINDOWS\\Inf\\qlvn.inf,DefaultUninstall,1";

sim::ProcessOutcome Exit(DWORD dwExitCode) {
    sim::ProcessOutcome outcome;
    outcome.dwExitCode = dwExitCode;
    return outcome;
}

sim::ProcessOutcome StartFailure(DWORD dwError) {
    sim::ProcessOutcome outcome;
    outcome.dwStartError = dwError;
    return outcome;
}

MSG Message(UINT message, WPARAM wParam = 0) {
    MSG msg{};
    msg.message = message;
    msg.wParam = wParam;
    return msg;
}

std::vector<UINT> Ids(const std::vector<MSG>& messages) {
    std::vector<UINT> ids;
    for (const MSG& msg : messages) {
        ids.push_back(msg.message);
    }
    return ids;
}

class CommandRunnerTest : public MachineTest {};

TEST_F(CommandRunnerTest, ChildExitCodeIsLoggedAndReturned) {
    machine().processes().OnCommandLine(kInfCommand, Exit(3));
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 3u);

    EXPECT_EQ(out.Text(),
              std::string("[Info] Execute command: [") + kInfCommand + "] returned 3\n");
    ASSERT_EQ(machine().processes().History().size(), 1u);
    const sim::ProcessRecord& record = machine().processes().History()[0];
    // By full path from the system directory; a 32-bit process lands in SysWOW64.
    EXPECT_EQ(record.applicationName, "C:\\WINDOWS\\system32\\rundll32.exe");
    EXPECT_EQ(record.program, "C:\\WINDOWS\\SysWOW64\\rundll32.exe");
    EXPECT_EQ(record.commandLine, kInfCommand);
    EXPECT_EQ(record.dwCreationFlags, static_cast<DWORD>(CREATE_DEFAULT_ERROR_MODE));
    EXPECT_EQ(record.bInheritHandles, FALSE);
    EXPECT_TRUE(record.bInheritedEnvironment);
    // It starts in the system directory, not where this program was started.
    EXPECT_EQ(record.currentDirectory, "C:\\WINDOWS\\system32");
    STARTUPINFOA expected;
    memset(&expected, 0, sizeof(expected));
    expected.cb = sizeof(STARTUPINFOA);
    expected.dwFlags = STARTF_USESHOWWINDOW;
    expected.wShowWindow = SW_SHOW;
    EXPECT_EQ(memcmp(&record.startupInfo, &expected, sizeof(expected)), 0);
    // Process and thread handles are both closed.
    EXPECT_EQ(machine().OpenKernelHandleCount(), 0u);
    EXPECT_EQ(machine().processes().Running(), 0u);
}

TEST_F(CommandRunnerTest, StartFailuresAreLoggedInDecimalAndReturned) {
    machine().processes().OnCommandLine("rundll32.exe refused",
                                        StartFailure(ERROR_ELEVATION_REQUIRED));
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("nosuch.exe", "/x"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ExecuteCommand("C:\\Tools\\missing.exe", "/y"),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ExecuteCommand("rundll32.exe", "refused"),
              static_cast<DWORD>(ERROR_ELEVATION_REQUIRED));

    EXPECT_EQ(out.Text(),
              "[Error] Execute command: [nosuch.exe /x] failed 2\n"
              "[Error] Execute command: [C:\\Tools\\missing.exe /y] failed 3\n"
              "[Error] Execute command: [rundll32.exe refused] failed 740\n");
    EXPECT_TRUE(machine().processes().History().empty());
    EXPECT_EQ(machine().OpenKernelHandleCount(), 0u);
}

TEST_F(CommandRunnerTest, APlantedRundll32IsNeverRun) {
    sim::Shape shape;
    shape.currentDirectory = "C:\\work";
    Boot(shape);
    for (const char* szPlanted :
         {"C:\\Users\\Admin\\Downloads\\rundll32.exe", "C:\\work\\rundll32.exe"}) {
        files().AddFile(szPlanted);
        machine().processes().OnProgram(szPlanted, [](const std::string&) { return Exit(99); });
    }
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 0u);
    ASSERT_EQ(machine().processes().History().size(), 1u);
    EXPECT_EQ(machine().processes().History()[0].program, "C:\\WINDOWS\\SysWOW64\\rundll32.exe");
}

TEST_F(CommandRunnerTest, AProgramGivenWithItsPathRunsAsGiven) {
    files().AddFile("C:\\Tools\\cleanup.exe");
    machine().processes().OnProgram("C:\\Tools\\cleanup.exe",
                                    [](const std::string&) { return Exit(0); });
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("C:\\Tools\\cleanup.exe", "/all"), 0u);
    EXPECT_EQ(out.Text(), "[Info] Execute command: [C:\\Tools\\cleanup.exe /all] returned 0\n");
    EXPECT_EQ(machine().processes().History().at(0).applicationName, "C:\\Tools\\cleanup.exe");
    EXPECT_EQ(machine().processes().History().at(0).currentDirectory, "C:\\WINDOWS\\system32");
}

TEST_F(CommandRunnerTest, NoSystemDirectoryMeansNoStart) {
    // Not even of a program given with its path: it would start where this one was started.
    files().AddFile("C:\\Tools\\cleanup.exe");
    machine().faults().Inject({"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments),
              static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(ExecuteCommand("C:\\Tools\\cleanup.exe", "/all"),
              static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(out.Text(), std::string("[Error] Execute command: [") + kInfCommand +
                              "] failed 8\n"
                              "[Error] Execute command: [C:\\Tools\\cleanup.exe /all] failed 8\n");
    EXPECT_TRUE(machine().processes().History().empty());
}

TEST_F(CommandRunnerTest, RunInfDefaultUninstallSucceedsOnlyWhenTheChildReportsSuccess) {
    const std::string spaced = "C:\\Program Files\\Velmor\\qlvn.inf";
    machine().processes().OnCommandLine(kInfCommand, Exit(0));
    sim::CapturedStdout out;
    EXPECT_TRUE(RunInfDefaultUninstall(kInfPath));
    EXPECT_TRUE(RunInfDefaultUninstall(spaced.c_str()));

    machine().processes().OnCommandLine(kInfCommand, Exit(1));
    EXPECT_FALSE(RunInfDefaultUninstall(kInfPath));

    machine().processes().OnCommandLine(kInfCommand, StartFailure(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(RunInfDefaultUninstall(kInfPath));

    // The path goes in unquoted, spaces and all.
    EXPECT_EQ(machine().processes().CommandLines(),
              (std::vector<std::string>{
                  kInfCommand,
                  "rundll32.exe advpack.dll,LaunchINFSection " + spaced + ",DefaultUninstall,1",
                  kInfCommand}));
}

TEST_F(CommandRunnerTest, MessagesArrivingDuringTheWaitAreDispatched) {
    sim::ProcessOutcome outcome = Exit(0);
    outcome.postsWhileRunning = {
        {Message(WM_USER + 1)}, {Message(WM_TIMER)}, {Message(WM_KEYDOWN)}};
    machine().processes().OnCommandLine(kInfCommand, outcome);
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 0u);
    EXPECT_EQ(Ids(machine().messages().dispatched),
              (std::vector<UINT>{WM_USER + 1, WM_TIMER, WM_KEYDOWN}));
    EXPECT_EQ(machine().messages().nTranslated, 3u);
    EXPECT_TRUE(machine().messages().queued.empty());
}

TEST_F(CommandRunnerTest, AtMostOneMessageIsDispatchedPerWakeUp) {
    sim::ProcessOutcome outcome = Exit(0);
    outcome.postsWhileRunning = {{Message(WM_USER + 1), Message(WM_USER + 2)}};
    machine().processes().OnCommandLine(kInfCommand, outcome);
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 0u);
    // The second arrived with the first; once the queue was looked at it no longer wakes.
    EXPECT_EQ(Ids(machine().messages().dispatched), std::vector<UINT>{WM_USER + 1});
    ASSERT_EQ(machine().messages().queued.size(), 1u);
    EXPECT_EQ(machine().messages().queued[0].msg.message, static_cast<UINT>(WM_USER + 2));
}

TEST_F(CommandRunnerTest, PointerInputIsOutsideTheWakeMask) {
    sim::ProcessOutcome outcome = Exit(0);
    outcome.postsWhileRunning = {{Message(WM_POINTERUPDATE)}};
    machine().processes().OnCommandLine(kInfCommand, outcome);
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 0u);
    EXPECT_TRUE(machine().messages().dispatched.empty());
    EXPECT_EQ(machine().messages().queued.size(), 1u);
}

TEST_F(CommandRunnerTest, AFailedWaitIsReturnedWithoutALineAndReleasesEverything) {
    machine().processes().OnCommandLine(kInfCommand, Exit(0));
    machine().faults().Inject({"MsgWaitForMultipleObjects", ERROR_INVALID_HANDLE});
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(machine().OpenKernelHandleCount(), 0u);
    // Nobody waits for the child any more; it goes on by itself.
    EXPECT_EQ(machine().processes().Running(), 1u);
}

TEST_F(CommandRunnerTest, AnUnreadableExitCodeCountsAsZero) {
    machine().processes().OnCommandLine(kInfCommand, Exit(3));
    machine().faults().Inject({"GetExitCodeProcess", ERROR_ACCESS_DENIED});
    sim::CapturedStdout out;

    EXPECT_EQ(ExecuteCommand("rundll32.exe", kInfArguments), 0u);
    EXPECT_EQ(out.Text(),
              std::string("[Info] Execute command: [") + kInfCommand + "] returned 0\n");
}

TEST_F(CommandRunnerTest, TheChildHasDoneItsWorkWhenTheWaitReturns) {
    registry().CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Qlvn");
    sim::ProcessOutcome outcome = Exit(0);
    outcome.effect = [](sim::Machine& m) {
        m.registry().DeleteTree("HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Qlvn");
    };
    machine().processes().OnCommandLine(kInfCommand, outcome);
    sim::CapturedStdout out;

    EXPECT_TRUE(RunInfDefaultUninstall(kInfPath));
    EXPECT_FALSE(registry().KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Qlvn"));
}

}  // namespace
