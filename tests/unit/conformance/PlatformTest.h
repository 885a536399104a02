#pragma once
// Checks of the Win32 behaviour the program and the simulated machine rely on. The same cases
// run on the simulated machine (native build) and on Wine (win64 build): where the two differ,
// the simulation is wrong.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

// What stands behind the Win32 functions for one case: a new simulated machine shaped like Wine's
// 64-bit process, or nothing on Windows itself.
std::shared_ptr<void> StartPlatform();

class PlatformTest : public ::testing::Test {
public:
    // C:\korvane-conformance, created for each case.
    static const char* ScratchDirectory() { return "C:\\korvane-conformance"; }

protected:
    PlatformTest();
    ~PlatformTest() override;

    // HKCU\Software\KorvaneConformance, created empty for each case.
    HKEY Scratch() const { return m_hScratch; }

private:
    std::shared_ptr<void> m_platform;
    HKEY m_hScratch = NULL;
};
