#pragma once

#include <windows.h>

#include <initializer_list>

// Concatenates the parts into szBuffer. When the result with its terminator would not fit
// nCapacity characters, the buffer is left empty and FALSE is returned.
BOOL JoinStrings(LPSTR szBuffer, size_t nCapacity, std::initializer_list<LPCSTR> parts);
