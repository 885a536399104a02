#pragma once

#include <windows.h>

// Walks the toolkit's INF files in the Windows INF folder and deletes those present; unless
// bDeleteOnly, first runs the DefaultUninstall section of those whose row says so. Returns
// FALSE when the Windows directory cannot be had or a section fails (the sweep then ends
// there, leaving that file), TRUE when every row was visited.
BOOL ManualRunInfUninstall(BOOL bDeleteOnly);
