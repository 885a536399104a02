#include "Machine.h"
#include "PlatformTest.h"

std::vector<int> ProcessBitnesses() {
    return {32, 64};
}

std::shared_ptr<void> StartPlatform(int nBits) {
    // Shaped like the 64-bit Windows Wine runs the same cases on.
    sim::Shape shape;
    shape.b32BitProcess = nBits == 32;
    shape.windowsDirectory = "C:\\windows";
    return std::make_shared<sim::Machine>(shape);
}
