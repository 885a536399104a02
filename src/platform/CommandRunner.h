#pragma once

#include <windows.h>

// Runs "szApplication szArguments" as a child process and waits for it while keeping this
// thread's messages flowing. Returns the child's exit code, or the Win32 error when it could
// not be started or waited for. A bare program name is started from the system directory.
DWORD ExecuteCommand(LPCSTR szApplication, LPCSTR szArguments);

// Waits for hObject without a time limit, dispatching at most one message per wake-up.
// 0 when the object is signalled, otherwise the error of the failed wait.
DWORD WaitWithMessagePump(HANDLE hObject);

// Runs the DefaultUninstall section of an INF file through the system's INF engine.
// TRUE only when the engine ran and reported success.
BOOL RunInfDefaultUninstall(LPCSTR szInfPath);
