#include "PlatformTest.h"

std::shared_ptr<void> StartPlatform() {
    return nullptr;
}
