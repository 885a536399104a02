// libFuzzer: the whole program on a machine with the toolkit installed, where the input decides
// the "SkipMsiCheck" settings, the units' "INF" and "OSD" values (type and bytes) and the
// installed component ids. The run must end, with exit code 0, and never touch memory it
// does not own.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "Machine.h"
#include "ProcessState.h"
#include "ToolkitInstallation.h"

int KorvaneUninstallMain(int argc, char* argv[]);

namespace {

void SetFuzzedValue(FuzzedDataProvider& input, sim::Machine& machine, const std::string& key,
                    const char* szName) {
    if (!input.ConsumeBool()) {
        return;
    }
    const DWORD dwType = input.ConsumeIntegralInRange<DWORD>(0, 12);
    const std::string bytes = input.ConsumeRandomLengthString(1000);
    machine.registry().SetValue(key, szName, dwType, sim::BytesOf(bytes));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The log is exercised in full but goes nowhere.
    if (freopen("/dev/null", "w", stdout) == NULL) {
        return 1;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    sim::Machine machine;
    ResetProcessState();
    ToolkitOptions options;
    options.bControlCache = input.ConsumeBool();
    InstallToolkit(machine, options);
    SetFuzzedValue(input, machine, "HKCU\\Software\\Velmor\\Korvane", "SkipMsiCheck");
    SetFuzzedValue(input, machine, "HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Korvane", "SkipMsiCheck");
    for (const char* szUnit :
         {"{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}", "{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}"}) {
        SetFuzzedValue(input, machine, kUnitsKey + szUnit + "\\DownloadInformation", "INF");
        SetFuzzedValue(input, machine, kUnitsKey + szUnit + "\\DownloadInformation", "OSD");
    }
    for (size_t n = input.ConsumeIntegralInRange<size_t>(0, 4); n > 0; --n) {
        machine.installer().components.push_back(input.ConsumeRandomLengthString(64));
    }
    std::string program = "KorvaneUninstall.exe";
    std::string argument = "/log";
    char* argv[] = {program.data(), argument.data(), nullptr};
    if (KorvaneUninstallMain(2, argv) != 0) {
        __builtin_trap();
    }
    return 0;
}
