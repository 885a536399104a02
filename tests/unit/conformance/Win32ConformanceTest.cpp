#include <algorithm>
#include <string>
#include <vector>

#include "PlatformTest.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Functions newer than Windows XP SP3 are looked up, as the program does.
template <typename Function>
Function SystemExport(const char* szModule, const char* szName) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(szModule), szName)));
}

typedef LSTATUS(WINAPI* RegDeleteKeyExAFunction)(HKEY, LPCSTR, REGSAM, DWORD);
typedef UINT(WINAPI* GetSystemWow64DirectoryAFunction)(LPSTR, UINT);

RegDeleteKeyExAFunction RegDeleteKeyExAExport() {
    return SystemExport<RegDeleteKeyExAFunction>("advapi32.dll", "RegDeleteKeyExA");
}

GetSystemWow64DirectoryAFunction GetSystemWow64DirectoryAExport() {
    return SystemExport<GetSystemWow64DirectoryAFunction>("kernel32.dll",
                                                          "GetSystemWow64DirectoryA");
}

class RegistryConformance : public PlatformTest {};

TEST_P(RegistryConformance, ValuesReadTheWayTheProgramReadsThem) {
    const char szUnterminated[] = "abcd";
    const DWORD dwValue = 0x12345678;
    ASSERT_EQ(RegSetValueExA(Scratch(), "dword", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&dwValue), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Scratch(), "one", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Scratch(), "unterminated", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(szUnterminated), 3),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Scratch(), "empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Scratch(), "long", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>("%windir%\\x.inf"), 15),
              ERROR_SUCCESS);

    BYTE buffer[16];
    DWORD dwType = 0xdeadbeef;
    DWORD cbData = 4;
    DWORD dwRead = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "dword", NULL, &dwType, reinterpret_cast<BYTE*>(&dwRead),
                               &cbData),
              ERROR_SUCCESS);
    EXPECT_EQ(dwType, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(dwRead, 0x12345678u);

    // A short string read into a DWORD: the bytes land, the type tells. Nothing is written past
    // the converted bytes (Wine's test_set_value checks the byte after them on Windows).
    dwRead = 0xdeadbeef;
    cbData = 4;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "one", NULL, &dwType, reinterpret_cast<BYTE*>(&dwRead),
                               &cbData),
              ERROR_SUCCESS);
    EXPECT_EQ(dwType, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(cbData, 2u);
    EXPECT_EQ(dwRead, 0xdead0031u);

    // An unterminated string ("abcd" with a size of 3: RegSetValueExA adds a NUL only when the
    // byte after the data is one): a NUL is added when there is room, and not counted; without
    // room the data stops short of one. Wine's test_string_termination holds Windows to this.
    memset(buffer, 0xbd, sizeof(buffer));
    cbData = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExA(Scratch(), "unterminated", NULL, &dwType, buffer, &cbData),
              ERROR_SUCCESS);
    EXPECT_EQ(cbData, 3u);
    EXPECT_EQ(memcmp(buffer, "abc", 4), 0);
    memset(buffer, 0xbd, sizeof(buffer));
    cbData = 3;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "unterminated", NULL, &dwType, buffer, &cbData),
              ERROR_SUCCESS);
    EXPECT_EQ(cbData, 3u);
    EXPECT_EQ(buffer[3], 0xbd);

    // No data bytes at all (as some installers write them): none come back, and the buffer is
    // left alone (Wine's test_set_value, the "zero-byte string").
    memset(buffer, 0xbd, sizeof(buffer));
    cbData = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExA(Scratch(), "empty", NULL, &dwType, buffer, &cbData), ERROR_SUCCESS);
    EXPECT_EQ(cbData, 0u);
    EXPECT_EQ(buffer[0], 0xbd);

    // Too small: ERROR_MORE_DATA and "the required buffer size" (RegQueryValueExA). Which size an
    // ANSI caller is told is not documented: Wine gives the ANSI one (15); Windows may give that
    // of the UTF-16 data it stores (30), which is enough too. The program reads no size from it.
    cbData = 4;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "long", NULL, &dwType, buffer, &cbData), ERROR_MORE_DATA);
    EXPECT_EQ(dwType, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_TRUE(cbData == 15u || cbData == 30u) << cbData;
    cbData = 0;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "long", NULL, NULL, NULL, &cbData), ERROR_SUCCESS);
    EXPECT_EQ(cbData, 15u);
    cbData = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExA(Scratch(), "long", NULL, NULL, buffer, &cbData), ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "%windir%\\x.inf");

    EXPECT_EQ(RegQueryValueExA(Scratch(), "missing", NULL, NULL, buffer, &cbData),
              ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryConformance, KeysEnumerateAllAndOnlyLeavesDelete) {
    for (const char* szName : {"child\\grand", "B", "a"}) {
        HKEY hKey;
        ASSERT_EQ(RegCreateKeyExA(Scratch(), szName, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);
    }
    std::vector<std::string> names;
    char szName[256];
    DWORD nName = sizeof(szName);
    LSTATUS status;
    for (DWORD i = 0; (status = RegEnumKeyExA(Scratch(), i, szName, &nName, NULL, NULL, NULL,
                                              NULL)) == ERROR_SUCCESS;
         ++i) {
        EXPECT_EQ(nName, strlen(szName));
        names.push_back(szName);
        nName = sizeof(szName);
    }
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
    // "Subkeys are not ordered" (RegEnumKeyEx): Windows and Wine give them sorted, but only the
    // set is promised, and the program relies on no order.
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    EXPECT_EQ(sorted, (std::vector<std::string>{"a", "B", "child"}));

    const DWORD nChild =
        static_cast<DWORD>(std::find(names.begin(), names.end(), "child") - names.begin());
    nName = 5;  // "child" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExA(Scratch(), nChild, szName, &nName, NULL, NULL, NULL, NULL),
              ERROR_MORE_DATA);

    // A key with subkeys does not delete (NtDeleteKey's STATUS_CANNOT_DELETE).
    EXPECT_EQ(RegDeleteKeyA(Scratch(), "child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(Scratch(), "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(Scratch(), "child\\grand"), ERROR_SUCCESS);
    // RegDeleteKeyExA came with Windows XP x64 and Vista; 32-bit XP and Server 2003 lack it.
    const RegDeleteKeyExAFunction pRegDeleteKeyExA = RegDeleteKeyExAExport();
    if (pRegDeleteKeyExA != NULL) {
        EXPECT_EQ(pRegDeleteKeyExA(Scratch(), "child", 0, 0), ERROR_SUCCESS);
    } else {
        EXPECT_FALSE(Shape().b64BitWindows);
        EXPECT_EQ(RegDeleteKeyA(Scratch(), "child"), ERROR_SUCCESS);
    }

    // A handle outlives the key it was opened on (Wine's test_deleted_key).
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(Scratch(), "a", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(Scratch(), "a"), ERROR_SUCCESS);
    nName = sizeof(szName);
    EXPECT_EQ(RegEnumKeyExA(hKey, 0, szName, &nName, NULL, NULL, NULL, NULL), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);

    EXPECT_EQ(RegOpenKeyExA(Scratch(), "", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(Scratch(), "missing\\deeper", 0, KEY_READ, &hKey),
              ERROR_FILE_NOT_FOUND);
    // Closing a predefined key succeeds and changes nothing (Wine's test_reg_close_key).
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

// Whether HKLM\szSubKey opens with these access rights; the key is closed again.
LSTATUS OpenMachineKey(LPCSTR szSubKey, REGSAM samDesired) {
    HKEY hKey;
    const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szSubKey, 0, samDesired, &hKey);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(hKey);
    }
    return status;
}

TEST_P(RegistryConformance, The32BitViewOfSoftwareLivesUnderWow6432Node) {
    if (!Shape().b64BitWindows) {
        // One view: 32-bit Windows ignores KEY_WOW64_32KEY and KEY_WOW64_64KEY ("Registry Key
        // Security and Access Rights") and has no Wow6432Node.
        for (const REGSAM samWritten :
             {static_cast<REGSAM>(KEY_WOW64_32KEY), static_cast<REGSAM>(KEY_WOW64_64KEY),
              static_cast<REGSAM>(0)}) {
            HKEY hKey;
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance\\Unit", 0,
                                      NULL, 0, KEY_ALL_ACCESS | samWritten, NULL, &hKey, NULL),
                      ERROR_SUCCESS);
            RegCloseKey(hKey);
            EXPECT_EQ(OpenMachineKey("Software\\KorvaneConformance\\Unit", KEY_READ),
                      ERROR_SUCCESS);
            EXPECT_EQ(OpenMachineKey("Software\\Wow6432Node\\KorvaneConformance", KEY_READ),
                      ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance\\Unit"),
                      ERROR_SUCCESS);
            EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance"),
                      ERROR_SUCCESS);
        }
        return;
    }
    // Asked for explicitly, and by a 32-bit process without asking, HKLM\Software is the
    // 32-bit view; a 64-bit process sees its own. Physical paths are read in the 64-bit view.
    const RegDeleteKeyExAFunction pRegDeleteKeyExA = RegDeleteKeyExAExport();
    ASSERT_NE(pRegDeleteKeyExA, nullptr);  // every 64-bit Windows has it
    const REGSAM samOwn = Is32BitProcess() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    for (const REGSAM samWritten : {static_cast<REGSAM>(KEY_WOW64_32KEY), static_cast<REGSAM>(0)}) {
        const bool b32BitView = samWritten == KEY_WOW64_32KEY || Is32BitProcess();
        const REGSAM samIn = b32BitView ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        const REGSAM samOut = b32BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        HKEY hKey;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance\\Unit", 0, NULL,
                                  0, KEY_ALL_ACCESS | samWritten, NULL, &hKey, NULL),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);

        EXPECT_EQ(OpenMachineKey("Software\\Wow6432Node\\KorvaneConformance\\Unit",
                                 KEY_READ | KEY_WOW64_64KEY),
                  b32BitView ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(OpenMachineKey("Software\\KorvaneConformance", KEY_READ | KEY_WOW64_64KEY),
                  b32BitView ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
        // Relative to the 32-bit view of Software, no Wow6432Node in the path.
        HKEY hSoftware;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ | samIn, &hSoftware),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExA(hSoftware, "KorvaneConformance\\Unit", 0, KEY_READ, &hKey),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);
        RegCloseKey(hSoftware);

        // Deleted only through the view it is in; without flags, the process's own.
        EXPECT_EQ(
            pRegDeleteKeyExA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance\\Unit", samOut, 0),
            ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(pRegDeleteKeyExA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance\\Unit",
                                   samIn == samOwn ? 0 : samIn, 0),
                  ERROR_SUCCESS);
        EXPECT_EQ(pRegDeleteKeyExA(HKEY_LOCAL_MACHINE, "Software\\KorvaneConformance", samIn, 0),
                  ERROR_SUCCESS);
        for (const REGSAM samView : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            EXPECT_EQ(OpenMachineKey("Software\\KorvaneConformance", KEY_READ | samView),
                      ERROR_FILE_NOT_FOUND);
        }
    }
}

