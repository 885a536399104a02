// libFuzzer: the whole program on a machine with the toolkit installed, where the input decides
// the "SkipMsiCheck" settings, the units' "INF" and "OSD" values (type and bytes) and the
// installed component ids. The run must end with its last line, every line of its log must
// have a known shape, nothing that is not the toolkit's may change, and no memory it does not
// own may be touched.
#include <stddef.h>
#include <stdint.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <string>
#include <vector>

#include "Console.h"
#include "LogShape.h"
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
    std::string bytes = input.ConsumeRandomLengthString(1000);
    // A path is logged as it stands: a line end in it would start a line of its own.
    for (char& c : bytes) {
        c = c == '\n' || c == '\r' ? 'x' : c;
    }
    machine.registry().SetValue(key, szName, dwType, sim::BytesOf(bytes));
}

}  // namespace

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
    const std::map<std::string, std::string> othersBefore = NotTheToolkits(machine);

    std::string program = "KorvaneUninstall.exe";
    std::string argument = "/log";
    char* argv[] = {program.data(), argument.data(), nullptr};
    std::string log;
    {
        sim::CapturedStdout out;
        KorvaneUninstallMain(2, argv);
        log = out.Text();
    }
    const bool bRefused = log.find("please use Add/Remove Programs") != std::string::npos;
    const std::string lastLine = bRefused ? "remove Korvane\n" : "\nLeaving UninstallKorvane\n";
    if (log.size() < lastLine.size() ||
        log.compare(log.size() - lastLine.size(), lastLine.size(), lastLine) != 0 ||
        !MalformedLines(log).empty() || NotTheToolkits(machine) != othersBefore) {
        __builtin_trap();
    }
    return 0;
}
