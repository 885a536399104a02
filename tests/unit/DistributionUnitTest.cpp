#include <stdio.h>

#include <optional>
#include <string>
#include <vector>

#include "TestMachine.h"
#include "removal/DistributionUnit.h"

namespace {

const char kWarden[] = "{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}";
const char kKorvan[] = "{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}";
// What a 32-bit process on 64-bit Windows sees as HKLM\SOFTWARE\Microsoft\Code Store Database.
const std::string kUnits =
    "HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Code Store Database\\Distribution Units\\";
const std::string kDownloads = "C:\\WINDOWS\\Downloaded Program Files\\";
const std::string kInfPath = kDownloads + "qlvn.inf";
const std::string kOsdPath = kDownloads + "qlvn.osd";
const std::string kLibraryPath = "C:\\WINDOWS\\SysWOW64\\vlwarden.dll";
const std::string kInfCommand =
    "rundll32.exe advpack.dll,LaunchINFSection " + kInfPath + ",DefaultUninstall,1";

const std::string kNothingToSweep =
    "[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...\n"
    "Looking for: [qlvn2.inf] - not found. OK\n"
    "Looking for: [qlvn.inf] - not found. OK\n"
    "Looking for: [Korvane.inf] - not found. OK\n"
    "Looking for: [warden.inf] - not found. OK\n"
    "Looking for: [tm.inf] - not found. OK\n"
    "Looking for: [plotra.inf] - not found. OK\n";

sim::RegValue String(const std::string& text, DWORD dwType = REG_SZ) {
    sim::RegValue value{dwType, sim::BytesOf(text)};
    value.data.push_back(0);
    return value;
}

std::string Begin(const char* szClsid) {
    return std::string("Uninstalling distribution unit: ") + szClsid + "\n\tIt is registered\n";
}

std::string End(const char* szClsid) {
    return kNothingToSweep + "Completed uninstalling distribution unit: " + szClsid + "\n";
}

std::string ControlCacheCalled(const std::string& hr) {
    return "Started DeleteInstalledUnit()\n"
           "\t found RemoveControlByName, calling ...\n"
           "\t on " +
           kLibraryPath + " ... returned: " + hr +
           "\n"
           "Completed DeleteInstalledUnit(): " +
           hr + "\n";
}

std::string NoDownloadInformation(const char* szClsid) {
    return std::string("Started DeleteDistributionUnit: ") + szClsid +
           "\nCompleted DeleteDistributionUnit\n";
}

std::string CleanedUpByHand(const char* szClsid) {
    return std::string("Started DeleteDistributionUnit: ") + szClsid +
           "\n"
           "\tdistribution has download information registered\n"
           "\tINF file: [" +
           kInfPath +
           "]\n"
           "[Info] Execute command: [" +
           kInfCommand +
           "] returned 0\n"
           "\t(delete) OSD file: [" +
           kOsdPath +
           "]\n"
           "\tGoing to delete the reg key ...\n"
           "Completed DeleteDistributionUnit\n";
}

class DistributionUnitTest : public MachineTest {
protected:
    DistributionUnitTest() { Reset(); }

    void Reset() {
        // Another unit that is not the toolkit's: it must survive every case.
        registry().SetString(kUnits + "{00000000-1111-2222-3333-444444444444}\\DownloadInformation",
                             "INF", "C:\\WINDOWS\\Downloaded Program Files\\other.inf");
        files().AddFile(kDownloads + "other.inf");
    }

    void RegisterUnit(const char* szClsid, std::optional<sim::RegValue> inf = String(kInfPath),
                      std::optional<sim::RegValue> osd = String(kOsdPath),
                      bool bDownloadInformation = true) {
        const std::string unit = kUnits + szClsid;
        registry().SetString(unit + "\\Contains\\Files", "vlwarden.dll", kLibraryPath);
        registry().SetDword(unit, "SystemComponent", 0);
        if (bDownloadInformation) {
            registry().CreateKey(unit + "\\DownloadInformation");
            if (inf) {
                registry().SetValue(unit + "\\DownloadInformation", "INF", inf->dwType, inf->data);
            }
            if (osd) {
                registry().SetValue(unit + "\\DownloadInformation", "OSD", osd->dwType, osd->data);
            }
        }
        files().AddFile(kInfPath);
        files().AddFile(kOsdPath);
    }

