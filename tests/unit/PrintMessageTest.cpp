#include <string>

#include "TestMachine.h"
#include "log/PrintMessage.h"

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

}  // namespace
