#include "platform/StringJoin.h"

BOOL JoinStrings(LPSTR szBuffer, size_t nCapacity, std::initializer_list<LPCSTR> parts) {
    if (nCapacity == 0) {
        return FALSE;
    }
    size_t nLength = 0;
    for (LPCSTR szPart : parts) {
        nLength += static_cast<size_t>(lstrlenA(szPart));
    }
    szBuffer[0] = '\0';
    if (nLength >= nCapacity) {
        return FALSE;
    }
    for (LPCSTR szPart : parts) {
        lstrcatA(szBuffer, szPart);
    }
    return TRUE;
}
