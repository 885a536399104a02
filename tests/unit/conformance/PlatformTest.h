#pragma once
// Checks of the Win32 behaviour the program and the simulated machine rely on. The same cases
// run on the simulated machine (native build), in each shape below, and on Windows itself, or
// Wine, as the process each Windows build is (win32 in WoW64, win64): where the two differ, the
// simulation is wrong. Every expectation is what Windows does from XP SP3 to 11; where Wine
// differs, or the answer depends on the machine, the case says so and accepts both answers.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

// The machine a case runs on.
struct PlatformShape {
    int nProcessBits;
    bool b64BitWindows;
    // Whether the browser's control cache (OCCACHE.DLL) is installed: it comes with Internet
    // Explorer, so a real machine may or may not have it, and either answer holds there.
    std::optional<bool> bControlCache;

    bool Wow64() const { return b64BitWindows && nProcessBits == 32; }
    std::string Name() const;
};

// Google Test names the shape in its messages.
inline void PrintTo(const PlatformShape& shape, std::ostream* pStream) {
    *pStream << shape.Name();
}

// The shapes the cases run in: several on the simulated machine; on Windows, the machine's own.
std::vector<PlatformShape> PlatformShapes();

// What stands behind the Win32 functions for one case: a new simulated machine of that shape,
// or nothing on Windows itself.
std::shared_ptr<void> StartPlatform(const PlatformShape& shape);

// A folder of the cases' own, which each case gets new and empty and which goes with it: in the
// temporary folder on Windows.
std::string ScratchDirectory();

class PlatformTest : public ::testing::TestWithParam<PlatformShape> {
protected:
    PlatformTest();
    ~PlatformTest() override;

    const PlatformShape& Shape() const { return GetParam(); }
    bool Is32BitProcess() const { return GetParam().nProcessBits == 32; }

    // HKCU\Software\KorvaneConformance, created empty for each case.
    HKEY Scratch() const { return m_hScratch; }
    std::string ScratchPath(const char* szName) const { return ScratchDirectory() + "\\" + szName; }

private:
    std::shared_ptr<void> m_platform;
    HKEY m_hScratch = NULL;
};

// Each case of a suite once per shape, named by it.
#define KORVANE_PLATFORM_SUITE(suite)                   \
    INSTANTIATE_TEST_SUITE_P(                           \
        , suite, ::testing::ValuesIn(PlatformShapes()), \
        [](const ::testing::TestParamInfo<PlatformShape>& info) { return info.param.Name(); })
