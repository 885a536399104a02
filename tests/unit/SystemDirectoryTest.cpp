#include <string>

#include "TestMachine.h"
#include "platform/SystemDirectory.h"

namespace {

class SystemDirectoryTest : public MachineTest {
protected:
    // The answer and what the buffer holds; the buffer starts filled with 0xbd.
    std::pair<UINT, std::string> Resolve(UINT nCapacity) {
        std::string buffer(300, '\xbd');
        const UINT nLength = GetSystemDirectoryPreferWow64(&buffer[0], nCapacity);
        return {nLength, nLength == 0 ? std::string() : buffer.substr(0, nLength)};
    }
};

TEST_F(SystemDirectoryTest, SixtyFourBitWindowsGivesTheWow64Directory) {
    EXPECT_EQ(Resolve(261), std::make_pair(19u, std::string("C:\\WINDOWS\\SysWOW64")));
    EXPECT_EQ(Resolve(259), std::make_pair(19u, std::string("C:\\WINDOWS\\SysWOW64")));
}

TEST_F(SystemDirectoryTest, ThirtyTwoBitWindowsGivesTheOrdinaryOne) {
    sim::Shape shape;
    shape.b64BitWindows = false;
    Boot(shape);
    // GetSystemWow64DirectoryA is there, and fails.
    EXPECT_EQ(Resolve(261), std::make_pair(19u, std::string("C:\\WINDOWS\\system32")));
}

TEST_F(SystemDirectoryTest, WithoutTheWow64FunctionOrItsAnswerTheOrdinaryOneIsUsed) {
    machine().RemoveSystemExport("kernel32.dll", "GetSystemWow64DirectoryA");
    EXPECT_EQ(Resolve(261).second, "C:\\WINDOWS\\system32");

    Boot(sim::Shape());
    machine().faults().Inject({"GetSystemWow64DirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(Resolve(261).second, "C:\\WINDOWS\\system32");

    Boot(sim::Shape());
    machine().faults().Inject({"GetModuleHandleA", ERROR_MOD_NOT_FOUND, "kernel32"});
    EXPECT_EQ(Resolve(261).second, "C:\\WINDOWS\\system32");
}

TEST_F(SystemDirectoryTest, TheFunctionIsLookedUpOnEveryCall) {
    machine().faults().Inject(
        {"GetProcAddress", ERROR_PROC_NOT_FOUND, "!GetSystemWow64DirectoryA", 1});
    EXPECT_EQ(Resolve(261).second, "C:\\WINDOWS\\system32");
    EXPECT_EQ(Resolve(261).second, "C:\\WINDOWS\\SysWOW64");
}

TEST_F(SystemDirectoryTest, ADirectoryThatDoesNotFitIsNoDirectory) {
    // "C:\" and 247 characters, then "\SysWOW64": 259 characters, 260 with the terminator.
    const std::string windows = "C:\\" + std::string(247, 'w');
    machine().SetWindowsDirectoryReported(windows);
    EXPECT_EQ(Resolve(259), std::make_pair(0u, std::string()));
    EXPECT_EQ(Resolve(260).first, 259u);
    EXPECT_EQ(Resolve(261).second, windows + "\\SysWOW64");

    sim::Shape shape;
    shape.b64BitWindows = false;
    Boot(shape);
    machine().SetSystemDirectoryReported(windows + "\\system32");
    EXPECT_EQ(Resolve(259), std::make_pair(0u, std::string()));
    EXPECT_EQ(Resolve(261).first, 259u);
}

TEST_F(SystemDirectoryTest, NoDirectoryAtAll) {
    machine().faults().Inject({"GetSystemWow64DirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    machine().faults().Inject({"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(Resolve(261).first, 0u);
}

TEST_F(SystemDirectoryTest, WindowsDirectoryThatDoesNotFitCountsAsFailure) {
    char szBuffer[261];
    EXPECT_EQ(GetWindowsDirectoryChecked(szBuffer, sizeof(szBuffer)), 10u);
    machine().SetWindowsDirectoryReported("C:\\" + std::string(258, 'w'));
    EXPECT_EQ(GetWindowsDirectoryChecked(szBuffer, sizeof(szBuffer)), 0u);
    machine().SetWindowsDirectoryReported("C:\\" + std::string(257, 'w'));
    EXPECT_EQ(GetWindowsDirectoryChecked(szBuffer, sizeof(szBuffer)), 260u);
}

}  // namespace