    void InstallControlCache(sim::ControlCacheBehaviour behaviour) {
        files().SetModule("C:\\WINDOWS\\SysWOW64\\OCCACHE.DLL", sim::ControlCacheImage());
        machine().controlCache().behaviour = behaviour;
    }

    std::string Uninstall(const char* szClsid = kWarden) {
        sim::CapturedStdout out;
        UninstallDistributionUnit("vlwarden.dll", szClsid);
        return out.Text();
    }

    void ExpectOtherUnitUntouched() {
        EXPECT_TRUE(registry().GetValue(
            kUnits + "{00000000-1111-2222-3333-444444444444}\\DownloadInformation", "INF"));
        EXPECT_TRUE(files().Exists(kDownloads + "other.inf"));
        EXPECT_EQ(registry().OpenHandleCount(), 0u);
        EXPECT_EQ(machine().OpenKernelHandleCount(), 0u);
        EXPECT_EQ(machine().LoadedModuleCount("C:\\WINDOWS\\SysWOW64\\OCCACHE.DLL"), 0u);
        EXPECT_EQ(machine().ExceptionHandlerCount(), 0u);
    }
};

TEST_F(DistributionUnitTest, AUnitNotRegisteredIsOnlyReported) {
    InstallControlCache(sim::ControlCacheBehaviour::RemovesUnit);
    files().AddFile("C:\\WINDOWS\\Inf\\qlvn.inf");
    // Registered for 64-bit processes only: not in the view this program has.
    registry().CreateKey("HKLM\\SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\" +
                         std::string(kWarden));

    EXPECT_EQ(Uninstall(), std::string("Uninstalling distribution unit: ") + kWarden +
                               "\n"
                               "\tIt wasnt registered\n"
                               "Completed uninstalling distribution unit: " +
                               kWarden + "\n");
    EXPECT_TRUE(machine().LoadHistory().empty());
    EXPECT_TRUE(machine().processes().History().empty());
    EXPECT_TRUE(files().Exists("C:\\WINDOWS\\Inf\\qlvn.inf"));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, TheControlCacheRemovesTheUnit) {
    RegisterUnit(kWarden);
    InstallControlCache(sim::ControlCacheBehaviour::RemovesUnit);
    files().AddFile("C:\\WINDOWS\\Inf\\warden.inf");

    EXPECT_EQ(Uninstall(), Begin(kWarden) + ControlCacheCalled("00000000") +
                               "\tGoing to delete the reg key ...\n" +
                               NoDownloadInformation(kWarden) +
                               "[Info] Checking ManualRunInfUninstall(bDeleteOnly: TRUE)...\n"
                               "Looking for: [qlvn2.inf] - not found. OK\n"
                               "Looking for: [qlvn.inf] - not found. OK\n"
                               "Looking for: [Korvane.inf] - not found. OK\n"
                               "Looking for: [warden.inf] it exists\n"
                               "Looking for: [tm.inf] - not found. OK\n"
                               "Looking for: [plotra.inf] - not found. OK\n"
                               "Completed uninstalling distribution unit: " +
                               kWarden + "\n");

    ASSERT_EQ(machine().controlCache().calls.size(), 1u);
    const sim::ControlCacheCall& call = machine().controlCache().calls[0];
    EXPECT_EQ(call.file, kLibraryPath);
    EXPECT_EQ(call.clsid, kWarden);
    EXPECT_TRUE(call.bTypeLibIdNull);
    EXPECT_EQ(call.bForceRemove, TRUE);
    EXPECT_EQ(call.dwIsDistributionUnit, 0u);
    EXPECT_EQ(machine().LoadHistory(),
              std::vector<std::string>{"C:\\WINDOWS\\SysWOW64\\OCCACHE.DLL"});
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
    EXPECT_FALSE(files().Exists("C:\\WINDOWS\\Inf\\warden.inf"));
    EXPECT_TRUE(machine().processes().History().empty());
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, ATreeTheControlCacheLeftIsDeletedOnItsSuccess) {
    RegisterUnit(kWarden);
    InstallControlCache(sim::ControlCacheBehaviour::SucceedsLeavingUnit);

    EXPECT_EQ(Uninstall(), Begin(kWarden) + ControlCacheCalled("00000000") +
                               "\tGoing to delete the reg key ...\n" +
                               NoDownloadInformation(kWarden) + End(kWarden));
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
    // The manual cleanup found nothing left to read.
    EXPECT_TRUE(files().Exists(kInfPath));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, AFailingControlCacheLeavesTheWorkToTheManualCleanup) {
    RegisterUnit(kWarden);
    InstallControlCache(sim::ControlCacheBehaviour::Fails);

    EXPECT_EQ(Uninstall(), Begin(kWarden) + ControlCacheCalled("80070005") +
                               CleanedUpByHand(kWarden) + End(kWarden));
    EXPECT_EQ(machine().processes().CommandLines(), std::vector<std::string>{kInfCommand});
    EXPECT_FALSE(files().Exists(kInfPath));
    EXPECT_FALSE(files().Exists(kOsdPath));
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, AFailedUnitWithoutDownloadInformationStays) {
    RegisterUnit(kWarden, std::nullopt, std::nullopt, false);
    InstallControlCache(sim::ControlCacheBehaviour::Fails);

    EXPECT_EQ(Uninstall(), Begin(kWarden) + ControlCacheCalled("80070005") +
                               NoDownloadInformation(kWarden) + End(kWarden));
    EXPECT_TRUE(registry().KeyExists(kUnits + kWarden + "\\Contains\\Files"));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, WithoutTheControlCacheOnlyItsFailureIsLogged) {
    RegisterUnit(kWarden);

    EXPECT_EQ(Uninstall(), Begin(kWarden) +
                               "Started DeleteInstalledUnit()\n"
                               "\t **FAILED** to load OCCACHE.DLL\n" +
                               CleanedUpByHand(kWarden) + End(kWarden));
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));

    sim::CapturedStdout out;
    EXPECT_EQ(DeleteInstalledUnit(kLibraryPath.c_str(), kWarden), static_cast<HRESULT>(0x8007007E));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, ALoadFailureWithoutAnErrorStillCountsAsFailure) {
    machine().faults().Inject({"LoadLibraryA", ERROR_SUCCESS, "OCCACHE"});
    sim::CapturedStdout out;

    EXPECT_EQ(DeleteInstalledUnit(kLibraryPath.c_str(), kWarden), E_FAIL);
}

