#include <string>
#include <vector>

#include "TestMachine.h"
#include "removal/InstallerDetection.h"

namespace {

// What a 32-bit process on 64-bit Windows reads as HKLM\Software\Velmor\Korvane.
const char kMachineSettings[] = "HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Korvane";
const char kUserSettings[] = "HKCU\\Software\\Velmor\\Korvane";
const char kToolkitComponentUpper[] = "{5D07C3B9-2E8A-4F61-A4C2-9B3E05D7F1A6}";
const char kMsiPath[] = "C:\\WINDOWS\\SysWOW64\\msi.dll";

class InstallerDetectionTest : public MachineTest {
protected:
    InstallerDetectionTest() {
        machine().installer().components = {"{00000000-1111-2222-3333-444444444444}",
                                            kToolkitComponentUpper};
    }
};

struct SettingsCase {
    const char* szName;
    std::optional<sim::RegValue> user;     // "SkipMsiCheck" under HKCU
    bool bUserKey;                         // the per-user key exists at all
    std::optional<sim::RegValue> machine;  // "SkipMsiCheck" under HKLM (32-bit view)
    BOOL bExpected;
};

sim::RegValue Dword(DWORD dwValue) {
    sim::RegValue value{REG_DWORD, sim::Bytes(4)};
    memcpy(value.data.data(), &dwValue, 4);
    return value;
}

sim::RegValue String(std::string text) {
    return sim::RegValue{REG_SZ, sim::Bytes(text.begin(), text.end() + 1)};
}

TEST_F(InstallerDetectionTest, SkipSettingPrecedence) {
    const std::vector<SettingsCase> cases = {
        {"nothing set", std::nullopt, false, std::nullopt, TRUE},
        {"user 1", Dword(1), true, std::nullopt, FALSE},
        {"user 0 wins over machine 1", Dword(0), true, Dword(1), TRUE},
        {"machine 1, no user key", std::nullopt, false, Dword(1), FALSE},
        {"user key without value, machine 1", std::nullopt, true, Dword(1), FALSE},
        {"user string \"1\" keeps its bytes", String("1"), true, std::nullopt, FALSE},
        {"user empty string is zero", String(""), true, std::nullopt, TRUE},
        {"machine dword 0 replaces user string", String("1"), true, Dword(0), TRUE},
        {"machine value of any type counts", std::nullopt, false,
         sim::RegValue{REG_BINARY, {1, 0, 0, 0}}, FALSE},
        {"machine string longer than four bytes is no value", std::nullopt, false,
         String("12345678"), TRUE},
        {"too long at machine keeps user bytes", String("1"), true, String("12345678"), FALSE},
        {"too long per user is no value", String("12345678"), true, std::nullopt, TRUE},
    };
    for (const SettingsCase& c : cases) {
        Boot(sim::Shape());
        machine().installer().components = {kToolkitComponentUpper};
        if (c.bUserKey) {
            registry().CreateKey(kUserSettings);
        }
        if (c.user) {
            registry().SetValue(kUserSettings, "SkipMsiCheck", c.user->dwType, c.user->data);
        }
        if (c.machine) {
            registry().SetValue(kMachineSettings, "SkipMsiCheck", c.machine->dwType,
                                c.machine->data);
        }
        EXPECT_EQ(IsInstalledByWindowsInstaller(), c.bExpected) << c.szName;
        EXPECT_EQ(registry().OpenHandleCount(), 0u) << c.szName;
    }
}

TEST_F(InstallerDetectionTest, SkippingLeavesMsiUnloaded) {
    registry().SetDword(kUserSettings, "SkipMsiCheck", 1);

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().LoadedModuleCount(kMsiPath), 0u);
    EXPECT_EQ(machine().installer().nEnumerations, 0u);
}

TEST_F(InstallerDetectionTest, MachineSettingIsReadInThe32BitView) {
    registry().SetDword("HKLM\\SOFTWARE\\Velmor\\Korvane", "SkipMsiCheck", 1);
    EXPECT_TRUE(IsInstalledByWindowsInstaller());

    Boot(sim::Shape());
    machine().installer().components = {kToolkitComponentUpper};
    registry().SetDword(kMachineSettings, "SkipMsiCheck", 1);
    EXPECT_FALSE(IsInstalledByWindowsInstaller());
}

