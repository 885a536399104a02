// libFuzzer: the browser engine's version resource. Half the inputs are any bytes, which the
// reader must never read past and must answer with some number; the other half a well-formed
// resource around a fuzzed "FileVersion", whose major × 100 + minor it must read exactly.
#include <stddef.h>
#include <stdint.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <string>

#include "Machine.h"
#include "platform/VersionInfo.h"

namespace {

// Version parts wider than seven digits read as 9999999.
int64_t Capped(uint64_t nPart) {
    return nPart < 9999999 ? static_cast<int64_t>(nPart) : 9999999;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    sim::Machine machine;
    int64_t nExpected = -1;
    sim::Bytes block;
    if (input.ConsumeBool()) {
        const uint64_t nMajor = input.ConsumeIntegral<uint64_t>();
        const uint64_t nMinor = input.ConsumeIntegral<uint64_t>();
        const WORD wLanguage = input.ConsumeIntegral<WORD>();
        const WORD wCodePage = input.ConsumeIntegral<WORD>();
        const char* const separators[] = {".", ",", ", ", "-"};
        const std::string separator = separators[input.ConsumeIntegralInRange<size_t>(0, 3)];
        const std::string text = std::to_string(nMajor) + separator + std::to_string(nMinor) +
                                 separator + input.ConsumeRemainingBytesAsString();
        block = sim::VersionBlock(text, wLanguage, wCodePage);
        nExpected = Capped(nMajor) * 100 + Capped(nMinor);
    } else {
        const std::string bytes = input.ConsumeRemainingBytesAsString();
        block.assign(bytes.begin(), bytes.end());
    }
    machine.files().SetVersionBlock("C:\\WINDOWS\\SysWOW64\\MSHTML.DLL", block);

    CMshtmlVersion version;
    const int nVersion = version.GetVersion();
    std::unique_ptr<BYTE[]> owned(version.m_pData);
    version.m_pData = NULL;
    if (nExpected >= 0 && nVersion != nExpected) {
        __builtin_trap();
    }
    return 0;
}