TEST_F(DistributionUnitTest, AnExceptionTheControlCacheLeavesUnhandledIsContained) {
    // A fault, and a C++ exception of a library built with another compiler.
    for (const DWORD dwCode : {EXCEPTION_ACCESS_VIOLATION, 0xE06D7363u}) {
        Boot(sim::Shape());
        Reset();
        RegisterUnit(kWarden);
        InstallControlCache(sim::ControlCacheBehaviour::Raises);
        machine().controlCache().dwExceptionCode = dwCode;
        char szException[64];
        snprintf(szException, sizeof(szException), "*** EXCEPTION: %08x *****\n", dwCode);

        EXPECT_EQ(Uninstall(), Begin(kWarden) +
                                   "Started DeleteInstalledUnit()\n"
                                   "\t found RemoveControlByName, calling ...\n" +
                                   szException +
                                   "Continuing after exception in RemoveControlByName()\n"
                                   "Completed DeleteInstalledUnit(): 80004005\n" +
                                   CleanedUpByHand(kWarden) + End(kWarden));
        EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
        ExpectOtherUnitUntouched();

        // The guard is gone with the call: a later exception is nobody's but the process's.
        try {
            RaiseException(dwCode, 0, 0, NULL);
            ADD_FAILURE() << "an exception outside the guarded call was swallowed";
        } catch (const sim::UnhandledStructuredException& e) {
            EXPECT_EQ(e.dwExceptionCode, dwCode);
        }
    }
}

TEST_F(DistributionUnitTest, ExceptionsTheControlCacheHandlesItselfAreItsOwn) {
    // It probes memory and recovers, throws and catches, or tells a debugger something: then
    // it finishes its work as if nothing happened.
    for (const DWORD dwCode : {EXCEPTION_ACCESS_VIOLATION, 0xE06D7363u, DBG_PRINTEXCEPTION_C}) {
        Boot(sim::Shape());
        Reset();
        RegisterUnit(kWarden);
        InstallControlCache(sim::ControlCacheBehaviour::RaisesAndRecovers);
        machine().controlCache().dwExceptionCode = dwCode;

        EXPECT_EQ(Uninstall(), Begin(kWarden) + ControlCacheCalled("00000000") +
                                   "\tGoing to delete the reg key ...\n" +
                                   NoDownloadInformation(kWarden) + End(kWarden))
            << std::hex << dwCode;
        EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
        EXPECT_FALSE(files().Exists(kInfPath));
        ExpectOtherUnitUntouched();
    }
}

