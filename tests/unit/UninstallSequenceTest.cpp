#include <map>
#include <string>
#include <vector>

#include "ExpectedLogs.h"
#include "TestMachine.h"
#include "ToolkitInstallation.h"
#include "removal/UninstallSequence.h"

namespace {

const char kWarden[] = "{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}";
const char kKorvan[] = "{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}";

std::string Sweep(bool bDeleteOnly, bool bPresent) {
    std::string log = std::string("[Info] Checking ManualRunInfUninstall(bDeleteOnly: ") +
                      (bDeleteOnly ? "TRUE" : "FALSE") + ")...\n";
    for (const char* szName :
         {"qlvn2.inf", "qlvn.inf", "Korvane.inf", "warden.inf", "tm.inf", "plotra.inf"}) {
        log += std::string("Looking for: [") + szName + "]" +
               (bPresent ? " it exists\n" : " - not found. OK\n");
    }
    return log;
}

std::string RemovedByTheControlCache(const char* szClsid, const char* szLibrary,
                                     bool bInfFilesPresent) {
    return std::string("Uninstalling distribution unit: ") + szClsid +
           "\n"
           "\tIt is registered\n"
           "Started DeleteInstalledUnit()\n"
           "\t found RemoveControlByName, calling ...\n"
           "\t on C:\\WINDOWS\\SysWOW64\\" +
           szLibrary +
           " ... returned: 00000000\n"
           "Completed DeleteInstalledUnit(): 00000000\n"
           "\tGoing to delete the reg key ...\n"
           "Started DeleteDistributionUnit: " +
           szClsid +
           "\n"
           "Completed DeleteDistributionUnit\n" +
           Sweep(true, bInfFilesPresent) + "Completed uninstalling distribution unit: " + szClsid +
           "\n";
}

const char kLibrariesAndDownloads[] =
    "[Info] DeleteKorvaneFiles...\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkorvan.dll] - exists.  asking it to unregister deleted "
    "ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlwarden.dll] - exists.  asking it to unregister deleted "
    "ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplotra.dll] - exists.  asking it to unregister deleted "
    "ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vltemplo.dll] - exists.  asking it to unregister deleted "
    "ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlpluser.exe] - exists.  deleted ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplhost.exe] - exists.  deleted ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlbroker.exe] - exists.  deleted ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvuser.exe] - exists.  deleted ok\n"
    "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvhost.exe] - exists.  deleted ok\n"
    "[Info] DeleteKorvaneOSDFiles...\n"
    "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn.osd] - not found. OK\n"
    "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn2.inf] - not found. OK\n";

class UninstallSequenceTest : public MachineTest {
protected:
    std::string Uninstall() {
        sim::CapturedStdout out;
        EXPECT_EQ(UninstallKorvane(), 0);
        return out.Text();
    }
};

TEST_F(UninstallSequenceTest, ACleanMachineVisitsEveryStageAndChangesNothing) {
    const auto registryBefore = registry().Snapshot();
    const auto filesBefore = files().Snapshot();

    EXPECT_EQ(Uninstall(), kCleanMachineLog);

    EXPECT_EQ(registry().Snapshot(), registryBefore);
    EXPECT_EQ(files().Snapshot(), filesBefore);
    EXPECT_TRUE(machine().processes().History().empty());
}

TEST_F(UninstallSequenceTest, AFullInstallationGoesInItsFixedOrder) {
    InstallToolkit(machine());
    const auto othersBefore = NotTheToolkits(machine());

    EXPECT_EQ(Uninstall(),
              "Started UninstallKorvane\n"
              "IE Version is: 1100\n" +
                  RemovedByTheControlCache(kWarden, "vlwarden.dll", true) +
                  RemovedByTheControlCache(kKorvan, "vlkorvan.dll", false) +
                  "Final check and removal ...\n" + Sweep(false, false) + kLibrariesAndDownloads +
                  "Leaving UninstallKorvane\n");

    EXPECT_EQ(NotTheToolkits(machine()), othersBefore);
    // The control cache ran no INF section, and the INF-folder copies went without theirs:
    // only what those sections would have removed is left.
    std::map<std::string, std::string> left = TheToolkits(machine());
    for (auto it = left.begin(); it != left.end();) {
        it = it->first.find("\\Velmor\\Korvane\\Components\\") != std::string::npos ? left.erase(it)
                                                                                    : std::next(it);
    }
    EXPECT_TRUE(left.empty()) << left.begin()->first;
    EXPECT_EQ(machine().toolkitLibraries().unregistered.size(), 4u);
    EXPECT_EQ(machine().OpenKernelHandleCount(), 0u);
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

TEST_F(UninstallSequenceTest, WithoutTheControlCacheTheManualCleanupLeavesNothing) {
    ToolkitOptions options;
    options.bControlCache = false;
    InstallToolkit(machine(), options);
    const auto othersBefore = NotTheToolkits(machine());

    const std::string log = Uninstall();

    EXPECT_EQ(TheToolkits(machine()), (std::map<std::string, std::string>{}));
    EXPECT_EQ(NotTheToolkits(machine()), othersBefore);
    // The units' own INF sections ran, those of the INF-folder copies did not.
    EXPECT_EQ(machine().processes().CommandLines(),
              (std::vector<std::string>{
                  "rundll32.exe advpack.dll,LaunchINFSection C:\\WINDOWS\\Downloaded Program "
                  "Files\\vlwarden.inf,DefaultUninstall,1",
                  "rundll32.exe advpack.dll,LaunchINFSection C:\\WINDOWS\\Downloaded Program "
                  "Files\\qlvn2.inf,DefaultUninstall,1"}));
    EXPECT_NE(log.find("\t **FAILED** to load OCCACHE.DLL\n"), std::string::npos);
    EXPECT_NE(log.find("Leaving UninstallKorvane\n"), std::string::npos);
}

TEST_F(UninstallSequenceTest, WithoutUnitsTheInfFolderCopiesRunTheirSections) {
    for (const char* szName : {"qlvn.inf", "plotra.inf"}) {
        files().AddFile(kInfDirectory + szName);
    }
    sim::CapturedStdout out;
    UninstallKorvane();

    EXPECT_EQ(machine().processes().CommandLines(),
              std::vector<std::string>{"rundll32.exe advpack.dll,LaunchINFSection "
                                       "C:\\WINDOWS\\Inf\\qlvn.inf,DefaultUninstall,1"});
    EXPECT_TRUE(files().List("C:\\WINDOWS\\Inf").empty());
}

TEST_F(UninstallSequenceTest, AnUnreadableEngineVersionIsLoggedAsZero) {
    files().SetVersionBlock("C:\\WINDOWS\\SysWOW64\\MSHTML.DLL", {});
    const std::string log = Uninstall();
    EXPECT_EQ(log.substr(0, 44), "Started UninstallKorvane\nIE Version is: 0\nUn");
}

TEST_F(UninstallSequenceTest, TheProgramRemovesTheToolkitQuietlyOrRefusesWithoutTouchingIt) {
    InstallToolkit(machine());
    {
        sim::CapturedStdout out;
        EXPECT_EQ(RunProgram({"-q"}), 0);
        EXPECT_EQ(out.Text(), "");
    }
    EXPECT_FALSE(registry().KeyExists(kUnitsKey + kWarden));
    EXPECT_FALSE(files().Exists(kWow64Directory + "vlkorvan.dll"));

    Boot(sim::Shape());
    InstallToolkit(machine());
    machine().installer().components = {"{8E4F2A6D-19C3-4B7E-9D05-3A6C71E2B840}"};
    const auto registryBefore = registry().Snapshot();
    const auto filesBefore = files().Snapshot();
    sim::CapturedStdout out;
    EXPECT_EQ(RunProgram({"/log"}), 0);
    EXPECT_EQ(out.Text(),
              "Velmor Korvane Uninstall utility.\n"
              "Korvane has been installed using Windows Installer, please use Add/Remove Programs "
              "to remove Korvane\n");
    EXPECT_EQ(registry().Snapshot(), registryBefore);
    EXPECT_EQ(files().Snapshot(), filesBefore);
}

}  // namespace
