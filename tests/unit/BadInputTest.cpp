// Random contents for everything the program reads from the machine: the "SkipMsiCheck"
// settings, the units' "INF" and "OSD" values, the installed component ids and the browser
// engine's version resource. Bounded so that a sanitized run stays quick; the seed and the
// number of rounds can be changed with KORVANE_FUZZ_SEED and KORVANE_FUZZ_ROUNDS.

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "LogShape.h"
#include "TestMachine.h"
#include "ToolkitInstallation.h"
#include "platform/VersionInfo.h"

namespace {

unsigned long Setting(const char* szName, unsigned long nDefault) {
    const char* szValue = getenv(szName);
    return szValue != NULL ? strtoul(szValue, NULL, 0) : nDefault;
}

class Random {
public:
    explicit Random(unsigned long nSeed)
        : m_engine(static_cast<std::mt19937::result_type>(nSeed)) {}

    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_engine); }
    bool OneIn(size_t n) { return Below(n) == 0; }

    // A length that favours the edges the program cares about: empty, four bytes, the
    // 256 and 260 byte buffers.
    size_t Length(size_t nMax) {
        static const size_t edges[] = {0,   1,   2,   3,   4,   5,   38,  39,
                                       255, 256, 258, 259, 260, 261, 1000};
        return OneIn(2) ? edges[Below(sizeof(edges) / sizeof(edges[0]))] % (nMax + 1)
                        : Below(nMax + 1);
    }

    // Bytes other than NUL and line ends, percent signs and format directives among them.
    std::string Text(size_t nLength) {
        static const char* const pieces[] = {"%s", "%n", "%d", "%08x", "%%", "%", "C:\\WINDOWS\\",
                                             "]",  "["};
        std::string text;
        while (text.size() < nLength) {
            if (OneIn(6)) {
                text += pieces[Below(sizeof(pieces) / sizeof(pieces[0]))];
            } else {
                char c = static_cast<char>(1 + Below(255));
                text += c == '\n' || c == '\r' ? 'x' : c;
            }
        }
        text.resize(nLength);
        return text;
    }

    unsigned long long Number() {
        unsigned long long nNumber = 0;
        for (size_t nDigits = 1 + Below(12); nDigits > 0; --nDigits) {
            nNumber = nNumber * 10 + Below(10);
        }
        return nNumber;
    }

    static unsigned long long Capped(unsigned long long nNumber) {
        return nNumber < 9999999 ? nNumber : 9999999;
    }

    sim::RegValue Value() {
        static const DWORD types[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                                      REG_DWORD, REG_MULTI_SZ, REG_QWORD,     0x7F};
        sim::RegValue value;
        value.dwType = types[Below(sizeof(types) / sizeof(types[0]))];
        value.data = sim::BytesOf(Text(Length(1000)));
        if (!value.data.empty() && OneIn(2)) {
            value.data.back() = 0;  // with its terminator
        }
        if (OneIn(8) && !value.data.empty()) {
            value.data[Below(value.data.size())] = 0;  // and one in the middle
        }
        return value;
    }

    // A browser engine version resource, and the number the program must read from it when
    // the block is well formed.
    struct VersionSample {
        sim::Bytes block;
        std::optional<int> nExpected;
    };

    VersionSample VersionBlock() {
        // Numbers of any width, the first two read as major and minor, each capped at 9999999.
        const unsigned long long nMajor = Number();
        const unsigned long long nMinor = Number();
        const std::string text = std::to_string(nMajor) + (OneIn(2) ? "." : ", ") +
                                 std::to_string(nMinor) + ".2800.1106";
        VersionSample sample;
        sample.block = sim::VersionBlock(text, static_cast<WORD>(Below(0x10000)),
                                         OneIn(2) ? 0x04b0 : static_cast<WORD>(Below(0x10000)));
        switch (Below(4)) {
            case 0:  // random bytes altogether
                sample.block = sim::BytesOf(Text(Length(400)));
                return sample;
            case 1:  // truncated
                sample.block.resize(Below(sample.block.size() + 1));
                return sample;
            case 2:  // a few bytes changed, lengths and offsets among them
                for (size_t n = 1 + Below(6); n > 0; --n) {
                    sample.block[Below(sample.block.size())] = static_cast<BYTE>(Below(256));
                }
                return sample;
            default:
                sample.nExpected = static_cast<int>(Capped(nMajor) * 100 + Capped(nMinor));
                return sample;
        }
    }

private:
    std::mt19937 m_engine;
};

const char* const kUnits[] = {"{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}",
                              "{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}"};

class BadInputTest : public MachineTest {};