TEST_F(DistributionUnitTest, AControlCacheWithoutTheExportShowsOnlyOnTheCompletionLine) {
    RegisterUnit(kWarden);
    files().SetModule("C:\\WINDOWS\\SysWOW64\\OCCACHE.DLL", sim::ControlCacheImageWithoutExport());

    EXPECT_EQ(Uninstall(), Begin(kWarden) +
                               "Started DeleteInstalledUnit()\n"
                               "Completed DeleteInstalledUnit(): 80004005\n" +
                               CleanedUpByHand(kWarden) + End(kWarden));
    ExpectOtherUnitUntouched();
}

TEST_F(DistributionUnitTest, DownloadInformationWithOnlyAnOsdFile) {
    RegisterUnit(kWarden, std::nullopt);

    EXPECT_EQ(Uninstall(), Begin(kWarden) +
                               "Started DeleteInstalledUnit()\n"
                               "\t **FAILED** to load OCCACHE.DLL\n"
                               "Started DeleteDistributionUnit: " +
                               kWarden +
                               "\n"
                               "\tdistribution has download information registered\n"
                               "\t(delete) OSD file: [" +
                               kOsdPath +
                               "]\n"
                               "\tGoing to delete the reg key ...\n"
                               "Completed DeleteDistributionUnit\n" +
                               End(kWarden));
    EXPECT_TRUE(machine().processes().History().empty());
    EXPECT_FALSE(files().Exists(kOsdPath));
    EXPECT_TRUE(files().Exists(kInfPath));
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
}

TEST_F(DistributionUnitTest, InfValuesThatAreNoUsableStrings) {
    struct Case {
        const char* szName;
        std::optional<sim::RegValue> inf;
    } cases[] = {
        {"dword", sim::RegValue{REG_DWORD, {1, 0, 0, 0}}},
        {"unterminated", sim::RegValue{REG_SZ, sim::BytesOf(kInfPath)}},
        {"259 characters fit", String(std::string(259, 'x'))},
        {"260 characters do not", String(std::string(260, 'x'))},
    };
    for (const Case& c : cases) {
        Boot(sim::Shape());
        Reset();
        RegisterUnit(kWarden, c.inf);
        const std::string log = Uninstall();
        const bool bUsed = std::string(c.szName) == "259 characters fit";
        EXPECT_EQ(log.find("\tINF file: [") != std::string::npos, bUsed) << c.szName;
        EXPECT_EQ(machine().processes().History().size(), bUsed ? 1u : 0u) << c.szName;
        EXPECT_NE(log.find("\t(delete) OSD file: [" + kOsdPath + "]\n"), std::string::npos)
            << c.szName;
        EXPECT_FALSE(registry().KeyExists(kUnits + kWarden)) << c.szName;
    }
}

TEST_F(DistributionUnitTest, AnInfValueIsUsedAsItStandsWithoutAnExistenceTest) {
    struct Case {
        std::string inf;
        DWORD dwType;
        std::string deleteError;
    } cases[] = {
        {"C:\\WINDOWS\\Downloaded Program Files\\missing.inf", REG_SZ, "00000002"},
        {"", REG_SZ, "00000003"},
        {"%windir%\\Downloaded Program Files\\qlvn.inf", REG_EXPAND_SZ, "00000003"},
        {"C:\\WINDOWS\\Downloaded Program Files\\100%s.inf", REG_SZ, "00000002"},
    };
    for (const Case& c : cases) {
        Boot(sim::Shape());
        Reset();
        RegisterUnit(kWarden, String(c.inf, c.dwType), std::nullopt);
        const std::string command =
            "rundll32.exe advpack.dll,LaunchINFSection " + c.inf + ",DefaultUninstall,1";

        EXPECT_EQ(Uninstall(), Begin(kWarden) +
                                   "Started DeleteInstalledUnit()\n"
                                   "\t **FAILED** to load OCCACHE.DLL\n"
                                   "Started DeleteDistributionUnit: " +
                                   kWarden +
                                   "\n"
                                   "\tdistribution has download information registered\n"
                                   "\tINF file: [" +
                                   c.inf +
                                   "]\n"
                                   "[Info] Execute command: [" +
                                   command +
                                   "] returned 0\n"
                                   "\t\t delete inf file failed: " +
                                   c.deleteError +
                                   "\n"
                                   "\tGoing to delete the reg key ...\n"
                                   "Completed DeleteDistributionUnit\n" +
                                   End(kWarden))
            << c.inf;
        EXPECT_EQ(machine().processes().CommandLines(), std::vector<std::string>{command});
        // The real file under the expanded name is not touched.
        EXPECT_TRUE(files().Exists(kInfPath)) << c.inf;
    }
}

