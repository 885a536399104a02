#include <memory>
#include <string>
#include <vector>

#include "TestMachine.h"
#include "platform/VersionInfo.h"

namespace {

const char kMshtml[] = "C:\\WINDOWS\\SysWOW64\\MSHTML.DLL";

sim::Bytes FixedBytes(DWORD dwSignature = 0xFEEF04BD) {
    VS_FIXEDFILEINFO info = sim::FixedFileInfo(0x000B0000, 0);
    info.dwSignature = dwSignature;
    const BYTE* p = reinterpret_cast<const BYTE*>(&info);
    return sim::Bytes(p, p + sizeof(info));
}

sim::Bytes Terminated(const std::string& text) {
    sim::Bytes bytes = sim::BytesOf(text);
    bytes.push_back(0);
    return bytes;
}

sim::VersionNode Strings(const std::string& table, sim::Bytes fileVersion) {
    return sim::VersionNode{
        "StringFileInfo",
        {},
        {sim::VersionNode{table, {}, {sim::VersionNode{"FileVersion", fileVersion, {}}}}}};
}

sim::VersionNode Translation(sim::Bytes value) {
    return sim::VersionNode{"VarFileInfo", {}, {sim::VersionNode{"Translation", value, {}}}};
}

// Runs GetVersion on a fresh object and releases its block, as the owner must.
int VersionOf(CMshtmlVersion& version) {
    const int nVersion = version.GetVersion();
    std::unique_ptr<BYTE[]> block(version.m_pData);
    version.m_pData = NULL;
    return nVersion;
}

class VersionInfoTest : public MachineTest {
protected:
    int VersionWith(const sim::Bytes& block) {
        files().SetVersionBlock(kMshtml, block);
        CMshtmlVersion version;
        return VersionOf(version);
    }
};

struct ParseCase {
    const char* szText;
    int nValue;
    ptrdiff_t nStop;  // where the result points, from the start of the text
};

TEST_F(VersionInfoTest, ParseNumberReadsDigitsSkipsSpacesAndStopsAfterAnythingElse) {
    const ParseCase cases[] = {
        {"11.00.9600.16428", 11, 3},
        {"00.9600.16428", 0, 3},
        {"6.00.2900.2180 (xpsp.080413-2111)", 6, 2},
        {"8, 00, 6001, 1", 8, 2},
        {" 00, 6001, 1", 0, 4},
        {"9", 9, 1},
        {"", 0, 0},
        {"1 2 3.4", 123, 6},
        {"x1", 0, 1},
        {"99999999999999999999", 9999999, 20},
    };
    for (const ParseCase& c : cases) {
        int nValue = -1;
        EXPECT_EQ(CVersionInfo::ParseNumber(c.szText, nValue) - c.szText, c.nStop) << c.szText;
        EXPECT_EQ(nValue, c.nValue) << c.szText;
    }
    int nValue = -1;
    EXPECT_EQ(CVersionInfo::ParseNumber(NULL, nValue), nullptr);
    EXPECT_EQ(nValue, 0);
}

TEST_F(VersionInfoTest, TheBrowserEngineVersionIsMajorTimesHundredPlusMinor) {
    const std::pair<const char*, int> cases[] = {
        {"11.00.9600.16428", 1100},
        {"6.00.2900.2180 (xpsp.080413-2111)", 600},
        {"8, 00, 6001, 1", 800},
        {"9", 900},
        {"", 0},
        {"7.1", 701},
        {"99999999999.99999999999", 999999900 + 9999999},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionWith(sim::VersionBlock(c.first)), c.second) << c.first;
    }
}

