#include <string>
#include <vector>

#include "TestMachine.h"
#include "platform/RegistryKey.h"

namespace {

const char kKey[] = "HKCU\\Software\\Test";

class RegistryKeyTest : public MachineTest {};

TEST_F(RegistryKeyTest, OpenFailureKeepsTheKeyHeldSoFar) {
    registry().SetDword(kKey, "Value", 7);
    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    const HKEY hHeld = key.Handle();
    EXPECT_EQ(key.Wow64Flags(), static_cast<REGSAM>(KEY_WOW64_32KEY));

    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Missing", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.Handle(), hHeld);
    DWORD dwValue = 0;
    EXPECT_EQ(key.QueryDword("Value", dwValue), ERROR_SUCCESS);
    EXPECT_EQ(dwValue, 7u);

    // A successful open replaces the held key and closes it.
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.Wow64Flags(), 0u);
    EXPECT_EQ(registry().OpenHandleCount(), 1u);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
    EXPECT_EQ(key.Handle(), nullptr);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, ScopeEndClosesEveryHeldKeyIncludingAPredefinedRoot) {
    registry().CreateKey(kKey);
    {
        CRegistryKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
        CRegistryKey root(HKEY_LOCAL_MACHINE);
        EXPECT_EQ(root.Handle(), HKEY_LOCAL_MACHINE);
        EXPECT_EQ(root.Wow64Flags(), 0u);
        EXPECT_EQ(registry().OpenHandleCount(), 1u);
    }
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

struct StringCase {
    const char* szName;
    DWORD dwType;
    std::vector<BYTE> data;
    LSTATUS expectedStatus;
    std::string expectedText;  // checked on success
    DWORD expectedChars;
};

TEST_F(RegistryKeyTest, QueryStringChecksTypeTerminatorAndRoom) {
    const std::vector<StringCase> cases = {
        {"usual", REG_SZ, sim::BytesOf(std::string("C:\\a.inf", 9)), ERROR_SUCCESS, "C:\\a.inf", 9},
        {"expand", REG_EXPAND_SZ, sim::BytesOf(std::string("%windir%\\a.inf", 15)), ERROR_SUCCESS,
         "%windir%\\a.inf", 15},
        {"one NUL", REG_SZ, {0}, ERROR_SUCCESS, "", 1},
        {"no bytes", REG_SZ, {}, ERROR_SUCCESS, "", 0},
        {"unterminated", REG_SZ, sim::BytesOf("abc"), ERROR_INVALID_DATA, "", 0},
        {"dword", REG_DWORD, {1, 0, 0, 0}, ERROR_INVALID_DATA, "", 0},
        {"binary", REG_BINARY, {'a', 0}, ERROR_INVALID_DATA, "", 0},
        {"multi", REG_MULTI_SZ, {'a', 0, 0}, ERROR_INVALID_DATA, "", 0},
        {"too long", REG_SZ, std::vector<BYTE>(17, 'a'), ERROR_MORE_DATA, "", 0},
    };
    for (const StringCase& c : cases) {
        registry().SetValue(kKey, c.szName, c.dwType, c.data);
    }
    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    for (const StringCase& c : cases) {
        char szBuffer[16];
        memset(szBuffer, 0xbd, sizeof(szBuffer));
        DWORD nChars = sizeof(szBuffer);
        EXPECT_EQ(key.QueryString(c.szName, szBuffer, nChars), c.expectedStatus) << c.szName;
        EXPECT_EQ(nChars, c.expectedChars) << c.szName;
        if (c.expectedStatus == ERROR_SUCCESS) {
            EXPECT_EQ(std::string(szBuffer), c.expectedText) << c.szName;
        }
    }

    DWORD nChars = 16;
    EXPECT_EQ(key.QueryString("missing", NULL, nChars), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(nChars, 0u);
    // Without a buffer only the size is asked for.
    nChars = 0;
    EXPECT_EQ(key.QueryString("too long", NULL, nChars), ERROR_SUCCESS);
    EXPECT_EQ(nChars, 17u);
    // No room even for an empty string.
    char c = 'x';
    nChars = 0;
    EXPECT_EQ(key.QueryString("no bytes", &c, nChars), ERROR_MORE_DATA);
    EXPECT_EQ(c, 'x');
}

TEST_F(RegistryKeyTest, QueryDwordRejectsOtherTypesButKeepsTheBytesRead) {
    registry().SetDword(kKey, "dword", 0x12345678);
    registry().SetValue(kKey, "short string", REG_SZ, {'1', 0});
    registry().SetValue(kKey, "three chars", REG_SZ, sim::BytesOf("abc"));
    registry().SetValue(kKey, "binary", REG_BINARY, {1, 2, 3, 4});
    registry().SetString(kKey, "long string", "123456789");
    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_QUERY_VALUE), ERROR_SUCCESS);

    DWORD dwValue = 0xdeadbeef;
    EXPECT_EQ(key.QueryDword("dword", dwValue), ERROR_SUCCESS);
    EXPECT_EQ(dwValue, 0x12345678u);

    dwValue = 0xdeadbeef;
    EXPECT_EQ(key.QueryDword("short string", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(dwValue, 0xdead0031u);

    dwValue = 0xdeadbeef;
    EXPECT_EQ(key.QueryDword("three chars", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(dwValue, 0x00636261u);  // the terminator Windows adds when there is room

    dwValue = 0;
    EXPECT_EQ(key.QueryDword("binary", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(dwValue, 0x04030201u);

    EXPECT_EQ(key.QueryDword("long string", dwValue), ERROR_MORE_DATA);
    EXPECT_EQ(key.QueryDword("missing", dwValue), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, DeleteTreeRemovesLeavesFirstAndTheNamedKeyLast) {
    const std::string root = "HKCU\\Software\\Test\\Unit";
    registry().SetString(root, "Name", "x");
    registry().SetString(root + "\\DownloadInformation", "INF", "C:\\a.inf");
    registry().CreateKey(root + "\\Contains\\Files");
    registry().CreateKey(root + "\\Contains\\Files\\Deeper");
    registry().CreateKey(root + "\\Contains\\Java");
    registry().CreateKey("HKCU\\Software\\Test\\Sibling");

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_SUCCESS);

    EXPECT_FALSE(registry().KeyExists(root));
    EXPECT_EQ(registry().SubkeyNames(kKey), std::vector<std::string>{"Sibling"});
    EXPECT_EQ(registry().OpenHandleCount(), 1u);

    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, DeleteTreeStopsAtFirstFailureAndKeepsTheRest) {
    const std::string root = "HKCU\\Software\\Test\\Unit";
    registry().CreateKey(root + "\\A");
    registry().CreateKey(root + "\\B\\C");
    registry().CreateKey(root + "\\B\\D");
    registry().CreateKey(root + "\\E");
    registry().DenyAccess(root + "\\B\\C", DELETE);

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_ACCESS_DENIED);

    // A went before the failure; C refused, so D, E and the named key were never reached.
    EXPECT_EQ(registry().SubkeyNames(root), (std::vector<std::string>{"B", "E"}));
    EXPECT_EQ(registry().SubkeyNames(root + "\\B"), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(registry().OpenHandleCount(), 1u);
}

TEST_F(RegistryKeyTest, DeleteTreeOfAKeyThatWillNotOpenDeletesNothing) {
    const std::string root = "HKCU\\Software\\Test\\Unit";
    registry().CreateKey(root + "\\A\\B");
    registry().DenyAccess(root + "\\A", KEY_WRITE);

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(registry().KeyExists(root + "\\A\\B"));
}

TEST_F(RegistryKeyTest, EnumerationErrorEndsTheWalkAndTheFinalDeletionFails) {
    const std::string root = "HKCU\\Software\\Test\\Unit";
    registry().CreateKey(root + "\\A");
    machine().faults().Inject({"RegEnumKeyExA", ERROR_NOT_ENOUGH_MEMORY, "Unit"});

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(registry().KeyExists(root + "\\A"));
}

TEST_F(RegistryKeyTest, DeleteTreeWorksInTheViewTheKeyWasOpenedIn) {
    // A 64-bit process that asks for the 32-bit view on the root of HKLM.
    sim::Shape shape;
    shape.b32BitProcess = false;
    Boot(shape);
    registry().CreateKey("HKLM\\SOFTWARE\\Vendor\\Unit\\Child");
    registry().CreateKey("HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Unit\\Child");

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "", KEY_READ | KEY_WOW64_32KEY), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("SOFTWARE\\Vendor\\Unit"), ERROR_SUCCESS);

    EXPECT_FALSE(registry().KeyExists("HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Unit"));
    EXPECT_TRUE(registry().KeyExists("HKLM\\SOFTWARE\\Vendor\\Unit\\Child"));
}

TEST_F(RegistryKeyTest, WithoutRegDeleteKeyExADeletionFallsBackToRegDeleteKeyA) {
    machine().RemoveSystemExport("advapi32.dll", "RegDeleteKeyExA");
    registry().CreateKey("HKCU\\Software\\Test\\Unit\\A\\B");

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Unit"), ERROR_SUCCESS);

    EXPECT_FALSE(registry().KeyExists("HKCU\\Software\\Test\\Unit"));
    EXPECT_EQ(machine().faults().Calls("RegDeleteKeyA"), 3u);
    EXPECT_EQ(g_pfnRegDeleteKeyExA, nullptr);
}

TEST_F(RegistryKeyTest, RegDeleteKeyExAIsLookedUpOncePerRun) {
    registry().CreateKey("HKCU\\Software\\Test\\One");
    registry().CreateKey("HKCU\\Software\\Test\\Two");
    // A second lookup would be refused and would show as a call of the fallback.
    machine().faults().Inject({"GetProcAddress", ERROR_PROC_NOT_FOUND, "!RegDeleteKeyExA", 2});

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteChildKey("One"), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Two"), ERROR_SUCCESS);

    EXPECT_EQ(machine().faults().Calls("RegDeleteKeyExA"), 2u);
    EXPECT_EQ(machine().faults().Calls("RegDeleteKeyA"), 0u);
}

TEST_F(RegistryKeyTest, AMissingRegDeleteKeyExAIsRememberedForTheRun) {
    registry().CreateKey("HKCU\\Software\\Test\\One");
    registry().CreateKey("HKCU\\Software\\Test\\Two");
    machine().faults().Inject({"GetProcAddress", ERROR_PROC_NOT_FOUND, "!RegDeleteKeyExA", 1});

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteChildKey("One"), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteChildKey("Two"), ERROR_SUCCESS);

    EXPECT_EQ(machine().faults().Calls("RegDeleteKeyExA"), 0u);
    EXPECT_EQ(machine().faults().Calls("RegDeleteKeyA"), 2u);
    EXPECT_EQ(registry().SubkeyNames(kKey), std::vector<std::string>{});
}

TEST_F(RegistryKeyTest, DeleteChildKeyRefusesAKeyWithChildren) {
    registry().CreateKey("HKCU\\Software\\Test\\Unit\\A");
    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteChildKey("Unit"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key.DeleteChildKey("Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(registry().KeyExists("HKCU\\Software\\Test\\Unit\\A"));
}

}  // namespace
