#include <string>
#include <vector>

#include "TestMachine.h"
#include "removal/FileSweeps.h"

namespace {

const std::string kWow64 = "C:\\WINDOWS\\SysWOW64\\";
const std::string kDownloads = "C:\\WINDOWS\\Downloaded Program Files\\";

class FileSweepsTest : public MachineTest {
protected:
    void AddLibrary(const std::string& path, bool bUnregisters = true) {
        files().SetModule(
            path, sim::ToolkitLibraryImage(path, bUnregisters, [path](sim::Machine& m) {
                // Its own COM registration, as a library's unregistration removes it.
                m.registry().DeleteTree("HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\" +
                                        sim::BaseNameOf(path));
            }));
        registry().CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\" +
                             sim::BaseNameOf(path) + "\\InprocServer32");
    }

    std::string Sweep() {
        sim::CapturedStdout out;
        DeleteKorvaneFiles();
        return out.Text();
    }

    std::string SweepDownloads() {
        sim::CapturedStdout out;
        DeleteKorvaneOSDFiles();
        return out.Text();
    }
};

TEST_F(FileSweepsTest, LibrariesUnregisterBeforeTheyGoFromTheWow64Directory) {
    AddLibrary(kWow64 + "vlkorvan.dll");
    AddLibrary(kWow64 + "vlwarden.dll", false);
    files().AddFile(kWow64 + "vlpluser.exe");
    files().AddFile(kWow64 + "vlkvhost.exe");
    // The 64-bit system directory is not this program's business.
    AddLibrary("C:\\WINDOWS\\system32\\vlkorvan.dll");
    files().AddFile(kWow64 + "other.dll");

    EXPECT_EQ(Sweep(),
              "[Info] DeleteKorvaneFiles...\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkorvan.dll] - exists.  asking it to "
              "unregister deleted ok\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlwarden.dll] - exists.  deleted ok\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplotra.dll] - not found. OK\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vltemplo.dll] - not found. OK\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlpluser.exe] - exists.  deleted ok\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlplhost.exe] - not found. OK\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlbroker.exe] - not found. OK\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvuser.exe] - not found. OK\n"
              "Looking for: [C:\\WINDOWS\\SysWOW64\\vlkvhost.exe] - exists.  deleted ok\n");

    EXPECT_EQ(machine().toolkitLibraries().unregistered,
              std::vector<std::string>{kWow64 + "vlkorvan.dll"});
    EXPECT_FALSE(registry().KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\vlkorvan.dll"));
    EXPECT_TRUE(registry().KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\vlwarden.dll"));
    for (const char* szName : {"vlkorvan.dll", "vlwarden.dll", "vlpluser.exe", "vlkvhost.exe"}) {
        EXPECT_FALSE(files().Exists(kWow64 + szName)) << szName;
    }
    EXPECT_TRUE(files().Exists("C:\\WINDOWS\\system32\\vlkorvan.dll"));
    EXPECT_TRUE(files().Exists(kWow64 + "other.dll"));
    // Every library loaded was released again.
    EXPECT_EQ(machine().LoadHistory(),
              std::vector<std::string>({kWow64 + "vlkorvan.dll", kWow64 + "vlwarden.dll"}));
    EXPECT_EQ(machine().LoadedModuleCount(kWow64 + "vlkorvan.dll"), 0u);
    EXPECT_EQ(machine().LoadedModuleCount(kWow64 + "vlwarden.dll"), 0u);
}

TEST_F(FileSweepsTest, ThirtyTwoBitWindowsUsesItsOrdinarySystemDirectory) {
    sim::Shape shape;
    shape.b64BitWindows = false;
    Boot(shape);
    AddLibrary("C:\\WINDOWS\\system32\\vltemplo.dll");

    const std::string log = Sweep();
    EXPECT_NE(log.find("Looking for: [C:\\WINDOWS\\system32\\vltemplo.dll] - exists.  asking it to "
                       "unregister deleted ok\n"),
              std::string::npos);
    EXPECT_FALSE(files().Exists("C:\\WINDOWS\\system32\\vltemplo.dll"));
}

TEST_F(FileSweepsTest, ALibraryInUseIsUnregisteredButStaysAndTheSweepGoesOn) {
    AddLibrary(kWow64 + "vlkorvan.dll");
    AddLibrary(kWow64 + "vlwarden.dll");
    AddLibrary(kWow64 + "vlplotra.dll");
    files().SetDeleteError(kWow64 + "vlkorvan.dll", ERROR_SHARING_VIOLATION);
    // Mapped by another process.
    files().SetDeleteError(kWow64 + "vlwarden.dll", ERROR_ACCESS_DENIED);
    files().AddDirectory(kWow64 + "vlbroker.exe");

    const std::string log = Sweep();
    EXPECT_NE(log.find("[C:\\WINDOWS\\SysWOW64\\vlkorvan.dll] - exists.  asking it to unregister "
                       "delete failed: 00000020\n"),
              std::string::npos);
    EXPECT_NE(log.find("[C:\\WINDOWS\\SysWOW64\\vlwarden.dll] - exists.  asking it to unregister "
                       "delete failed: 00000005\n"),
              std::string::npos);
    EXPECT_NE(log.find("[C:\\WINDOWS\\SysWOW64\\vlplotra.dll] - exists.  asking it to unregister "
                       "deleted ok\n"),
              std::string::npos);
    // A directory does not load and does not delete.
    EXPECT_NE(
        log.find("[C:\\WINDOWS\\SysWOW64\\vlbroker.exe] - exists.  delete failed: 00000005\n"),
        std::string::npos);
    EXPECT_EQ(machine().toolkitLibraries().unregistered.size(), 3u);
    EXPECT_TRUE(files().Exists(kWow64 + "vlkorvan.dll"));
    EXPECT_TRUE(files().Exists(kWow64 + "vlwarden.dll"));
    EXPECT_FALSE(files().Exists(kWow64 + "vlplotra.dll"));
}

TEST_F(FileSweepsTest, WithoutTheirDirectoriesTheSweepsEndAfterTheirHeadings) {
    AddLibrary(kWow64 + "vlkorvan.dll");
    files().AddFile(kDownloads + "qlvn.osd");
    machine().faults().Inject({"GetSystemWow64DirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    machine().faults().Inject({"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY});
    machine().faults().Inject({"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY});

    EXPECT_EQ(Sweep(), "[Info] DeleteKorvaneFiles...\n");
    EXPECT_EQ(SweepDownloads(), "[Info] DeleteKorvaneOSDFiles...\n");
    EXPECT_TRUE(files().Exists(kWow64 + "vlkorvan.dll"));
    EXPECT_TRUE(files().Exists(kDownloads + "qlvn.osd"));
}

TEST_F(FileSweepsTest, DownloadedFilesGoWithoutBeingLoaded) {
    files().SetModule(kDownloads + "qlvn.osd", sim::ToolkitLibraryImage(kDownloads + "qlvn.osd"));
    files().AddFile(kDownloads + "qlvn2.inf");
    files().AddFile(kDownloads + "other.osd");

    EXPECT_EQ(
        SweepDownloads(),
        "[Info] DeleteKorvaneOSDFiles...\n"
        "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn.osd] - exists. deleted ok\n"
        "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn2.inf] - exists. deleted ok\n");
    EXPECT_TRUE(machine().LoadHistory().empty());
    EXPECT_EQ(files().List("C:\\WINDOWS\\Downloaded Program Files"),
              std::vector<std::string>{"other.osd"});
}

TEST_F(FileSweepsTest, ADownloadedFileInUseIsLoggedAndTheSweepGoesOn) {
    files().AddFile(kDownloads + "qlvn.osd");
    files().AddFile(kDownloads + "qlvn2.inf");
    files().SetDeleteError(kDownloads + "qlvn.osd", ERROR_SHARING_VIOLATION);

    EXPECT_EQ(
        SweepDownloads(),
        "[Info] DeleteKorvaneOSDFiles...\n"
        "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn.osd] - exists. delete failed: "
        "00000020\n"
        "Looking for: [C:\\WINDOWS\\Downloaded Program Files\\qlvn2.inf] - exists. deleted ok\n");
}

}  // namespace
