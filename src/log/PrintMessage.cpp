#include "log/PrintMessage.h"

#include <stdarg.h>
#include <stdio.h>

#include <memory>

BOOL g_bVerbose = TRUE;

void PrintMessage(const char* szFormat, ...) {
    if (!g_bVerbose) {
        return;
    }

    size_t nSize = 512;
    for (;;) {
        std::unique_ptr<char[]> szText(new char[nSize]);
        va_list args;
        va_start(args, szFormat);
        const int nLength = vsnprintf(szText.get(), nSize, szFormat, args);
        va_end(args);
        if (nLength < 0) {
            // Only an encoding error yields this; a larger buffer would not cure it.
            return;
        }
        if (static_cast<size_t>(nLength) < nSize) {
            fputs(szText.get(), stdout);
            // Redirected output is fully buffered: without this, a run that a deployment tool
            // kills while an INF section hangs would leave an empty log behind.
            fflush(stdout);
            return;
        }
        // Doubled until the text fits; the sizes in between would only format it again.
        while (nSize <= static_cast<size_t>(nLength)) {
            nSize *= 2;
        }
    }
}
