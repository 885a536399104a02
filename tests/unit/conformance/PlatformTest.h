#pragma once
// Checks of the Win32 behaviour the program and the simulated machine rely on. The same cases
// run on the simulated machine (native build), shaped as a 32-bit process in WoW64 and as a
// 64-bit process, and on Wine as the process each Windows build is (win32 in WoW64, win64):
// where the two differ, the simulation is wrong.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The process bitnesses the cases run as: both on the simulated machine, the build's own on
// Windows.
std::vector<int> ProcessBitnesses();

// What stands behind the Win32 functions for one case: a new simulated machine shaped like
// Wine's 64-bit Windows with a process of nBits, or nothing on Windows itself.
std::shared_ptr<void> StartPlatform(int nBits);

class PlatformTest : public ::testing::TestWithParam<int> {
public:
    // C:\korvane-conformance, created for each case.
    static const char* ScratchDirectory() { return "C:\\korvane-conformance"; }

protected:
    PlatformTest();
    ~PlatformTest() override;

    bool Is32BitProcess() const { return GetParam() == 32; }

    // HKCU\Software\KorvaneConformance, created empty for each case.
    HKEY Scratch() const { return m_hScratch; }

private:
    std::shared_ptr<void> m_platform;
    HKEY m_hScratch = NULL;
};

// Each case of a suite once per process bitness, named by it.
#define KORVANE_PLATFORM_SUITE(suite)                                              \
    INSTANTIATE_TEST_SUITE_P(, suite, ::testing::ValuesIn(ProcessBitnesses()),     \
                             [](const ::testing::TestParamInfo<int>& info) {       \
                                 return std::to_string(info.param) + "BitProcess"; \
                             })
