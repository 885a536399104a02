#include "PlatformTest.h"

std::vector<int> ProcessBitnesses() {
    return {static_cast<int>(sizeof(void*) * 8)};
}

std::shared_ptr<void> StartPlatform(int /*nBits*/) {
    return nullptr;
}