TEST_F(InstallerDetectionTest, MatchesComponentIdsWhateverTheirLetterCase) {
    for (const char* szComponent :
         {"{5d07c3b9-2e8a-4f61-a4c2-9b3e05d7f1a6}", "{e1a9b5c4-7f23-4d8e-b61a-c2084f9d3e57}",
          "{8E4F2A6D-19C3-4B7E-9D05-3A6C71E2B840}"}) {
        Boot(sim::Shape());
        machine().installer().components = {"{00000000-1111-2222-3333-444444444444}", szComponent};
        EXPECT_TRUE(IsInstalledByWindowsInstaller()) << szComponent;
        EXPECT_EQ(machine().installer().nEnumerations, 2u) << szComponent;
    }
}

TEST_F(InstallerDetectionTest, WalksTheWholeListWhenNoComponentMatches) {
    machine().installer().components = {"{00000000-1111-2222-3333-444444444444}",
                                        "{5D07C3B9-2E8A-4F61-A4C2-9B3E05D7F1A7}",
                                        "{5D07C3B9-2E8A-4F61-A4C2-9B3E05D7F1A}", ""};

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().installer().nEnumerations, 5u);
    // Windows Installer stays loaded for the rest of the run.
    EXPECT_EQ(machine().LoadedModuleCount(kMsiPath), 1u);
}

TEST_F(InstallerDetectionTest, AnEnumerationErrorEndsTheWalk) {
    machine().installer().components = {"{00000000-1111-2222-3333-444444444444}",
                                        "{00000000-1111-2222-3333-555555555555}",
                                        kToolkitComponentUpper};
    machine().installer().failAt = std::make_pair(DWORD{1}, UINT{ERROR_BAD_CONFIGURATION});

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().installer().nEnumerations, 2u);
}

TEST_F(InstallerDetectionTest, MissingMsiOrExportMeansNotInstalledByIt) {
    files().Remove(kMsiPath);
    EXPECT_FALSE(IsInstalledByWindowsInstaller());

    Boot(sim::Shape());
    machine().installer().components = {kToolkitComponentUpper};
    files().SetModule(kMsiPath, sim::EmptyImage("msi.dll without exports"));
    EXPECT_FALSE(IsInstalledByWindowsInstaller());
}

TEST_F(InstallerDetectionTest, SecondCallReturnsTheFirstAnswerWithoutLookingAgain) {
    EXPECT_TRUE(IsInstalledByWindowsInstaller());
    const size_t nRegistryOpens = machine().faults().Calls("RegOpenKeyExA");
    const size_t nLoads = machine().faults().Calls("LoadLibraryA");

    // Everything that would change the answer now.
    registry().SetDword(kUserSettings, "SkipMsiCheck", 1);
    machine().installer().components.clear();

    EXPECT_TRUE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().faults().Calls("RegOpenKeyExA"), nRegistryOpens);
    EXPECT_EQ(machine().faults().Calls("LoadLibraryA"), nLoads);
    EXPECT_EQ(machine().installer().nEnumerations, 2u);
}

TEST_F(InstallerDetectionTest, APlantedMsiDllIsNeverLoaded) {
    machine().installer().components.clear();
    files().SetModule("C:\\Users\\Admin\\Downloads\\msi.dll", sim::PlantedMsiImage());
    files().SetModule("C:\\WINDOWS\\msi.dll", sim::PlantedMsiImage());

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().installer().nPlantedCalls, 0u);
}

TEST_F(InstallerDetectionTest, NoSystemDirectoryMeansNoMsi) {
    files().SetModule("C:\\Users\\Admin\\Downloads\\msi.dll", sim::PlantedMsiImage());
    machine().faults().Inject({"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY});

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().installer().nPlantedCalls, 0u);
    EXPECT_EQ(machine().installer().nEnumerations, 0u);
}

TEST_F(InstallerDetectionTest, ASystemDirectoryTooLongForThePathMeansNoMsi) {
    machine().SetSystemDirectoryReported("C:\\" + std::string(254, 'x'));

    EXPECT_FALSE(IsInstalledByWindowsInstaller());
    EXPECT_EQ(machine().installer().nEnumerations, 0u);
}

}  // namespace
