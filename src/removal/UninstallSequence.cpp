#include "removal/UninstallSequence.h"

int UninstallKorvane() {
    return 0;
}