TEST_F(BadInputTest, RandomMachineContentsNeverBreakTheRunOrItsLog) {
    const unsigned long nSeed = Setting("KORVANE_FUZZ_SEED", 20261208);
    const unsigned long nRounds = Setting("KORVANE_FUZZ_ROUNDS", 300);
    Random random(nSeed);
    size_t nValues = 0;
    for (unsigned long nRound = 0; nRound < nRounds; ++nRound) {
        Boot(sim::Shape());
        ToolkitOptions options;
        options.bControlCache = random.OneIn(2);
        InstallToolkit(machine(), options);
        if (random.OneIn(3)) {
            machine().controlCache().behaviour = sim::ControlCacheBehaviour::Fails;
        }
        // Settings, both of them maybe, of any type and length.
        for (const char* szKey :
             {"HKCU\\Software\\Velmor\\Korvane", "HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Korvane"}) {
            if (random.OneIn(2)) {
                const sim::RegValue value = random.Value();
                registry().SetValue(szKey, "SkipMsiCheck", value.dwType, value.data);
                ++nValues;
            }
        }
        // Download information of any type and length.
        for (const char* szUnit : kUnits) {
            for (const char* szName : {"INF", "OSD"}) {
                if (random.OneIn(4)) {
                    continue;
                }
                const sim::RegValue value = random.Value();
                registry().SetValue(kUnitsKey + szUnit + "\\DownloadInformation", szName,
                                    value.dwType, value.data);
                ++nValues;
            }
        }
        // Component ids of odd lengths, sometimes with one of the toolkit's among them.
        std::vector<std::string>& components = machine().installer().components;
        for (size_t n = random.Below(6); n > 0; --n) {
            components.push_back(random.Text(random.Length(60)));
        }
        if (random.OneIn(10)) {
            components.push_back("{8e4f2a6d-19c3-4b7e-9d05-3a6c71e2b840}");
        }
        const Random::VersionSample version = random.VersionBlock();
        files().SetVersionBlock(kWow64Directory + "MSHTML.DLL", version.block);
        const auto othersBefore = NotTheToolkits(machine());

        std::string log;
        int nExit = -1;
        {
            sim::ScriptedStdin in("");
            sim::CapturedStdout out;
            nExit = RunProgram({"/log"});
            log = out.Text();
        }

        const std::string what =
            "seed " + std::to_string(nSeed) + ", round " + std::to_string(nRound);
        EXPECT_EQ(nExit, 0) << what;
        EXPECT_EQ(MalformedLines(log), std::vector<std::string>{}) << what;
        const bool bRefused = log.find("please use Add/Remove Programs") != std::string::npos;
        EXPECT_NE(log.find(bRefused ? "remove Korvane\n" : "Leaving UninstallKorvane\n"),
                  std::string::npos)
            << what;
        if (!bRefused && version.nExpected) {
            EXPECT_NE(log.find("\nIE Version is: " + std::to_string(*version.nExpected) + "\n"),
                      std::string::npos)
                << what;
        }
        EXPECT_EQ(NotTheToolkits(machine()), othersBefore) << what;
        EXPECT_EQ(registry().OpenHandleCount(), 0u) << what;
        EXPECT_EQ(machine().OpenKernelHandleCount(), 0u) << what;
        if (HasFailure()) {
            break;
        }
    }
    printf("bad input: seed %lu, %lu rounds, %zu random registry values, every run sound\n", nSeed,
           nRounds, nValues);
    RecordProperty("rounds", static_cast<int>(nRounds));
}

TEST_F(BadInputTest, RandomVersionResourcesAreReadWithinBoundsAndWellFormedOnesExactly) {
    const unsigned long nSeed = Setting("KORVANE_FUZZ_SEED", 20261208);
    const unsigned long nBlocks = Setting("KORVANE_FUZZ_ROUNDS", 300) * 10;
    Random random(nSeed);
    unsigned long nWellFormed = 0;
    for (unsigned long n = 0; n < nBlocks; ++n) {
        const Random::VersionSample sample = random.VersionBlock();
        files().SetVersionBlock(kWow64Directory + "MSHTML.DLL", sample.block);
        CMshtmlVersion version;
        const int nVersion = version.GetVersion();
        std::unique_ptr<BYTE[]> block(version.m_pData);
        version.m_pData = NULL;
        if (sample.nExpected) {
            ASSERT_EQ(nVersion, *sample.nExpected) << "seed " << nSeed << ", block " << n;
            ++nWellFormed;
        }
    }
    printf(
        "bad input: seed %lu, %lu random version blocks read within bounds, %lu well-formed ones "
        "exactly\n",
        nSeed, nBlocks, nWellFormed);
}

}  // namespace
