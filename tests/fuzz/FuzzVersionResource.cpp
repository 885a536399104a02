// libFuzzer: any bytes as the browser engine's version resource. The reader must never read
// past the block and never fail in any other way than answering 0.
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "Machine.h"
#include "platform/VersionInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    sim::Machine machine;
    machine.files().SetVersionBlock("C:\\WINDOWS\\SysWOW64\\MSHTML.DLL",
                                    sim::Bytes(pData, pData + nSize));
    CMshtmlVersion version;
    const int nVersion = version.GetVersion();
    std::unique_ptr<BYTE[]> block(version.m_pData);
    version.m_pData = NULL;
    if (nVersion < 0) {
        __builtin_trap();
    }
    return 0;
}
