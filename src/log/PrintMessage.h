#pragma once

#include <windows.h>

#if defined(__GNUC__)
#define KORVANE_PRINTF_FORMAT(nFormat, nFirst) __attribute__((format(printf, nFormat, nFirst)))
#else
#define KORVANE_PRINTF_FORMAT(nFormat, nFirst)
#endif

// The progress log is on until the quiet switch clears this; it is never set again.
extern BOOL g_bVerbose;

// Formats and writes one message to standard output, which holds it when this returns. The
// finished text is written as is, so a percent sign inside an inserted path is printed literally.
void PrintMessage(const char* szFormat, ...) KORVANE_PRINTF_FORMAT(1, 2);
