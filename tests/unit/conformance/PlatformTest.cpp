#include "PlatformTest.h"

namespace {

const char kScratchKey[] = "Software\\KorvaneConformance";

bool DeleteKeyTree(HKEY hParent, const char* szSubKey) {
    HKEY hKey;
    if (RegOpenKeyExA(hParent, szSubKey, 0, KEY_READ | KEY_WRITE, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    char szName[256];
    DWORD nName = sizeof(szName);
    // A subkey that will not go ends the loop: it would be enumerated first for ever.
    while (RegEnumKeyExA(hKey, 0, szName, &nName, NULL, NULL, NULL, NULL) == ERROR_SUCCESS &&
           DeleteKeyTree(hKey, szName)) {
        nName = sizeof(szName);
    }
    RegCloseKey(hKey);
    return RegDeleteKeyA(hParent, szSubKey) == ERROR_SUCCESS;
}

}  // namespace

std::string PlatformShape::Name() const {
    std::string name = "Process" + std::to_string(nProcessBits) + "On" +
                       (b64BitWindows ? "64" : "32") + "BitWindows";
    if (bControlCache) {
        name += *bControlCache ? "WithControlCache" : "WithoutControlCache";
    }
    return name;
}

PlatformTest::PlatformTest() {
    m_platform = StartPlatform(GetParam());
    DeleteKeyTree(HKEY_CURRENT_USER, kScratchKey);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &m_hScratch, NULL),
              ERROR_SUCCESS);
    EXPECT_TRUE(CreateDirectoryA(ScratchDirectory().c_str(), NULL)) << ScratchDirectory();
}

PlatformTest::~PlatformTest() {
    RegCloseKey(m_hScratch);
    DeleteKeyTree(HKEY_CURRENT_USER, kScratchKey);
    // Every case takes away what it put there; a folder that will not go says one did not.
    EXPECT_TRUE(RemoveDirectoryA(ScratchDirectory().c_str())) << ScratchDirectory();
}
