#include "Machine.h"
#include "PlatformTest.h"

std::vector<PlatformShape> PlatformShapes() {
    // The two processes of 64-bit Windows without Internet Explorer's control cache, as on Wine;
    // a 32-bit process on 64-bit Windows with it; 32-bit Windows, as XP was, with it.
    return {{32, true, false}, {64, true, false}, {32, true, true}, {32, false, true}};
}

std::shared_ptr<void> StartPlatform(const PlatformShape& shape) {
    sim::Shape machineShape;
    machineShape.b32BitProcess = shape.nProcessBits == 32;
    machineShape.b64BitWindows = shape.b64BitWindows;
    machineShape.windowsDirectory = "C:\\windows";
    auto machine = std::make_shared<sim::Machine>(machineShape);
    if (shape.bControlCache.value_or(false)) {
        machine->files().SetModule(machine->ProcessSystemDirectory() + "\\OCCACHE.DLL",
                                   sim::ControlCacheImage());
    }
    return machine;
}

std::string ScratchDirectory() {
    return "C:\\korvane-conformance";
}
