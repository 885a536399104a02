#pragma once

#include <windows.h>

// The system directory a 32-bit process works in: the Wow64 one on a 64-bit Windows, the
// ordinary one elsewhere. Returns the length stored in szBuffer, or 0 when no directory could
// be had or it would not fit nCapacity characters (the buffer then holds no directory).
UINT GetSystemDirectoryPreferWow64(LPSTR szBuffer, UINT nCapacity);

// GetWindowsDirectoryA, with a result that does not fit counted as failure (0).
UINT GetWindowsDirectoryChecked(LPSTR szBuffer, UINT nCapacity);

// GetSystemDirectoryA, with a result that does not fit counted as failure (0) and a reason in
// GetLastError() for every failure.
UINT GetSystemDirectoryChecked(LPSTR szBuffer, UINT nCapacity);

// The system directory, "\\" and szFileName composed into szPath. FALSE, with the error in
// GetLastError(), when the directory cannot be had or the path would not fit.
BOOL JoinSystemPath(LPCSTR szFileName, LPSTR szPath, UINT nCapacity);