TEST_F(VersionInfoTest, LoadKeepsTheFixedRecordAndTheFirstTranslation) {
    files().SetVersionBlock(kMshtml, sim::VersionBlock("8.00.6001.18702", 0x0407, 0x04e4));
    CMshtmlVersion version;
    EXPECT_TRUE(version.Load("MSHTML.DLL"));
    std::unique_ptr<BYTE[]> block(version.m_pData);

    EXPECT_EQ(version.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(version.dwFileVersionMS, 0x000B0000u);
    EXPECT_EQ(version.m_wLanguage, 0x0407);
    EXPECT_EQ(version.m_wCodePage, 0x04e4);
    EXPECT_EQ(version.GetMajorMinor(), 800);
    version.m_pData = NULL;
}

TEST_F(VersionInfoTest, WithoutATranslationTheDefaultsNameTheStringTable) {
    // US English and code page 1252 until a translation says otherwise.
    const sim::Bytes block = sim::EncodeVersionNode(sim::VersionNode{
        "VS_VERSION_INFO", FixedBytes(), {Strings("040904e4", Terminated("11.0"))}});
    EXPECT_EQ(VersionWith(block), 1100);

    files().SetVersionBlock(kMshtml, block);
    CMshtmlVersion version;
    EXPECT_TRUE(version.Load("MSHTML.DLL"));
    std::unique_ptr<BYTE[]> owned(version.m_pData);
    EXPECT_EQ(version.m_wCodePage, 1252);
    version.m_pData = NULL;

    // A translation of fewer than four bytes is no translation.
    EXPECT_EQ(VersionWith(sim::EncodeVersionNode(sim::VersionNode{
                  "VS_VERSION_INFO",
                  FixedBytes(),
                  {Strings("040904e4", Terminated("8.0")), Translation({0x07, 0x04})}})),
              800);
}

TEST_F(VersionInfoTest, NoResourceNoVersion) {
    EXPECT_EQ(VersionWith({}), 0);

    files().Remove(kMshtml);
    CMshtmlVersion version;
    EXPECT_FALSE(version.Load("MSHTML.DLL"));
    EXPECT_EQ(version.m_pData, nullptr);
    EXPECT_EQ(VersionOf(version), 0);
}

TEST_F(VersionInfoTest, MalformedBlocksGiveZeroAndAreNeverReadPastTheirEnd) {
    const sim::Bytes wellFormed = sim::VersionBlock("11.00.9600.16428");
    const sim::Bytes fixed = FixedBytes();
    struct Case {
        const char* szName;
        sim::Bytes block;
        int nExpected;
    };
    std::vector<Case> cases = {
        {"root record shorter than 52 bytes",
         sim::EncodeVersionNode(sim::VersionNode{
             "VS_VERSION_INFO",
             sim::Bytes(fixed.begin(), fixed.begin() + 20),
             {Strings("040904b0", Terminated("11.0")), Translation({0x09, 0x04, 0xb0, 0x04})}}),
         0},
        {"bad signature",
         sim::EncodeVersionNode(sim::VersionNode{
             "VS_VERSION_INFO",
             FixedBytes(0x12345678),
             {Strings("040904b0", Terminated("11.0")), Translation({0x09, 0x04, 0xb0, 0x04})}}),
         0},
        {"no FileVersion for the listed translation",
         sim::EncodeVersionNode(sim::VersionNode{
             "VS_VERSION_INFO",
             FixedBytes(),
             {Strings("040904b0", Terminated("11.0")), Translation({0x07, 0x04, 0xb0, 0x04})}}),
         0},
        {"cut inside the string table", sim::Bytes(wellFormed.begin(), wellFormed.begin() + 120),
         0},
        {"cut inside the fixed record", sim::Bytes(wellFormed.begin(), wellFormed.begin() + 40), 0},
        {"only a header", sim::Bytes(wellFormed.begin(), wellFormed.begin() + 4), 0},
    };
    for (size_t nCut = 1; nCut < wellFormed.size(); nCut += 7) {
        cases.push_back(
            {"truncated", sim::Bytes(wellFormed.begin(), wellFormed.begin() + nCut), -1});
    }
    for (const Case& c : cases) {
        const int nVersion = VersionWith(c.block);
        if (c.nExpected >= 0) {
            EXPECT_EQ(nVersion, c.nExpected) << c.szName;
        } else {
            EXPECT_TRUE(nVersion == 0 || nVersion == 1100) << c.szName << " " << c.block.size();
        }
    }
}

TEST_F(VersionInfoTest, AFileVersionWithoutTerminatorAtTheVeryEndOfTheBlock) {
    // The string claims 200 characters and has no NUL; the block ends right after its bytes.
    sim::VersionNode root{
        "VS_VERSION_INFO",
        FixedBytes(),
        {Translation({0x09, 0x04, 0xb0, 0x04}), Strings("040904b0", sim::BytesOf("7.10"))}};
    sim::Bytes block = sim::EncodeVersionNode(root);
    ASSERT_EQ(std::string(block.end() - 4, block.end()), "7.10");
    // The FileVersion node's header and key take the 16 bytes before its value; its
    // wValueLength is the second word.
    block[block.size() - 4 - 16 + 2] = 200;
    EXPECT_EQ(VersionWith(block), 710);
}

TEST_F(VersionInfoTest, TheThirtyTwoBitEngineIsTheOneRead) {
    files().SetVersionBlock("C:\\WINDOWS\\system32\\MSHTML.DLL",
                            sim::VersionBlock("11.00.9600.16428"));
    files().SetVersionBlock(kMshtml, sim::VersionBlock("8.00.7600.16385"));
    CMshtmlVersion version;
    EXPECT_EQ(VersionOf(version), 800);
}

TEST_F(VersionInfoTest, VersionFunctionsComeOnlyFromTheSystemDirectory) {
    files().SetModule("C:\\Users\\Admin\\Downloads\\version.dll", sim::VersionImage());
    CMshtmlVersion version;
    EXPECT_EQ(VersionOf(version), 1100);
    EXPECT_EQ(machine().LoadHistory(),
              std::vector<std::string>(
                  {"C:\\WINDOWS\\SysWOW64\\version.dll", "C:\\WINDOWS\\SysWOW64\\version.dll"}));
    EXPECT_EQ(machine().LoadedModuleCount("C:\\WINDOWS\\SysWOW64\\version.dll"), 0u);

    // Without it there is no version to read.
    Boot(sim::Shape());
    files().Remove("C:\\WINDOWS\\SysWOW64\\version.dll");
    CMshtmlVersion unreadable;
    EXPECT_EQ(VersionOf(unreadable), 0);
    EXPECT_EQ(unreadable.m_pData, nullptr);
}

}  // namespace
