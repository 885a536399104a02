#include "Machine.h"
#include "PlatformTest.h"

std::shared_ptr<void> StartPlatform() {
    // Shaped like the 64-bit process Wine runs the same cases in.
    sim::Shape shape;
    shape.b32BitProcess = false;
    shape.windowsDirectory = "C:\\windows";
    return std::make_shared<sim::Machine>(shape);
}
