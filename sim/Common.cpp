// Text helpers of the simulated machine, and kernel32's string and last-error functions.
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>

#include "Machine.h"

namespace sim {

namespace {

int FoldChar(char c) {
    return toupper(static_cast<unsigned char>(c));
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = FoldChar(a[i]);
        const int cb = FoldChar(b[i]);
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(FoldChar(c));
    }
    return result;
}

Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace sim

extern "C" {

DWORD WINAPI GetLastError(void) {
    return sim::Machine::Current().LastError();
}

void WINAPI SetLastError(DWORD dwErrCode) {
    sim::Machine::Current().LastError() = dwErrCode;
}

DWORD WINAPI GetCurrentThreadId(void) {
    // One thread per simulated process.
    return 0x1F4;
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == NULL || lpString2 == NULL) {
        return lpString1 == lpString2 ? 0 : (lpString1 == NULL ? -1 : 1);
    }
    const std::string_view a(lpString1);
    const std::string_view b(lpString2);
    if (sim::EqualsIgnoreCase(a, b)) {
        return 0;
    }
    return sim::CaseInsensitiveLess()(a, b) ? -1 : 1;
}

int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString == NULL ? 0 : static_cast<int>(strlen(lpString));
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    return strcpy(lpString1, lpString2);
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    return strcat(lpString1, lpString2);
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    // wsprintfA never fills more than 1024 bytes, terminator included.
    va_list args;
    va_start(args, lpFmt);
    const int nLength = vsnprintf(lpOut, 1024, lpFmt, args);
    va_end(args);
    return nLength > 1023 ? 1023 : nLength;
}

}  // extern "C"