TEST_F(DistributionUnitTest, FilesThatRefuseDeletionAreLogged) {
    RegisterUnit(kWarden);
    files().SetDeleteError(kInfPath, ERROR_SHARING_VIOLATION);
    files().SetDeleteError(kOsdPath, ERROR_ACCESS_DENIED);

    const std::string log = Uninstall();
    EXPECT_NE(log.find("\t\t delete inf file failed: 00000020\n"), std::string::npos);
    EXPECT_NE(log.find("\t\t delete osd file failed: 00000005\n"), std::string::npos);
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
}

TEST_F(DistributionUnitTest, NoRoomForTheLibraryPathSkipsTheControlCacheStage) {
    // The system directory fits its 259 characters, the library's path its 260 no longer.
    RegisterUnit(kWarden);
    InstallControlCache(sim::ControlCacheBehaviour::RemovesUnit);
    machine().SetWindowsDirectoryReported("C:\\" + std::string(240, 'w'));

    EXPECT_EQ(Uninstall(), Begin(kWarden) + CleanedUpByHand(kWarden) + End(kWarden));
    EXPECT_TRUE(machine().controlCache().calls.empty());
}

TEST_F(DistributionUnitTest, NoSystemDirectorySkipsTheControlCacheStageSilently) {
    RegisterUnit(kWarden);
    InstallControlCache(sim::ControlCacheBehaviour::RemovesUnit);
    machine().faults().Inject({"GetSystemWow64DirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    // Only the first lookup fails; the INF engine is started later with the directory back.
    machine().faults().Inject({"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY, "", 1});

    EXPECT_EQ(Uninstall(), Begin(kWarden) + CleanedUpByHand(kWarden) + End(kWarden));
    EXPECT_TRUE(machine().controlCache().calls.empty());
    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
}

TEST_F(DistributionUnitTest, APlantedControlCacheIsNeverLoaded) {
    RegisterUnit(kWarden);
    files().SetModule("C:\\Users\\Admin\\Downloads\\OCCACHE.DLL", sim::ControlCacheImage());
    files().SetModule("C:\\WINDOWS\\OCCACHE.DLL", sim::ControlCacheImage());

    const std::string log = Uninstall();
    EXPECT_NE(log.find("\t **FAILED** to load OCCACHE.DLL\n"), std::string::npos);
    EXPECT_TRUE(machine().LoadHistory().empty());
    EXPECT_TRUE(machine().controlCache().calls.empty());
}

TEST_F(DistributionUnitTest, BothUnitsOneAfterTheOther) {
    RegisterUnit(kWarden);
    registry().CreateKey(kUnits + kKorvan + "\\Contains");
    InstallControlCache(sim::ControlCacheBehaviour::RemovesUnit);
    sim::CapturedStdout out;

    UninstallDistributionUnit("vlwarden.dll", kWarden);
    UninstallDistributionUnit("vlkorvan.dll", kKorvan);

    EXPECT_FALSE(registry().KeyExists(kUnits + kWarden));
    EXPECT_FALSE(registry().KeyExists(kUnits + kKorvan));
    ASSERT_EQ(machine().controlCache().calls.size(), 2u);
    EXPECT_EQ(machine().controlCache().calls[1].file, "C:\\WINDOWS\\SysWOW64\\vlkorvan.dll");
    ExpectOtherUnitUntouched();
}

}  // namespace