KORVANE_PLATFORM_SUITE(RegistryConformance);

class FileConformance : public PlatformTest {};

// An empty path: Windows versions answer ERROR_PATH_NOT_FOUND or ERROR_BAD_PATHNAME (Wine's
// test_DeleteFileA accepts both); Wine gives the first. The program never builds one.
bool IsEmptyPathError(DWORD dwError) {
    return dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_BAD_PATHNAME;
}

TEST_P(FileConformance, AttributesAndDeletionOfWhatIsNotThere) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
    EXPECT_PRED1(IsEmptyPathError, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(ScratchPath("missing.inf").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(ScratchPath("missing\\a.inf").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA(""));
    EXPECT_PRED1(IsEmptyPathError, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA(ScratchPath("missing.inf").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA(ScratchPath("missing\\a.inf").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_P(FileConformance, ADirectoryNamedLikeAFileIsThereButDoesNotDelete) {
    const std::string directory = ScratchPath("qlvn.inf");
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), NULL));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryA(directory.c_str(), NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    const DWORD dwAttributes = GetFileAttributesA(directory.c_str());
    ASSERT_NE(dwAttributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // Wine's test_DeleteFileA holds Windows to this error.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA(directory.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(RemoveDirectoryA(directory.c_str()));
}

TEST_P(FileConformance, AFileOpenWithoutDeleteSharingRefusesDeletion) {
    const std::string path = ScratchPath("held.dll");
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    DWORD nWritten = 0;
    EXPECT_TRUE(WriteFile(hFile, "MZ", 2, &nWritten, NULL));
    const DWORD dwAttributes = GetFileAttributesA(path.c_str());
    ASSERT_NE(dwAttributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(hFile));

    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The one file the cases write outside their folder, deleted at once: where a 32-bit process's
// System32 leads ("File System Redirector": SysWOW64, on 64-bit Windows only).
TEST_P(FileConformance, System32OfA32BitProcessIsSysWow64) {
    char szWindows[MAX_PATH + 1];
    ASSERT_GT(GetWindowsDirectoryA(szWindows, sizeof(szWindows)), 0u);
    const std::string viaSystem32 = std::string(szWindows) + "\\system32\\korvane-conformance.dll";
    const std::string inSysWow64 = std::string(szWindows) + "\\syswow64\\korvane-conformance.dll";
    HANDLE hFile = CreateFileA(viaSystem32.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(hFile));

    EXPECT_EQ(GetFileAttributesA(inSysWow64.c_str()) != INVALID_FILE_ATTRIBUTES, Shape().Wow64());
    EXPECT_TRUE(DeleteFileA(viaSystem32.c_str()));
    EXPECT_EQ(GetFileAttributesA(viaSystem32.c_str()), INVALID_FILE_ATTRIBUTES);
}

KORVANE_PLATFORM_SUITE(FileConformance);

class DirectoryConformance : public PlatformTest {};

TEST_P(DirectoryConformance, DirectoryCallsAnswerASmallBufferWithTheSizeTheyNeed) {
    char szWindows[MAX_PATH + 1];
    const UINT nWindows = GetWindowsDirectoryA(szWindows, sizeof(szWindows));
    ASSERT_GT(nWindows, 0u);
    EXPECT_EQ(nWindows, strlen(szWindows));

    // Beside the Windows directory; a program that is not terminal-server aware would be given
    // a directory of its own user's on a Remote Desktop host (GetWindowsDirectory).
    char szSystem[MAX_PATH + 1];
    const UINT nSystem = GetSystemDirectoryA(szSystem, sizeof(szSystem));
    EXPECT_EQ(Lower(szSystem), Lower(std::string(szWindows) + "\\system32"));
    char szSmall[MAX_PATH + 1];
    EXPECT_EQ(GetSystemDirectoryA(szSmall, nSystem), nSystem + 1);
    EXPECT_EQ(GetSystemDirectoryA(szSmall, nSystem + 1), nSystem);
    EXPECT_EQ(GetWindowsDirectoryA(szSmall, 3), nWindows + 1);

    // Either process on 64-bit Windows: the 32-bit one's system32 is only redirected. On 32-bit
    // Windows it fails with ERROR_CALL_NOT_IMPLEMENTED (GetSystemWow64Directory), where kernel32
    // has it at all.
    const GetSystemWow64DirectoryAFunction pGetSystemWow64DirectoryA =
        GetSystemWow64DirectoryAExport();
    char szWow64[MAX_PATH + 1];
    if (!Shape().b64BitWindows) {
        if (pGetSystemWow64DirectoryA != NULL) {
            SetLastError(0xdeadbeef);
            EXPECT_EQ(pGetSystemWow64DirectoryA(szWow64, sizeof(szWow64)), 0u);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
        }
        return;
    }
    ASSERT_NE(pGetSystemWow64DirectoryA, nullptr);
    const UINT nWow64 = pGetSystemWow64DirectoryA(szWow64, sizeof(szWow64));
    EXPECT_EQ(Lower(szWow64), Lower(std::string(szWindows) + "\\syswow64"));
    EXPECT_EQ(pGetSystemWow64DirectoryA(szSmall, nWow64), nWow64 + 1);
}

KORVANE_PLATFORM_SUITE(DirectoryConformance);

class ModuleConformance : public PlatformTest {};

TEST_P(ModuleConformance, LibrariesByFullPathAndTheirExports) {
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(hKernel, nullptr);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(hKernel, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    // Looked up when the program runs: every 64-bit Windows has both; 32-bit Windows XP and
    // Server 2003 lack RegDeleteKeyExA (its documented minimum is Vista and XP x64), and on
    // 32-bit Windows GetSystemWow64DirectoryA, where kernel32 has it, only fails.
    if (Shape().b64BitWindows) {
        EXPECT_NE(GetSystemWow64DirectoryAExport(), nullptr);
        EXPECT_NE(RegDeleteKeyExAExport(), nullptr);
    }

    char szSystem[MAX_PATH + 1];
    ASSERT_GT(GetSystemDirectoryA(szSystem, sizeof(szSystem)), 0u);
    HMODULE hMsi = LoadLibraryA((std::string(szSystem) + "\\msi.dll").c_str());
    ASSERT_NE(hMsi, nullptr);
    EXPECT_NE(GetProcAddress(hMsi, "MsiEnumComponentsA"), nullptr);
    EXPECT_TRUE(FreeLibrary(hMsi));

    // The control cache comes with Internet Explorer: present on most Windows up to 10, absent
    // on Wine and wherever Internet Explorer was removed. Either way is an answer the program
    // handles; the simulated machine is held to the one its shape names.
    SetLastError(0xdeadbeef);
    HMODULE hCache = LoadLibraryA((std::string(szSystem) + "\\OCCACHE.DLL").c_str());
    const DWORD dwError = GetLastError();
    if (Shape().bControlCache) {
        EXPECT_EQ(hCache != NULL, *Shape().bControlCache);
    }
    if (hCache != NULL) {
        EXPECT_NE(GetProcAddress(hCache, "RemoveControlByName"), nullptr);
        EXPECT_TRUE(FreeLibrary(hCache));
    } else {
        EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
}

KORVANE_PLATFORM_SUITE(ModuleConformance);

TEST(StringConformance, ComparisonAndFormatting) {
    std::shared_ptr<void> platform = StartPlatform(PlatformShapes().front());
    EXPECT_EQ(lstrcmpiA("{5D07C3B9-2E8A-4f61-A4C2-9B3E05D7F1A6}",
                        "{5d07c3b9-2e8a-4F61-a4c2-9b3e05d7f1a6}"),
              0);
    EXPECT_NE(lstrcmpiA("-q", "-qq"), 0);
    EXPECT_EQ(lstrlenA(NULL), 0);

    char szSubBlock[256];
    EXPECT_EQ(wsprintfA(szSubBlock, "\\StringFileInfo\\%04x%04x\\%s", 0x409, 0x4b0, "FileVersion"),
              36);
    EXPECT_STREQ(szSubBlock, "\\StringFileInfo\\040904b0\\FileVersion");
}

}  // namespace
