#include "removal/UninstallSequence.h"

#include <memory>

#include "log/PrintMessage.h"
#include "platform/VersionInfo.h"
#include "removal/DistributionUnit.h"
#include "removal/FileSweeps.h"
#include "removal/InfSweep.h"
#include "removal/KorvaneTables.h"

int UninstallKorvane() {
    PrintMessage("Started UninstallKorvane\n");

    CMshtmlVersion version;
    const int nVersion = version.GetVersion();
    // The version object never releases its block; this does, at the end.
    std::unique_ptr<BYTE[]> versionBlock(version.m_pData);
    PrintMessage("IE Version is: %d\n", nVersion);

    for (const DISTRIBUTION_UNIT& unit : g_DistributionUnits) {
        UninstallDistributionUnit(unit.szFileName, unit.szClsid);
    }

    PrintMessage("Final check and removal ...\n");
    ManualRunInfUninstall(FALSE);
    DeleteKorvaneFiles();
    DeleteKorvaneOSDFiles();

    PrintMessage("Leaving UninstallKorvane\n");
    version.m_pData = NULL;
    versionBlock.reset();
    return 0;
}
